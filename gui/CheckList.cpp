#include "gui/CheckList.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace tarnwell {

namespace {
// The check a row had when last seen, so that other changes to a row (texts,
// data, colours) are not taken for a click on its box.
constexpr int kSeenCheckRole = Qt::UserRole + 64;

QIcon BoxPicture(const QWidget* w, bool checked) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QStyleOptionButton o;
    o.rect = QRect(1, 1, 14, 14);
    o.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    w->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &o, &p, w);
    return QIcon(pm);
}
}  // namespace

CheckHeader::CheckHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    connect(this, &QHeaderView::sectionClicked, this, [this](int section) {
        if (section != 0) return;
        SetImage(image_ == 2 ? 1 : 2);
        emit boxToggled(image_ == 2);
    });
}

void CheckHeader::SetImage(int image) {
    image_ = image;
    if (model()) model()->setHeaderData(0, Qt::Horizontal, BoxPicture(this, image == 2), Qt::DecorationRole);
}

CheckList::CheckList(QWidget* parent) : QTreeWidget(parent), header_(new CheckHeader(this)) {
    setHeader(header_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column != 0 || quiet_) return;
        const bool checked = item->checkState(0) == Qt::Checked;
        if (item->data(0, kSeenCheckRole).toBool() == checked) return;
        Remember(item);
        emit rowCheckClicked(indexOfTopLevelItem(item), checked);
        if (initialised_) FollowRows();
    });
}

bool CheckList::InitHeaderCheck() {
    if (initialised_) return true;
    connect(header_, &CheckHeader::boxToggled, this, [this](bool checked) {
        ++quiet_;
        for (int i = 0; i < topLevelItemCount(); ++i) {
            topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
            Remember(topLevelItem(i));
        }
        --quiet_;
    });
    header_->setSectionsClickable(true);
    header_->SetImage(1);
    initialised_ = true;
    return true;
}

// Checked when no row is unchecked (every row checked, or no row at all).
void CheckList::FollowRows() {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->checkState(0) != Qt::Checked) return header_->SetImage(1);
    header_->SetImage(2);
}

QTreeWidgetItem* CheckList::AddRow(const QStringList& texts, const QVariant& data) {
    ++quiet_;
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setData(0, Qt::UserRole, data);
    Remember(item);
    for (int c = 0; c < texts.size(); ++c) item->setToolTip(c, texts[c]);
    addTopLevelItem(item);
    --quiet_;
    if (initialised_) FollowRows();
    return item;
}

void CheckList::Remember(QTreeWidgetItem* item) {
    ++quiet_;
    item->setData(0, kSeenCheckRole, item->checkState(0) == Qt::Checked);
    --quiet_;
}

bool CheckList::RowChecked(int row) const {
    auto* item = topLevelItem(row);
    return item && item->checkState(0) == Qt::Checked;
}

void CheckList::SetRowChecked(int row, bool checked) {
    auto* item = topLevelItem(row);
    if (!item) return;
    ++quiet_;
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    Remember(item);
    --quiet_;
    if (initialised_) FollowRows();
}

}  // namespace tarnwell
