#pragma once
// What the GUI suites share: an application whose message boxes are answered
// by a RecordingAnswers, whose lock, drive list and exit stay inside a
// temporary folder, and whose results page reads a FakeParser.

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

#include "gui/WizardApp.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"

namespace tarnwell::test {

// A QTest main that runs on the offscreen platform unless told otherwise.
#define TARNWELL_QTEST_MAIN(Suite)                                            \
    int main(int argc, char** argv) {                                             \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                       \
            qputenv("QT_QPA_PLATFORM", "offscreen");                              \
        QApplication app(argc, argv);                                             \
        Suite test;                                                           \
        return QTest::qExec(&test, argc, argv);                                   \
    }

// The results tree of the engine's own scan tests.
void PlanCard(FakeParser& parser);

struct GuiHarness {
    TempDir dir;
    RecordingAnswers answers;
    int exitCode = -1;  // what the close box ended with, -1 while running
    int urlsOpened = 0;
    std::unique_ptr<WizardApp> app;
    std::function<void(FakeParser&)> plan = PlanCard;
    FakeParser* fake = nullptr;
    std::chrono::microseconds delayPerRow{0};

    // Makes the application; start runs its start-up.
    explicit GuiHarness(bool start = true, const DriveListRoots* roots = nullptr);
    WizardApp::Options Options(const DriveListRoots* roots);

    int Count(const std::string& text) const;
    bool Asked(const std::string& text) const;
};

// A machine with a card reader holding a mounted FAT32 card (/media/user/CARD on
// /dev/sdb1) and a disk that only root may open.
DriveListRoots FakeMachine(TempDir& dir);

// The box of a view's row, in viewport coordinates.
QRect CheckBoxRect(QAbstractItemView* view, const QModelIndex& index);
QPoint CheckBoxCentre(QAbstractItemView* view, const QModelIndex& index);

template <typename T>
T* Find(QWidget* page, const char* name) {
    T* w = page->findChild<T*>(name);
    if (!w) qWarning("no widget named %s", name);
    return w;
}

}  // namespace tarnwell::test
