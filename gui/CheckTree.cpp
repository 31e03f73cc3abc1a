#include "gui/CheckTree.h"

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QStyleOptionViewItem>

#include <algorithm>

namespace tarnwell {

namespace {
// Draws as usual but leaves the boxes alone: the control toggles them itself.
class BoxDrawingDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override {
        return false;
    }
};
}  // namespace


// ---- model ---------------------------------------------------------------

CheckTreeModel::CheckTreeModel(CheckTree& tree) : QAbstractItemModel(&tree), tree_(tree), root_(new CheckTreeNode) {}
CheckTreeModel::~CheckTreeModel() = default;

CheckTreeNode* CheckTreeModel::Node(const QModelIndex& index) const {
    return index.isValid() ? static_cast<CheckTreeNode*>(index.internalPointer()) : root_.get();
}

QModelIndex CheckTreeModel::IndexOf(CheckTreeNode* node) const {
    if (!node || node == root_.get()) return {};
    return createIndex(node->row, 0, node);
}

QModelIndex CheckTreeModel::index(int row, int column, const QModelIndex& parent) const {
    CheckTreeNode* p = Node(parent);
    if (column != 0 || row < 0 || row >= static_cast<int>(p->children.size())) return {};
    return createIndex(row, 0, p->children[row].get());
}

QModelIndex CheckTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    return IndexOf(Node(child)->parent);
}

int CheckTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    return static_cast<int>(Node(parent)->children.size());
}

bool CheckTreeModel::hasChildren(const QModelIndex& parent) const {
    CheckTreeNode* n = Node(parent);
    return !n->children.empty() || (n->mayHaveChildren && !n->fetched);
}

bool CheckTreeModel::canFetchMore(const QModelIndex& parent) const {
    CheckTreeNode* n = Node(parent);
    return n != root_.get() && n->mayHaveChildren && !n->fetched;
}

void CheckTreeModel::fetchMore(const QModelIndex& parent) {
    CheckTreeNode* n = Node(parent);
    if (n == root_.get() || n->fetched) return;
    if (tree_.inserting_ > 0) {
        // Asked from inside another insertion (a view or tester reacting to it):
        // load once that one is done, so insertions never nest.
        QMetaObject::invokeMethod(
            this,
            [this, n] {
                if (!tree_.IsItem(n)) return;
                QModelIndex index = IndexOf(n);
                if (canFetchMore(index)) fetchMore(index);
            },
            Qt::QueuedConnection);
        return;
    }
    n->fetched = true;
    if (tree_.loader_) tree_.loader_(n);
    if (n->children.empty()) {
        // Nothing there after all: the expander goes.
        emit dataChanged(parent, parent);
    }
}

QVariant CheckTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    CheckTreeNode* n = Node(index);
    const CheckItemState& s = n->state;
    switch (role) {
        case Qt::DisplayRole: return n->text;
        case Qt::DecorationRole: return n->icon;
        case Qt::ToolTipRole: return s.toolTip.isEmpty() ? n->text : s.toolTip;
        case Qt::CheckStateRole:
            if (!tree_.checkBoxes_ || s.separator) return {};
            return static_cast<int>(tree_.CheckState(n));
        case Qt::ForegroundRole:
            if (!s.enabled) return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
            if (s.textColor) return *s.textColor;
            return {};
        case Qt::BackgroundRole:
            if (s.backgroundColor) return *s.backgroundColor;
            return {};
        case Qt::FontRole: {
            if (!(s.bold || s.italic || s.underline || s.strikeOut)) return {};
            QFont f = tree_.font();
            f.setBold(s.bold);
            f.setItalic(s.italic);
            f.setUnderline(s.underline);
            f.setStrikeOut(s.strikeOut);
            return f;
        }
        default: return {};
    }
}

bool CheckTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid()) return false;
    return tree_.SetCheck(Node(index), value.toInt() == Qt::Checked);
}

Qt::ItemFlags CheckTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const CheckItemState& s = Node(index)->state;
    if (!s.enabled) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (tree_.checkBoxes_ && !tree_.readOnly_ && !s.separator) f |= Qt::ItemIsUserCheckable;
    return f;
}

// ---- control ---------------------------------------------------------------

