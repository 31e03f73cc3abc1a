#pragma once
// The application: single instance, the ScanSession, the one main window that
// holds the page chain, and the shared Help, About and Exit behaviour.

#include <QMainWindow>
#include <QPointer>
#include <QStackedWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/InstanceLock.h"
#include "gui/PageKind.h"
#include "gui/QtPrompter.h"
#include "scan/DriveList.h"
#include "scan/ScanJob.h"
#include "scan/ScanSession.h"

namespace tarnwell {

class WizardPage;
class WizardApp;

// Left empty until the product has a web page and mail boxes of its own; the
// menu items and links that need them then do nothing.
inline const QString kProductWebPage = QString();
inline const QString kSupportMail = QString();
inline const QString kSalesMail = QString();

class WizardWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit WizardWindow(WizardApp& app);
    QStackedWidget* Stack() const { return stack_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WizardApp& app_;
    QStackedWidget* stack_;
};

class WizardApp final : public QObject {
    Q_OBJECT
public:
    struct Options {
        tarnwell::Answerer* answerer = nullptr;       // tests: answers instead of message boxes
        std::string lockFolder;             // empty: the user's runtime folder
        DriveListRoots roots;               // where drives and mounts are listed from
        std::function<void(int)> endProcess;          // default: end at once
        std::function<void(const QString&)> openUrl;  // default: the desktop's browser
    };

    WizardApp();
    explicit WizardApp(Options options);
    ~WizardApp() override;

    // Start-up: false when another instance runs (the user has been told).
    bool InitInstance();
    // Start-up, then the event loop.
    int Run();

    ScanSession session;
    QtPrompter& Prompt() { return prompter_; }
    WizardWindow* Window() const { return window_.get(); }
    const DriveListRoots& Roots() const { return options_.roots; }

    WizardPage* Current() const;
    WizardPage* Page(PageKind kind) const;

    // Shows next (built by from's "Next") in place of from. False when there was none.
    bool Open(WizardPage* from, WizardPage* next);
    // Shows current's parent again and frees current, once.
    void Back(WizardPage* current);
    // The close box: asks, and on Yes ends the process.
    void RequestExit();
    void OpenProductWebPage();

    // Where pages get file and folder names; tests replace them.
    std::function<QString()> chooseImage;
    std::function<QString()> chooseFolder;
    // A signature settings file to read, and one to create (asks before overwriting).
    std::function<QString()> chooseSettingsFile;
    std::function<QString()> chooseNewSettingsFile;
    // Tests: where the results page gets its parsers (empty: the factory).
    ParserMaker parserMaker;
    // What answers message boxes in place of the user (tests), or null.
    tarnwell::Answerer* Answerer() const { return options_.answerer; }

private:
    Options options_;
    QtPrompter prompter_;
    std::unique_ptr<InstanceLock> lock_;
    std::unique_ptr<WizardWindow> window_;
    std::map<PageKind, QPointer<WizardPage>> pages_;
};

}  // namespace tarnwell
