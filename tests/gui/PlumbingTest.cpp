// How workers reach the GUI: progress and questions from another thread are
// delivered on the GUI thread, and a page going away releases a waiting worker.

#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <thread>

#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "GuiTestSupport.h"

using namespace tarnwell;

class PlumbingTest : public QObject {
    Q_OBJECT
private slots:
    void WorkerProgressArrivesOnTheGuiThreadLatestFirst() {
        QtProgress progress;
        QThread* gui = QThread::currentThread();
        std::atomic<int> offThread{0};
        QStringList statuses;
        int position = -1;
        connect(&progress, &QtProgress::statusChanged, this, [&](const QString& s) {
            if (QThread::currentThread() != gui) ++offThread;
            statuses << s;
        });
        connect(&progress, &QtProgress::positionChanged, this, [&](int p) { position = p; });
        std::thread worker([&] {
            progress.SetRange(0, 10000);
            for (int i = 1; i <= 10000; ++i) progress.SetPosition(i);
            progress.SetStatus("first");
            progress.SetStatus("last");
        });
        worker.join();
        QTRY_COMPARE(position, 10000);
        QCOMPARE(offThread.load(), 0);
        QCOMPARE(statuses, QStringList{"last"});  // gathered: one delivery, the newest text
        progress.SetStatus("now");                // from the GUI thread: at once
        QCOMPARE(statuses.last(), QString("now"));
    }

    void AWorkersQuestionIsAnsweredOnTheGuiThread() {
        RecordingAnswers answers;
        answers.answers = {false};
        QtPrompter prompter(&answers);
        std::atomic<int> reply{-1};
        std::thread worker([&] {
            prompter.Inform("before");
            reply = prompter.AskYesNo("go on?") ? 1 : 0;
        });
        QTRY_VERIFY(reply.load() != -1);
        worker.join();
        QCOMPARE(reply.load(), 0);
        QCOMPARE(answers.informed, std::vector<std::string>{"before"});
        QCOMPARE(answers.asked, std::vector<std::string>{"go on?"});
    }

    void ShutdownReleasesAWaitingWorker() {
        RecordingAnswers answers;
        QtPrompter prompter(&answers);
        std::atomic<int> reply{-1};
        std::thread worker([&] { reply = prompter.AskYesNo("still there?") ? 1 : 0; });
        // The GUI thread does not run its event loop, as when a page is being torn down.
        QThread::msleep(50);
        prompter.Shutdown();
        worker.join();
        QCOMPARE(reply.load(), 0);
        QCoreApplication::processEvents();
        QVERIFY(answers.asked.empty());
    }
};

TARNWELL_QTEST_MAIN(PlumbingTest)
#include "PlumbingTest.moc"
