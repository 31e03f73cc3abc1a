#pragma once
// The results page: runs the scan job for the chosen volume on a worker, shows
// progress with Pause, Resume and Stop, then the found tree (loaded a folder at
// a time), the detail list, saving and the name search. Everything it does is
// the scan job's; the page only shows and asks.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <memory>
#include <vector>

#include "gui/CheckList.h"
#include "gui/CheckTree.h"
#include "gui/FileIcons.h"
#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "gui/WizardPage.h"
#include "scan/ScanJob.h"

namespace tarnwell {

class ScanResultsPage final : public WizardPage {
    Q_OBJECT
public:
    explicit ScanResultsPage(WizardApp& app);
    ~ScanResultsPage() override;

    ScanJob& Job() { return *job_; }
    CheckTree* Tree() const { return tree_; }
    CheckList* List() const { return list_; }
    bool ListShowsSearchResults() const { return listShowsSearchResults_; }
    // The outermost ticked rows, each as its chain from a child of the root.
    std::vector<std::vector<RowId>> TickedChains() const;

    // Advanced mode: copies the advanced input page's lists, entries and
    // selections, into this page's hidden mirrors of them.
    void MirrorAdvancedLists(const QLabel& tableLabel, const QComboBox& tables, const QComboBox& clusters,
                             const QComboBox& heaps);

    void OnExit() override;

signals:
    // The scan's completion steps have run and the tree shows what was found.
    void scanFinished();
    void workFinished();  // a save or a search has ended

protected:
    void OnBack() override;

private:
    void Finished(ScanOutcome outcome);
    void LoadChildren(TreeItem item);
    void LabelClicked(TreeItem item);
    void DoubleClicked(TreeItem item);
    void AddEntryRow(TreeItem item, bool nameOnly);
    void Save();
    void Search();
    void ChooseFolder();
    void ShowWorkControls(bool show);
    void WorkDone();

    QtPrompter prompter_;
    QtProgress progress_;
    FileIcons icons_;
    CheckTree* tree_;
    CheckList* list_;
    QLineEdit* volumeData_;
    QLineEdit* outputFolder_;
    QToolButton* browse_;
    QLineEdit* pattern_;
    QPushButton* search_;
    QPushButton* save_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QProgressBar* bar_;
    QLabel* status_;
    QLabel* fileSize_;
    QLabel* mirrorTableLabel_;
    QComboBox* mirrorTables_;
    QComboBox* mirrorClusters_;
    QComboBox* mirrorHeaps_;
    bool listShowsSearchResults_ = false;
    std::unique_ptr<ScanJob> job_;  // last: it goes first, while what it reports to still exists
};

}  // namespace tarnwell
