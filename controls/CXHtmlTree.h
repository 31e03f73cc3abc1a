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
struct XHTMLTREEDATA {
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
struct XTreeNode {
    QString text;
    QIcon icon;
    quint64 data = 0;
    XHTMLTREEDATA state;
    XTreeNode* parent = nullptr;
    std::vector<std::unique_ptr<XTreeNode>> children;
    int row = 0;
    bool mayHaveChildren = false;
    bool fetched = false;
};
using HTREEITEM = XTreeNode*;

// What a new item is made of.
struct XTreeNewItem {
    QString text;
    QIcon icon;
    quint64 data = 0;
    bool checked = false;
    bool enabled = true;
    std::optional<QColor> textColor;
    bool mayHaveChildren = false;  // shows an expander; children come from the loader
};

class XHtmlTreeModel;

class CXHtmlTree : public QTreeView {
    Q_OBJECT
public:
    enum ExpandAction { Collapse = 1, ExpandIt = 2, Toggle = 3 };

    explicit CXHtmlTree(QWidget* parent = nullptr);
    ~CXHtmlTree() override;

    // Deletes every item and resets the settings: check boxes on, smart check
    // off, read-only off, select on check on.
    void Initialize(bool checkBoxes = true, bool smartCheck = false);
    void SetSmartCheck(bool on) { smartCheck_ = on; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool SmartCheck() const { return smartCheck_; }

    HTREEITEM InsertItem(const QString& text, const QIcon& icon = {}, HTREEITEM parent = nullptr);
    HTREEITEM InsertItem(const XTreeNewItem& newItem, HTREEITEM parent = nullptr);
    // Many children at once, as the last children of parent.
    void InsertItems(const std::vector<XTreeNewItem>& newItems, HTREEITEM parent);

    bool SetCheck(HTREEITEM item, bool check);
    bool GetCheck(HTREEITEM item) const;
    // 1 unchecked, 2 checked, 3 partly checked; plus 4 when disabled.
    int StateImage(HTREEITEM item) const;
    Qt::CheckState CheckState(HTREEITEM item) const;
    void EnableItem(HTREEITEM item, bool enabled);
    QColor SetItemTextColor(HTREEITEM item, const QColor& color);
    bool SetItemText(HTREEITEM item, const QString& text);
    bool Expand(HTREEITEM item, ExpandAction action);
    void SelectItem(HTREEITEM item);
    void DeleteItem(HTREEITEM item);
    void DeleteAllItems();

    HTREEITEM GetRootItem() const;
    HTREEITEM GetChildItem(HTREEITEM item) const;
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
    HTREEITEM GetParentItem(HTREEITEM item) const;
    HTREEITEM GetSelectedItem() const;
    std::vector<HTREEITEM> Children(HTREEITEM item) const;
    QString GetItemText(HTREEITEM item) const;
    quint64 GetItemData(HTREEITEM item) const;
    const XHTMLTREEDATA* Data(HTREEITEM item) const;
    bool IsItem(HTREEITEM item) const;

    // The loader inserts an item's children the first time it is opened.
    void SetChildrenLoader(std::function<void(HTREEITEM)> loader) { loader_ = std::move(loader); }
    // Loads the item's children now if they are not loaded yet.
    void EnsureChildren(HTREEITEM item);

    QModelIndex IndexOf(HTREEITEM item) const;
    HTREEITEM ItemOf(const QModelIndex& index) const;
    XHtmlTreeModel* Model() const { return model_; }

signals:
    void checkboxClicked(tarnwell::HTREEITEM item, bool checked);
    void itemExpanded(tarnwell::HTREEITEM item, bool expanded);
    void labelClicked(tarnwell::HTREEITEM item);
    void itemDoubleClicked(tarnwell::HTREEITEM item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class XHtmlTreeModel;
    void AddToAncestors(HTREEITEM item, int descendants, int disabled, int checkedDelta);
    void UpdateAncestors(HTREEITEM item, int delta);
    int CheckSubtree(HTREEITEM item, bool check);
    void Changed(HTREEITEM item);
    void ChangedSubtree(HTREEITEM item);
    void RemoveCounts(HTREEITEM item);
    enum class Hit { Nowhere, Box, Label, Elsewhere };
    Hit HitTest(const QModelIndex& index, const QPoint& pos) const;
    HTREEITEM pressedBox_ = nullptr;

    XHtmlTreeModel* model_;
    std::function<void(HTREEITEM)> loader_;
    bool checkBoxes_ = true;
    bool smartCheck_ = false;
    bool readOnly_ = false;
    bool selectOnCheck_ = true;
    bool deletingAll_ = false;
    int inserting_ = 0;
};

// The model behind the tree; items are its nodes.
class XHtmlTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit XHtmlTreeModel(CXHtmlTree& tree);
    ~XHtmlTreeModel() override;

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
    friend class CXHtmlTree;
    XTreeNode* Node(const QModelIndex& index) const;
    QModelIndex IndexOf(XTreeNode* node) const;
    int RowOf(XTreeNode* node) const;

    CXHtmlTree& tree_;
    std::unique_ptr<XTreeNode> root_;  // invisible; its children are the root items
    std::unordered_set<XTreeNode*> live_;
};

}  // namespace tarnwell
