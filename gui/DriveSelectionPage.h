#pragma once
// The first page: what the machine offers to recover from, in three groups
// (mounted volumes, whole drives, image files), and where "Next" leads.

#include <QLabel>
#include <QTreeWidget>

#include <deque>
#include <vector>

#include "gui/WizardPage.h"
#include "partition/VolumeEntry.h"
#include "scan/DriveList.h"

namespace tarnwell {

class DriveSelectionPage final : public WizardPage {
    Q_OBJECT
public:
    explicit DriveSelectionPage(WizardApp& app);
    ~DriveSelectionPage() override;

    // Lists an image under "IMAGE FILES:" and selects it.
    void AddImage(const QString& path);
    QTreeWidget* Tree() const { return tree_; }

protected:
    void OnNext() override;

private:
    enum ItemKind { Group = 0, Volume, Drive, Image, OpenImage };
    void ListDrives();
    void ChooseImage();

    QTreeWidget* tree_;
    QLabel* accessHint_;
    QTreeWidgetItem* volumes_;
    QTreeWidgetItem* drives_;
    QTreeWidgetItem* images_;
    std::deque<VolumeEntry> entries_;  // stays put while pages refer to it
    std::vector<PhysicalDrive> driveList_;
    std::vector<std::string> imagePaths_;
};

}  // namespace tarnwell
