#pragma once
// A report list whose rows carry check boxes and whose first column header
// carries one too: clicking the header box checks or unchecks every row, and
// the header box shows checked exactly when every row is checked.

#include <QHeaderView>
#include <QTreeWidget>

namespace tarnwell {

class CheckHeader final : public QHeaderView {
    Q_OBJECT
public:
    explicit CheckHeader(QWidget* parent = nullptr);
    // The header box's picture: 1 unchecked, 2 checked.
    int Image() const { return image_; }
    void SetImage(int image);

signals:
    void boxToggled(bool checked);

private:
    int image_ = 1;
};

class CheckList final : public QTreeWidget {
    Q_OBJECT
public:
    explicit CheckList(QWidget* parent = nullptr);

    // Puts the box into the first column's header; once.
    bool InitHeaderCheck();
    CheckHeader* Header() const { return header_; }

    QTreeWidgetItem* AddRow(const QStringList& texts, const QVariant& data = {});
    void DeleteAllItems() { clear(); }
    bool RowChecked(int row) const;
    void SetRowChecked(int row, bool checked);

signals:
    // The user clicked a row's box (never sent for the header's check-all).
    void rowCheckClicked(int row, bool checked);

private:
    void FollowRows();
    void Remember(QTreeWidgetItem* item);

    CheckHeader* header_;
    bool initialised_ = false;
    int quiet_ = 0;  // changes made by the control itself
};

}  // namespace tarnwell