CheckTree::CheckTree(QWidget* parent) : QTreeView(parent), model_(new CheckTreeModel(*this)) {
    setModel(model_);
    setItemDelegate(new BoxDrawingDelegate(this));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setDragEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        TreeItem item = ItemOf(index);
        if (!item || item->state.expanded) return;
        item->state.expanded = item->state.expandedOnce = true;
        emit itemExpanded(item, true);
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        TreeItem item = ItemOf(index);
        if (!item || !item->state.expanded) return;
        item->state.expanded = false;
        emit itemExpanded(item, false);
    });
}

CheckTree::~CheckTree() = default;

void CheckTree::Initialize(bool checkBoxes, bool smartCheck) {
    DeleteAllItems();
    checkBoxes_ = checkBoxes;
    smartCheck_ = smartCheck;
    readOnly_ = false;
    selectOnCheck_ = true;
}

bool CheckTree::IsItem(TreeItem item) const { return item && model_->live_.count(item) > 0; }

QModelIndex CheckTree::IndexOf(TreeItem item) const { return IsItem(item) ? model_->IndexOf(item) : QModelIndex(); }

TreeItem CheckTree::ItemOf(const QModelIndex& index) const {
    return index.isValid() && index.model() == model_ ? model_->Node(index) : nullptr;
}

TreeItem CheckTree::InsertItem(const QString& text, const QIcon& icon, TreeItem parent) {
    NewCheckItem newItem;
    newItem.text = text;
    newItem.icon = icon;
    return InsertItem(newItem, parent);
}

TreeItem CheckTree::InsertItem(const NewCheckItem& newItem, TreeItem parent) {
    InsertItems({newItem}, parent);
    CheckTreeNode* p = parent ? parent : model_->root_.get();
    return p->children.empty() ? nullptr : p->children.back().get();
}

void CheckTree::InsertItems(const std::vector<NewCheckItem>& newItems, TreeItem parent) {
    if (newItems.empty() || deletingAll_ || (parent && !IsItem(parent))) return;
    CheckTreeNode* p = parent ? parent : model_->root_.get();
    const int first = static_cast<int>(p->children.size());
    int checked = 0, disabled = 0;
    ++inserting_;
    model_->beginInsertRows(model_->IndexOf(p), first, first + static_cast<int>(newItems.size()) - 1);
    for (const NewCheckItem& newItem : newItems) {
        auto node = std::make_unique<CheckTreeNode>();
        node->text = newItem.text;
        node->icon = newItem.icon;
        node->data = newItem.data;
        node->parent = p;
        node->row = static_cast<int>(p->children.size());
        node->mayHaveChildren = newItem.mayHaveChildren;
        node->state.checked = newItem.checked && checkBoxes_;
        node->state.enabled = newItem.enabled;
        node->state.textColor = newItem.textColor;
        checked += node->state.checked ? 1 : 0;
        disabled += newItem.enabled ? 0 : 1;
        model_->live_.insert(node.get());
        p->children.push_back(std::move(node));
    }
    p->fetched = true;  // children given by hand count as loaded
    model_->endInsertRows();
    --inserting_;
    if (smartCheck_ && p != model_->root_.get())
        AddToAncestors(p, static_cast<int>(newItems.size()), disabled, checked);
}

void CheckTree::AddToAncestors(TreeItem from, int descendants, int disabled, int checkedDelta) {
    for (CheckTreeNode* a = from; a && a != model_->root_.get(); a = a->parent) {
        a->state.descendants += descendants;
        a->state.disabledDescendants += disabled;
    }
    UpdateAncestors(from, checkedDelta);
}

// Brings the counts and flags of from and every ancestor above it up to date
// after delta items below from changed their check.
void CheckTree::UpdateAncestors(TreeItem from, int delta) {
    for (CheckTreeNode* a = from; a && a != model_->root_.get(); a = a->parent) {
        CheckItemState& s = a->state;
        s.checkedDescendants = std::max(0, s.checkedDescendants + delta);
        const bool was = s.checked;
        const int checkable = s.descendants - s.disabledDescendants;
        s.checked = s.checkedDescendants > 0 && s.checkedDescendants == checkable;
        if (s.checked != was) delta += s.checked ? 1 : -1;
        Changed(a);
    }
}

// Sets item and its enabled descendants to check; returns how many flags changed.
int CheckTree::CheckSubtree(TreeItem item, bool check) {
    int changed = 0;
    for (auto& child : item->children) {
        if (!child->state.enabled || child->state.separator) continue;
        changed += CheckSubtree(child.get(), check);
    }
    CheckItemState& s = item->state;
    if (s.checked != check) ++changed;
    s.checked = check;
    s.checkedDescendants = check ? std::max(0, s.descendants - s.disabledDescendants) : 0;
    if (!item->children.empty())
        emit model_->dataChanged(model_->IndexOf(item->children.front().get()),
                                 model_->IndexOf(item->children.back().get()), {Qt::CheckStateRole});
    return changed;
}

