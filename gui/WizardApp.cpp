#include "gui/WizardApp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include "gui/Artwork.h"
#include "gui/DriveSelectionPage.h"
#include "gui/WizardPage.h"

namespace tarnwell {

WizardWindow::WizardWindow(WizardApp& app) : app_(app) {
    setObjectName("wizard");
    setWindowTitle(kProductCaption);
    setWindowIcon(art::AppIcon());
    stack_ = new QStackedWidget;
    setCentralWidget(stack_);
    resize(780, 520);
    qApp->installEventFilter(this);
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // the answer decides; Yes ends the process itself
    app_.RequestExit();
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Escape neither advance nor close a page.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (widget && widget->window() == this &&
            (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

WizardApp::WizardApp() : WizardApp(Options{}) {}

WizardApp::WizardApp(Options options) : options_(std::move(options)), prompter_(options_.answerer) {
    if (!options_.endProcess)
        options_.endProcess = [](int code) {
            std::fflush(nullptr);
            std::_Exit(code);  // at once: workers are not waited for
        };
    if (!options_.openUrl)
        options_.openUrl = [](const QString& url) {
            if (!url.isEmpty()) QDesktopServices::openUrl(QUrl(url));
        };
    chooseImage = [this] {
        return QFileDialog::getOpenFileName(window_.get(), "Open image", QString(),
                                            "Disk images (*.img *.dd *.raw *.bin *.iso);;All files (*)");
    };
    chooseFolder = [this] { return QFileDialog::getExistingDirectory(window_.get(), "Please choose a folder."); };
    chooseSettingsFile = [this] {
        return QFileDialog::getOpenFileName(window_.get(), "Open", QString(), "All files (*)");
    };
    chooseNewSettingsFile = [this] {
        return QFileDialog::getSaveFileName(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                                              : window_.get(),
                                            "Save As", QString(), "All files (*)");
    };
}

WizardApp::~WizardApp() {
    prompter_.Shutdown();
    // The newest page first: a later page's worker may still use the reader
    // that the drive page frees when it goes.
    if (window_)
        for (int i = window_->Stack()->count() - 1; i >= 0; --i) delete window_->Stack()->widget(i);
    window_.reset();
}

bool WizardApp::InitInstance() {
    session.rootFolderName = "ROOT";
    session.volumeChosen = false;
    session.deviceSectorCount = 0;
    session.readerPrompter = &prompter_;
    lock_ = std::make_unique<InstanceLock>(options_.lockFolder);
    if (!lock_->Acquired()) {
        prompter_.Inform("Another instance of application is already running");
        return false;
    }
    QCoreApplication::setOrganizationName("Tarnwell");
    QCoreApplication::setApplicationName("TarnwellV21");
    window_ = std::make_unique<WizardWindow>(*this);
    session.driveFormatted = false;
    auto* first = new DriveSelectionPage(*this);
    pages_[first->Kind()] = first;
    window_->Stack()->addWidget(first);
    prompter_.SetOwner(window_.get());
    return true;
}

int WizardApp::Run() {
    if (!InitInstance()) return 1;
    window_->show();
    return QApplication::exec();
}

WizardPage* WizardApp::Current() const {
    return window_ ? qobject_cast<WizardPage*>(window_->Stack()->currentWidget()) : nullptr;
}

WizardPage* WizardApp::Page(PageKind kind) const {
    auto it = pages_.find(kind);
    return it == pages_.end() ? nullptr : it->second.data();
}

bool WizardApp::Open(WizardPage* from, WizardPage* next) {
    if (!next) return false;
    pages_[next->Kind()] = next;
    next->parentPageKind = from->Kind();
    next->SetParentPage(from);
    window_->Stack()->addWidget(next);
    window_->Stack()->setCurrentWidget(next);
    return true;
}

void WizardApp::Back(WizardPage* current) {
    WizardPage* parent = current->ParentPage();
    if (!parent || current->property("leaving").toBool()) return;  // freed once, however often Back is pressed
    current->setProperty("leaving", true);
    window_->Stack()->setCurrentWidget(parent);
    auto it = pages_.find(current->Kind());
    if (it != pages_.end() && it->second == current) pages_.erase(it);
    window_->Stack()->removeWidget(current);
    current->hide();
    current->deleteLater();  // Back was pressed on this page: it goes after the click is done
}

void WizardApp::RequestExit() {
    if (!prompter_.AskYesNo("Do you want to Close Application ?")) return;
    if (WizardPage* page = Current()) page->OnExit();
    OpenProductWebPage();
    options_.endProcess(0);
}

void WizardApp::OpenProductWebPage() { options_.openUrl(kProductWebPage); }

}  // namespace tarnwell
