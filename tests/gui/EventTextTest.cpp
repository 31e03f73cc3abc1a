// The wizard's words for the engine's events: the texts its status line and
// boxes have always shown, now made from the event's values, and a box raised
// by an engine event shows that text.

#include <QSignalSpy>

#include "gui/EventText.h"
#include "gui/QtProgress.h"
#include "gui/QtPrompter.h"
#include "GuiTestSupport.h"

using namespace tarnwell;

Q_DECLARE_METATYPE(tarnwell::Event)

namespace {
Event Ended(std::int64_t whole, std::int64_t partial, std::int64_t failed, bool stopped,
            std::vector<std::string> lines = {}) {
    Event e(Step::SaveEnded, whole, 3);
    e.partial = partial;
    e.failed = failed;
    return e.Lines(std::move(lines)).Stopped(stopped);
}
}  // namespace

class EventTextTest : public QObject {
    Q_OBJECT
private slots:
    void TextsOfBoxesAndStatusLine_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status");
        auto row = [](const char* name, Event e, const char* box, const char* status) {
            QTest::newRow(name) << e << QString(box) << QString(status);
        };
        // The refusal names the kind the parser reads: FAT12 goes through FAT16's.
        for (const char* kind : {"fat12", "fat16"})
            row(kind, Event(Step::NotThisFileSystem).Kind(kind).Found("fat32"), "Selected Drive is not in Fat16 Format",
                "Selected Drive is not in Fat16 Format");
        row("fat32", Event(Step::NotThisFileSystem).Kind("fat32"), "Selected Drive is not in Fat32 Format",
            "Selected Drive is not in Fat32 Format");
        row("exfat", Event(Step::NotThisFileSystem).Kind("exfat"), "Selected Drive is not in exFat Format",
            "Selected Drive is not in exFat Format");
        row("ext", Event(Step::NotThisFileSystem).Kind("ext"), "No ext2/ext3/ext4 superblock was found on this volume.",
            "No ext2/ext3/ext4 superblock was found on this volume.");
        row("no drive", Event(Step::VolumeNotReadable), "not a valid drive.", "Not a valid Drive .Go back");
        row("fat deep", Event(Step::FatModeNotAvailable).Name("deep").Kind("fat32"),
            "The deep scan is not available for FAT32 volumes yet; the standard and advanced scans read them.",
            "The deep scan is not available for FAT32 volumes yet; the standard and advanced scans read them.");
        row("mode", Event(Step::ModeNotAvailable).Name("deep").Kind("exFAT"),
            "The Deep mode is not available for exFAT volumes.", "The Deep mode is not available for exFAT volumes.");
        row("finding", Event(Step::FindingEntries).Kind("exfat"), "Finding Fat64 File And Directory entries recursively....",
            "Finding Fat64 File And Directory entries recursively....");
        row("ext group", Event(Step::ExtGroup, 1, 2), "parsing group 1  of 2 ", "parsing group 1  of 2 ");
        row("hit", Event(Step::SearchHit, 7), "searched file 7", "searched file 7");
        row("ntfs numbered", Event(Step::VolumeFound, 2).Kind("ntfs"), "found NTFS 2...", "found NTFS 2...");
        row("ntfs in a chain", Event(Step::TypeFound).Kind("ntfs"), "found NTFS...", "found NTFS...");
        row("exfat by type", Event(Step::TypeFound).Kind("exfat"), "found FAT64...", "found FAT64...");
        row("exfat by boot", Event(Step::VolumeFound).Kind("exfat"), "found FAT 64...", "found FAT 64...");
        row("scan stop", Event(Step::ScanStopAsked), "stop button pressed.Please wait for the process to be stopped.",
            "stop button pressed.Please wait for the process to be stopped.");
        row("carve stop", Event(Step::CarveStopAsked), "Stop button pressed.Please wait for the process to stop",
            "Stop button pressed.Please wait for the process to stop");
        row("scan done", Event(Step::ScanFinished), "Scanning processing done.Select save button to save the data.",
            "Scanning processing done.Select save button to save the data.");
        row("carve done", Event(Step::CarveFinished), "Scanning processing done.Select save button to save the data..",
            "Scanning processing done.Select save button to save the data..");
        row("confirm", Event(Step::SaveConfirm, 3),
            "number of files found inside this folder = 3 .do u want to continue dumping these files..?",
            "number of files found inside this folder = 3 .do u want to continue dumping these files..?");
        // A save ends "work done" only when every file was written whole; the status line says the first line.
        row("whole", Ended(3, 0, 0, false), "work done", "work done");
        row("partial", Ended(2, 1, 0, false), "Saving ended: 2 of 3 files written whole, 1 partial, 0 failed.",
            "Saving ended: 2 of 3 files written whole, 1 partial, 0 failed.");
        row("failed", Ended(2, 0, 1, false, {"c.jpg: no data could be read"}),
            "Saving ended: 2 of 3 files written whole, 0 partial, 1 failed.\nc.jpg: no data could be read",
            "Saving ended: 2 of 3 files written whole, 0 partial, 1 failed.");
        row("stopped", Ended(0, 0, 0, true), "Saving stopped: 0 of 3 files written whole, 0 partial, 0 failed.",
            "Saving stopped: 0 of 3 files written whole, 0 partial, 0 failed.");
        row("dumped", Event(Step::FileSaved).Name("a.jpg").Detail("/out/a.jpg"), "file is dumped in path  :  /out/a.jpg   ",
            "file is dumped in path  :  /out/a.jpg   ");
        Event gap = Event(Step::FileSaved).Name("gap.jpg").Detail("/out/gap.jpg");
        gap.partial = 1;
        row("dumped partly", gap,
            "file is dumped in path  :  /out/gap.jpg   \nThe file gap.jpg was saved partly: some of its data could not "
            "be read and stands as zeros.",
            "file is dumped in path  :  /out/gap.jpg   \nThe file gap.jpg was saved partly: some of its data could not "
            "be read and stands as zeros.");
        row("not saved", Event(Step::FileNotSaved).Name("gone.jpg").Detail("gone.jpg: no data could be read"),
            "The file gone.jpg could not be saved: gone.jpg: no data could be read",
            "The file gone.jpg could not be saved: gone.jpg: no data could be read");
        row("folder", Event(Step::IsDirectory).Name("dir"), "This is  dir directory .Please specify file names ",
            "This is  dir directory .Please specify file names ");
        Event carved(Step::CarveSaveEnded, 1, 2);
        carved.failed = 1;
        carved.Name("/out").Lines({"x.jpg: disk full"});
        row("carve save", carved, "Saving ended: 1 of 2 files written into /out\n1 could not be written:\nx.jpg: disk full",
            "Saving done, with files not written");
    }

    void TextsOfBoxesAndStatusLine() {
        QFETCH(Event, event);
        QFETCH(QString, box);
        QFETCH(QString, status);
        QCOMPARE(QString::fromStdString(MessageText(event)), box);
        // A save that wrote everything leaves the status line to the page.
        if (event.step == Step::SaveEnded && OutcomeOf(event) == Outcome::Done) return;
        QCOMPARE(QString::fromStdString(StatusText(event)), status);
    }

    void EngineEventsReachTheBoxAndTheStatusLineInTheseWords() {
        RecordingAnswers answers;
        QtPrompter prompter(&answers);
        Prompter& engine = prompter;
        engine.Inform(Event(Step::SourceNotOpened));
        answers.answers = {false};
        QVERIFY(!engine.AskYesNo(Event(Step::SaveConfirm, 8)));
        QCOMPARE(answers.informed, std::vector<std::string>{"invalid handle ..."});
        QCOMPARE(answers.asked, std::vector<std::string>{
                                    "number of files found inside this folder = 8 .do u want to continue dumping these files..?"});

        QtProgress progress;
        QSignalSpy spy(&progress, &QtProgress::statusChanged);
        ProgressSink& sink = progress;
        sink.Report(Event(Step::Paused));
        sink.Report(Ended(3, 0, 0, false));  // says nothing on the status line
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QString("Pause button pressed"));
    }
};

TARNWELL_QTEST_MAIN(EventTextTest)
#include "EventTextTest.moc"
