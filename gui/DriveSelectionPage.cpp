#include "gui/DriveSelectionPage.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>

#include "gui/Artwork.h"
#include "gui/PartitionScanPage.h"
#include "gui/VolumeInformationPage.h"
#include "gui/WizardApp.h"
#include "partition/ImageSource.h"

namespace tarnwell {

namespace {
QIcon DriveIcon(QWidget* w) { return w->style()->standardIcon(QStyle::SP_DriveHDIcon); }

QString AccessHint(int locked) {
    return QString("%1 drive(s) or volume(s) of this machine can only be read with more rights. "
                   "Run Tarnwell as root, or add your user to the \"disk\" group "
                   "(sudo usermod -aG disk $USER) and log in again. Image files can always be opened.")
        .arg(locked);
}
}  // namespace

DriveSelectionPage::DriveSelectionPage(WizardApp& app)
    : WizardPage(app, PageKind::DriveSelection, "Choose the drive, volume or image to recover from") {
    BackButton()->hide();  // the first page has no Back
    setWindowIcon(art::AppIcon());
    auto* group = new QGroupBox("Currently system contains:");
    auto* layout = new QVBoxLayout(group);
    tree_ = new QTreeWidget;
    tree_->setObjectName("driveTree");
    tree_->setHeaderHidden(true);
    layout->addWidget(tree_);
    accessHint_ = new QLabel;
    accessHint_->setObjectName("accessHint");
    accessHint_->setWordWrap(true);
    accessHint_->hide();
    layout->addWidget(accessHint_);
    auto* row = new QHBoxLayout;
    auto* hint = new QLabel("Select volume or drive to continue the recovery process ");
    hint->setObjectName("hint");
    row->addWidget(hint, 1);
    auto* open = new QPushButton(art::ButtonIcon(art::Glyph::Open), "Open image…");
    open->setObjectName("openImage");
    open->setAutoDefault(false);
    row->addWidget(open);
    layout->addLayout(row);
    Body()->addWidget(group);

    auto group_item = [this](const char* text) {
        auto* item = new QTreeWidgetItem(tree_, QStringList(text));
        item->setIcon(0, DriveIcon(this));
        item->setData(0, Qt::UserRole, Group);
        return item;
    };
    volumes_ = group_item("     VOLUMES:");
    drives_ = group_item("     PHYSICAL DRIVES:");
    images_ = group_item("     IMAGE FILES:");
    auto* openItem = new QTreeWidgetItem(images_, QStringList("Open image…"));
    openItem->setIcon(0, art::ButtonIcon(art::Glyph::Open));
    openItem->setData(0, Qt::UserRole, OpenImage);
    ListDrives();
    tree_->expandAll();

    connect(open, &QPushButton::clicked, this, [this] { ChooseImage(); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->data(0, Qt::UserRole).toInt() == OpenImage) ChooseImage();
    });
}

DriveSelectionPage::~DriveSelectionPage() { Session().reader.reset(); }

void DriveSelectionPage::ListDrives() {
    int locked = 0;
    driveList_ = ListPhysicalDrives(app_.Roots());
    for (std::size_t i = 0; i < driveList_.size(); ++i) {
        const PhysicalDrive& d = driveList_[i];
        if (!d.readable) {
            ++locked;
            continue;
        }
        auto* item = new QTreeWidgetItem(drives_, QStringList(QString::fromStdString(d.itemText)));
        item->setIcon(0, DriveIcon(this));
        item->setToolTip(0, QString::fromStdString(d.devicePath));
        item->setData(0, Qt::UserRole, Drive);
        item->setData(0, Qt::UserRole + 1, static_cast<int>(i));
    }
    for (const MountedVolume& v : ListMountedVolumes(app_.Roots())) {
        if (!v.readable) {
            ++locked;
            continue;
        }
        entries_.push_back(v.entry);
        auto* item = new QTreeWidgetItem(volumes_, QStringList(QString::fromStdString(v.entry.rootPath)));
        item->setIcon(0, DriveIcon(this));
        item->setToolTip(0, QString::fromStdString(v.entry.location + "  " + v.entry.fileSystem));
        item->setData(0, Qt::UserRole, Volume);
        item->setData(0, Qt::UserRole + 1, static_cast<int>(entries_.size() - 1));
    }
    if (locked > 0) {
        accessHint_->setText(AccessHint(locked));
        accessHint_->show();
        for (QTreeWidgetItem* group : {volumes_, drives_}) {
            if (group->childCount() > 0) continue;
            auto* note = new QTreeWidgetItem(group, QStringList("(not readable without more rights: see below)"));
            note->setFlags(Qt::NoItemFlags);
            note->setData(0, Qt::UserRole, Group);
        }
    }
}

void DriveSelectionPage::ChooseImage() {
    const QString path = app_.chooseImage ? app_.chooseImage() : QString();
    if (!path.isEmpty()) AddImage(path);
}

void DriveSelectionPage::AddImage(const QString& path) {
    imagePaths_.push_back(path.toStdString());
    auto* item = new QTreeWidgetItem(QStringList(path));
    item->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
    item->setData(0, Qt::UserRole, Image);
    item->setData(0, Qt::UserRole + 1, static_cast<int>(imagePaths_.size() - 1));
    images_->insertChild(images_->childCount() - 1, item);  // "Open image…" stays last
    tree_->setCurrentItem(item);
}

void DriveSelectionPage::OnNext() {
    QTreeWidgetItem* item = tree_->currentItem();
    const int kind = item ? item->data(0, Qt::UserRole).toInt() : Group;
    const int index = item ? item->data(0, Qt::UserRole + 1).toInt() : -1;
    Session().ResetReader();
    switch (kind) {
        case Volume:
            Session().volumeChosen = true;
            app_.Open(this, new VolumeInformationPage(app_, &entries_[index]));
            return;
        case Drive:
            Session().volumeChosen = false;
            app_.Open(this, new PartitionScanPage(app_, driveList_[index].devicePath));
            return;
        case Image: {
            const std::string& path = imagePaths_[index];
            // An image that is one volume goes the mounted-volume road; a disk image is a drive.
            if (auto volume = ImageAsVolume(path)) {
                entries_.push_back(*volume);
                Session().volumeChosen = true;
                app_.Open(this, new VolumeInformationPage(app_, &entries_.back()));
            } else {
                Session().volumeChosen = false;
                app_.Open(this, new PartitionScanPage(app_, path));
            }
            return;
        }
        case OpenImage:
            ChooseImage();
            return;
        default:
            Prompt().Inform("Please select a volume or a drive..");
    }
}

}  // namespace tarnwell