void CheckTree::Changed(TreeItem item) {
    QModelIndex index = model_->IndexOf(item);
    if (index.isValid()) emit model_->dataChanged(index, index);
}

bool CheckTree::SetCheck(TreeItem item, bool check) {
    if (!checkBoxes_ || deletingAll_ || !IsItem(item) || !item->state.enabled || item->state.separator) return false;
    const bool old = item->state.checked;
    if (!smartCheck_) {
        item->state.checked = check;
    } else if (old != check || CheckState(item) == Qt::PartiallyChecked) {
        // A partly checked folder whose own flag already matches still takes the
        // check down its subtree.
        int changed = CheckSubtree(item, check);
        UpdateAncestors(item->parent, check ? changed : -changed);
    }
    Changed(item);
    emit checkboxClicked(item, check);
    return true;
}

bool CheckTree::GetCheck(TreeItem item) const {
    if (!checkBoxes_ || !IsItem(item)) return false;
    const CheckItemState& s = item->state;
    if (!smartCheck_ || s.descendants == 0) return s.checked;
    return s.checkedDescendants > 0 && s.checkedDescendants == s.descendants - s.disabledDescendants;
}

int CheckTree::StateImage(TreeItem item) const {
    if (!IsItem(item)) return 0;
    const CheckItemState& s = item->state;
    int image;
    if (smartCheck_ && s.descendants > 0) {
        if (s.checkedDescendants == 0) image = 1;
        else if (s.checkedDescendants == s.descendants - s.disabledDescendants) image = 2;
        else image = 3;
    } else {
        image = s.checked ? 2 : 1;
    }
    return image + (s.enabled ? 0 : 4);
}

Qt::CheckState CheckTree::CheckState(TreeItem item) const {
    switch (StateImage(item) & 3) {
        case 2: return Qt::Checked;
        case 3: return Qt::PartiallyChecked;
        default: return Qt::Unchecked;
    }
}

void CheckTree::EnableItem(TreeItem item, bool enabled) {
    if (!IsItem(item) || item->state.enabled == enabled) return;
    item->state.enabled = enabled;
    if (smartCheck_)
        for (CheckTreeNode* a = item->parent; a && a != model_->root_.get(); a = a->parent)
            a->state.disabledDescendants = std::max(0, a->state.disabledDescendants + (enabled ? -1 : 1));
    if (smartCheck_) UpdateAncestors(item->parent, 0);
    Changed(item);
}

QColor CheckTree::SetItemTextColor(TreeItem item, const QColor& color) {
    if (!IsItem(item)) return {};
    QColor old = item->state.textColor.value_or(QColor());
    item->state.textColor = color;
    Changed(item);
    return old;
}

bool CheckTree::SetItemText(TreeItem item, const QString& text) {
    if (!IsItem(item)) return false;
    item->text = text;
    Changed(item);
    return true;
}

bool CheckTree::Expand(TreeItem item, ExpandAction action) {
    if (!IsItem(item)) return false;
    CheckItemState& s = item->state;
    const bool open = action == ExpandIt || (action == Toggle && !s.expanded);
    if (open != s.expanded) {
        s.expanded = open;
        if (open) s.expandedOnce = true;
        emit itemExpanded(item, open);
    }
    QModelIndex index = model_->IndexOf(item);
    if (open) {
        EnsureChildren(item);
        expand(index);
    } else {
        collapse(index);
    }
    return true;
}

void CheckTree::EnsureChildren(TreeItem item) {
    QModelIndex index = IndexOf(item);
    if (index.isValid() && model_->canFetchMore(index)) model_->fetchMore(index);
}

void CheckTree::SelectItem(TreeItem item) {
    if (!IsItem(item) || !item->state.enabled) return;
    setCurrentIndex(model_->IndexOf(item));
}

void CheckTree::RemoveCounts(TreeItem item) {
    if (!smartCheck_) return;
    for (CheckTreeNode* a = item->parent; a && a != model_->root_.get(); a = a->parent) {
        a->state.descendants = std::max(0, a->state.descendants - 1);
        if (!item->state.enabled) a->state.disabledDescendants = std::max(0, a->state.disabledDescendants - 1);
    }
    // An unchecked item leaves its ancestors' checks as they were.
    if (item->state.checked) UpdateAncestors(item->parent, -1);
}

