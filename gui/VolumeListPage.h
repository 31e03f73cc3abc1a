#pragma once
// Physical-drive road, third page: runs the chosen partition scan at once (the
// table scan here, the boot-sector search on a worker), lists the volumes, lets
// the user correct or add one, and hands the choice on.

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <deque>
#include <memory>
#include <thread>

#include "core/JobControl.h"
#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "gui/WizardPage.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

class PartitionScanner;

// A sector number with up and down arrows; the down arrow stops at 0.
class SectorEdit final : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit SectorEdit(QWidget* parent = nullptr);
    std::int64_t Value() const;
    void SetValue(std::int64_t value);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

class VolumeListPage final : public WizardPage {
    Q_OBJECT
public:
    explicit VolumeListPage(WizardApp& app);
    ~VolumeListPage() override;

    QTreeWidget* List() const { return list_; }
    const std::deque<VolumeEntry>& Entries() const { return entries_; }
    void OnExit() override;

signals:
    void scanFinished();

protected:
    void OnNext() override;
    void OnBack() override;

private:
    void StandardScan();
    void StartAdvancedScan();
    void AdvancedFinished();
    void AddRow(std::size_t entry, int position);
    void SelectionChanged();
    void RowClicked(QTreeWidgetItem* item);
    void AddCustomVolume();
    void FilterEntries();
    void EnableCustomGroup(bool on);
    void StopWorker();

    QtPrompter prompter_;
    QtProgress progress_;
    JobControl control_;
    QTreeWidget* list_;
    QPushButton* filter_;
    QPushButton* addCustom_;
    QCheckBox* custom_;
    QGroupBox* group_;
    QLabel* selected_;
    SectorEdit* start_;
    SectorEdit* end_;
    QComboBox* treatAs_;
    QProgressBar* bar_;
    QLabel* status_;
    QPushButton* stop_;
    std::deque<VolumeEntry> entries_;  // a row refers to its entry by index
    bool advanced_ = false;
    bool edited_ = false;
    std::unique_ptr<PartitionScanner> scanner_;
    std::thread worker_;
};

}  // namespace tarnwell
