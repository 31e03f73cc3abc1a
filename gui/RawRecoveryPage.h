#pragma once
// The raw recovery page: loads the default signature list and the user's
// settings file, carves the selected volume on a worker with Pause, Resume and
// Stop, lists what it found by category in a check-box tree, and writes the
// ticked files to a folder on another drive. The work is the carve job's.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <vector>

#include "gui/CheckTree.h"
#include "gui/FileIcons.h"
#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "gui/WizardPage.h"
#include "scan/CarveJob.h"

namespace tarnwell {

class RawRecoveryPage final : public WizardPage {
    Q_OBJECT
public:
    explicit RawRecoveryPage(WizardApp& app);
    ~RawRecoveryPage() override;

    CarveJob& Job() { return *job_; }
    CheckTree* Tree() const { return tree_; }
    QTreeWidget* List() const { return list_; }
    // The default list beside the program; empty when there is none (the
    // built-in list is used then).
    const QString& DefaultListPath() const { return defaultListPath_; }
    // Positions in the job's items of the ticked file items, in tree order.
    std::vector<std::size_t> TickedItems() const;

    void OnExit() override;

signals:
    void runFinished();
    void saveFinished();

protected:
    void OnBack() override;

private:
    void Parse();
    void BeginTree();
    void AddFound(std::size_t index, const CarvedItem& item);
    void RunDone(bool stopped);  // the run ended, at its end or by Stop
    void LabelClicked(TreeItem item);
    void ChooseSettingsFile();
    void OpenSettings();
    void Save();
    void SetInputsEnabled(bool on);
    void ShowWorkControls(bool show);

    QtPrompter prompter_;
    QtProgress progress_;
    FileIcons icons_;
    QString defaultListPath_;
    QLineEdit* path_;
    QPushButton* choosePath_;
    QPushButton* parse_;
    QCheckBox* loadDefaults_;
    QPushButton* setting_;
    CheckTree* tree_;
    QTreeWidget* list_;
    QLineEdit* outputFolder_;
    QToolButton* browse_;
    QPushButton* save_;
    QProgressBar* bar_;
    QLabel* status_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    // The category items of the run in progress, with their counts.
    std::map<std::string, std::pair<TreeItem, std::uint64_t>> categories_;
    std::unique_ptr<CarveJob> job_;  // last: it goes first, while what it reports to still exists
};

}  // namespace tarnwell