void CheckTree::DeleteItem(TreeItem item) {
    if (deletingAll_ || !IsItem(item)) return;
    while (!item->children.empty()) DeleteItem(item->children.back().get());
    CheckTreeNode* p = item->parent;
    RemoveCounts(item);
    const int row = item->row;
    model_->beginRemoveRows(model_->IndexOf(p), row, row);
    model_->live_.erase(item);
    p->children.erase(p->children.begin() + row);
    for (std::size_t i = row; i < p->children.size(); ++i) p->children[i]->row = static_cast<int>(i);
    model_->endRemoveRows();
}

void CheckTree::DeleteAllItems() {
    deletingAll_ = true;
    model_->beginResetModel();
    model_->root_->children.clear();
    model_->live_.clear();
    model_->endResetModel();
    deletingAll_ = false;
}

TreeItem CheckTree::GetRootItem() const {
    auto& c = model_->root_->children;
    return c.empty() ? nullptr : c.front().get();
}

TreeItem CheckTree::GetChildItem(TreeItem item) const {
    if (!IsItem(item) || item->children.empty()) return nullptr;
    return item->children.front().get();
}

TreeItem CheckTree::GetNextSiblingItem(TreeItem item) const {
    if (!IsItem(item)) return nullptr;
    auto& siblings = item->parent->children;
    return item->row + 1 < static_cast<int>(siblings.size()) ? siblings[item->row + 1].get() : nullptr;
}

TreeItem CheckTree::GetParentItem(TreeItem item) const {
    if (!IsItem(item) || item->parent == model_->root_.get()) return nullptr;
    return item->parent;
}

TreeItem CheckTree::GetSelectedItem() const { return ItemOf(currentIndex()); }

std::vector<TreeItem> CheckTree::Children(TreeItem item) const {
    std::vector<TreeItem> out;
    if (!IsItem(item)) return out;
    for (auto& c : item->children) out.push_back(c.get());
    return out;
}

QString CheckTree::GetItemText(TreeItem item) const { return IsItem(item) ? item->text : QString(); }
quint64 CheckTree::GetItemData(TreeItem item) const { return IsItem(item) ? item->data : 0; }
const CheckItemState* CheckTree::Data(TreeItem item) const { return IsItem(item) ? &item->state : nullptr; }

CheckTree::Hit CheckTree::HitTest(const QModelIndex& index, const QPoint& pos) const {
    if (!index.isValid()) return Hit::Nowhere;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    const QVariant check = model_->data(index, Qt::CheckStateRole);
    if (check.isValid()) {
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        option.checkState = static_cast<Qt::CheckState>(check.toInt());
    }
    option.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    option.text = model_->data(index, Qt::DisplayRole).toString();
    option.icon = qvariant_cast<QIcon>(model_->data(index, Qt::DecorationRole));
    option.index = index;
    if (check.isValid() && style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this).contains(pos))
        return Hit::Box;
    if (style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this).contains(pos)) return Hit::Label;
    return Hit::Elsewhere;
}

void CheckTree::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    TreeItem item = ItemOf(index);
    const Hit hit = HitTest(index, pos);
    pressedBox_ = event->button() == Qt::LeftButton && hit == Hit::Box ? item : nullptr;
    if (pressedBox_ && !selectOnCheck_) return;
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && item && item->state.enabled && hit == Hit::Label) emit labelClicked(item);
}

void CheckTree::mouseReleaseEvent(QMouseEvent* event) {
    TreeItem pressed = pressedBox_;
    pressedBox_ = nullptr;
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    QTreeView::mouseReleaseEvent(event);
    if (pressed && ItemOf(index) == pressed && IsItem(pressed) && HitTest(index, pos) == Hit::Box && !readOnly_ &&
        pressed->state.enabled)
        SetCheck(pressed, !GetCheck(pressed));
}

void CheckTree::mouseDoubleClickEvent(QMouseEvent* event) {
    TreeItem item = ItemOf(indexAt(event->position().toPoint()));
    if (item && !item->state.enabled) return;  // a disabled item swallows it
    QTreeView::mouseDoubleClickEvent(event);
    if (item) emit itemDoubleClicked(item);
}

void CheckTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        TreeItem item = GetSelectedItem();
        if (item && !readOnly_ && item->state.enabled && !item->state.separator) SetCheck(item, !GetCheck(item));
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace tarnwell
