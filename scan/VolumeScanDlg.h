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

#include "app/CUseShGetFileInfo.h"
#include "app/QtProgress.h"
#include "app/QtPrompter.h"
#include "app/WizardPage.h"
#include "controls/CCheckListCtrl.h"
#include "controls/CXHtmlTree.h"
#include "scan/ScanJob.h"

namespace tarnwell {

class VolumeScanDlg final : public WizardPage {
    Q_OBJECT
public:
    explicit VolumeScanDlg(CKorvaneApp& app);
    ~VolumeScanDlg() override;

    ScanJob& Job() { return *job_; }
    CXHtmlTree* Tree() const { return tree_; }
    CCheckListCtrl* List() const { return list_; }
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
    void LoadChildren(HTREEITEM item);
    void LabelClicked(HTREEITEM item);
    void DoubleClicked(HTREEITEM item);
    void AddEntryRow(HTREEITEM item, bool nameOnly);
    void Save();
    void Search();
    void ChooseFolder();
    void ShowWorkControls(bool show);
    void WorkDone();

    QtPrompter prompter_;
    QtProgress progress_;
    CUseShGetFileInfo icons_;
    CXHtmlTree* tree_;
    CCheckListCtrl* list_;
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
