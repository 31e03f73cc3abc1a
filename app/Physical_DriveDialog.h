#pragma once
// The first page: what the machine offers to recover from, in three groups
// (mounted volumes, whole drives, image files), and where "Next" leads.

#include <QLabel>
#include <QTreeWidget>

#include <deque>
#include <vector>

#include "app/VolumeEntry.h"
#include "app/WizardPage.h"
#include "device/DriveList.h"

namespace tarnwell {

class Physical_DriveDialog final : public WizardPage {
    Q_OBJECT
public:
    explicit Physical_DriveDialog(CKorvaneApp& app);
    ~Physical_DriveDialog() override;

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
