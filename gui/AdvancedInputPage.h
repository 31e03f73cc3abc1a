#pragma once
// The advanced input page: for a volume whose boot sector or tables cannot be
// trusted, searches it for where its table (FAT or MFT) and, on exFAT, its
// cluster heap may begin, offers what it found beside the cluster sizes, and
// hands the user's picks to the results page.

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <memory>
#include <optional>
#include <thread>

#include "advanced/TableFinder.h"
#include "core/JobControl.h"
#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "gui/WizardPage.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

class AdvancedInputPage final : public WizardPage {
    Q_OBJECT
public:
    explicit AdvancedInputPage(WizardApp& app);
    ~AdvancedInputPage() override;

    // The lists as the search left them (null until it has ended).
    std::shared_ptr<const TableCandidates> Found() const { return found_; }
    bool Searching() const { return worker_.joinable() && !found_; }
    void OnExit() override;

signals:
    // The search has ended and the lists are filled.
    void searchFinished();

protected:
    void OnNext() override;
    void OnBack() override;

private:
    void Start();
    void Finished();
    void StopWorker();
    void ShowWorkControls(bool show);
    void Refuse(const std::string& why);

    QtPrompter prompter_;
    QtProgress progress_;
    JobControl control_;
    QLabel* tableLabel_;
    QComboBox* tables_;
    QLabel* clusterLabel_;
    QComboBox* clusters_;
    QLabel* heapLabel_;
    QComboBox* heaps_;
    QProgressBar* bar_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QLabel* status_;
    VolumeEntry volume_;
    std::optional<TableKind> kind_;
    int maximum_ = 3;
    std::shared_ptr<TableCandidates> result_;         // written by the worker only
    std::shared_ptr<const TableCandidates> found_;   // result_ once the worker has ended
    std::thread worker_;
};

}  // namespace tarnwell
