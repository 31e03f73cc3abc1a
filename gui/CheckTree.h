#pragma once
// A tree with its own check boxes. In smart-check mode a folder's box follows
// its descendants (checked when every enabled one is, unchecked when none is,
// partly checked otherwise) and checking a folder checks its whole subtree.
// Disabled items ignore clicks and Space and cannot be selected. Children can
// be loaded when a folder is first opened (SetChildrenLoader), which keeps
// large trees cheap.

#include <QAbstractItemModel>
#include <QColor>
#include <QIcon>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace tarnwell {

// One item's state, as the control keeps it.
struct CheckItemState {
    bool checked = false;
    bool enabled = true;
    bool separator = false;
    bool expanded = false;
    bool expandedOnce = false;
    int descendants = 0;
    int checkedDescendants = 0;
    int disabledDescendants = 0;
    std::optional<QColor> textColor;
    std::optional<QColor> backgroundColor;
    bool bold = false, italic = false, underline = false, strikeOut = false;
    QString toolTip;
};

// An item of the tree; its handle is its address.
struct CheckTreeNode {
    QString text;
    QIcon icon;
    quint64 data = 0;
    CheckItemState state;
    CheckTreeNode* parent = nullptr;
    std::vector<std::unique_ptr<CheckTreeNode>> children;
    int row = 0;
    bool mayHaveChildren = false;
    bool fetched = false;
};
using TreeItem = CheckTreeNode*;

// What a new item is made of.
struct NewCheckItem {
    QString text;
    QIcon icon;
    quint64 data = 0;
    bool checked = false;
    bool enabled = true;
    std::optional<QColor> textColor;
    bool mayHaveChildren = false;  // shows an expander; children come from the loader
};

class CheckTreeModel;

class CheckTree : public QTreeView {
    Q_OBJECT
public:
    enum ExpandAction { Collapse = 1, ExpandIt = 2, Toggle = 3 };

    explicit CheckTree(QWidget* parent = nullptr);
    ~CheckTree() override;

    // Deletes every item and resets the settings: check boxes on, smart check
    // off, read-only off, select on check on.
    void Initialize(bool checkBoxes = true, bool smartCheck = false);
    void SetSmartCheck(bool on) { smartCheck_ = on; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool SmartCheck() const { return smartCheck_; }

    TreeItem InsertItem(const QString& text, const QIcon& icon = {}, TreeItem parent = nullptr);
    TreeItem InsertItem(const NewCheckItem& newItem, TreeItem parent = nullptr);
    // Many children at once, as the last children of parent.
    void InsertItems(const std::vector<NewCheckItem>& newItems, TreeItem parent);

    bool SetCheck(TreeItem item, bool check);
    bool GetCheck(TreeItem item) const;
    // 1 unchecked, 2 checked, 3 partly checked; plus 4 when disabled.
    int StateImage(TreeItem item) const;
    Qt::CheckState CheckState(TreeItem item) const;
    void EnableItem(TreeItem item, bool enabled);
    QColor SetItemTextColor(TreeItem item, const QColor& color);
    bool SetItemText(TreeItem item, const QString& text);
    bool Expand(TreeItem item, ExpandAction action);
    void SelectItem(TreeItem item);
    void DeleteItem(TreeItem item);
    void DeleteAllItems();

    TreeItem GetRootItem() const;
    TreeItem GetChildItem(TreeItem item) const;
    TreeItem GetNextSiblingItem(TreeItem item) const;
    TreeItem GetParentItem(TreeItem item) const;
    TreeItem GetSelectedItem() const;
    std::vector<TreeItem> Children(TreeItem item) const;
    QString GetItemText(TreeItem item) const;
    quint64 GetItemData(TreeItem item) const;
    const CheckItemState* Data(TreeItem item) const;
    bool IsItem(TreeItem item) const;

    // The loader inserts an item's children the first time it is opened.
    void SetChildrenLoader(std::function<void(TreeItem)> loader) { loader_ = std::move(loader); }
    // Loads the item's children now if they are not loaded yet.
    void EnsureChildren(TreeItem item);

    QModelIndex IndexOf(TreeItem item) const;
    TreeItem ItemOf(const QModelIndex& index) const;
    CheckTreeModel* Model() const { return model_; }

signals:
    void checkboxClicked(tarnwell::TreeItem item, bool checked);
    void itemExpanded(tarnwell::TreeItem item, bool expanded);
    void labelClicked(tarnwell::TreeItem item);
    void itemDoubleClicked(tarnwell::TreeItem item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class CheckTreeModel;
    void AddToAncestors(TreeItem item, int descendants, int disabled, int checkedDelta);
    void UpdateAncestors(TreeItem item, int delta);
    int CheckSubtree(TreeItem item, bool check);
    void Changed(TreeItem item);
    void ChangedSubtree(TreeItem item);
    void RemoveCounts(TreeItem item);
    enum class Hit { Nowhere, Box, Label, Elsewhere };
    Hit HitTest(const QModelIndex& index, const QPoint& pos) const;
    TreeItem pressedBox_ = nullptr;

    CheckTreeModel* model_;
    std::function<void(TreeItem)> loader_;
    bool checkBoxes_ = true;
    bool smartCheck_ = false;
    bool readOnly_ = false;
    bool selectOnCheck_ = true;
    bool deletingAll_ = false;
    int inserting_ = 0;
};

// The model behind the tree; items are its nodes.
class CheckTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit CheckTreeModel(CheckTree& tree);
    ~CheckTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& = {}) const override { return 1; }
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    friend class CheckTree;
    CheckTreeNode* Node(const QModelIndex& index) const;
    QModelIndex IndexOf(CheckTreeNode* node) const;
    int RowOf(CheckTreeNode* node) const;

    CheckTree& tree_;
    std::unique_ptr<CheckTreeNode> root_;  // invisible; its children are the root items
    std::unordered_set<CheckTreeNode*> live_;
};

}  // namespace tarnwell
