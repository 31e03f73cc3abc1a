// The results page over a FakeParser: the scan on a worker with its texts,
// the lazy tree with red deleted rows, the detail list, saving (selected
// folder, ticked rows, a double-clicked file), search, Stop, Pause, refusals.

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>

#include <filesystem>
#include <fstream>

#include "GuiTestSupport.h"
#include "app/Physical_DriveDialog.h"
#include "device/MemoryReader.h"
#include "scan/VolumeScanDlg.h"

using namespace tarnwell;
using namespace tarnwell::test;
namespace fs = std::filesystem;

namespace {
const char* const kDone = "Scanning processing done.Select save button to save the data.";

std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        files.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    std::sort(files.begin(), files.end());
    return files;
}

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

class ResultsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GuiHarness> h;
    VolumeScanDlg* page = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;

    // Opens the results page for a volume of this name and waits for the scan when asked.
    void Open(const std::string& fileSystem = "FAT32", bool wait = true, bool modelTester = true) {
        h->app->session.reader = std::make_unique<MemoryReader>(std::vector<std::uint8_t>(4096));
        h->app->session.selectedVolume = {};
        h->app->session.selectedVolume.fileSystem = fileSystem;
        h->app->session.selectedVolume.location = "1";
        h->app->session.selectedVolume.sizeText = "1  MB";
        h->app->session.recoveryMode = RecoveryMode::Standard;
        auto* drivePage = h->app->Page(PageKind::DriveSelection);
        page = new VolumeScanDlg(*h->app);
        // The model tester opens folders itself, so a test of what stays unloaded goes without it.
        if (modelTester)
            tester = std::make_unique<QAbstractItemModelTester>(page->Tree()->Model(),
                                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy finished(page, &VolumeScanDlg::scanFinished);
        h->app->Open(drivePage, page);
        if (wait) QVERIFY(finished.count() > 0 || finished.wait(10000));
    }

    HTREEITEM Item(const QStringList& path) {
        CXHtmlTree* tree = page->Tree();
        HTREEITEM item = tree->GetRootItem();
        if (!item || tree->GetItemText(item) != path.front()) return nullptr;
        for (int i = 1; i < path.size(); ++i) {
            tree->EnsureChildren(item);
            HTREEITEM next = nullptr;
            for (HTREEITEM c : tree->Children(item))
                if (tree->GetItemText(c) == path[i]) next = c;
            if (!next) return nullptr;
            item = next;
        }
        return item;
    }

    QStringList Column(int column) const {
        QStringList out;
        for (int i = 0; i < page->List()->topLevelItemCount(); ++i) out << page->List()->topLevelItem(i)->text(column);
        return out;
    }

    void WaitForWork() {
        QSignalSpy done(page, &VolumeScanDlg::workFinished);
        QVERIFY(done.wait(10000));
    }

    QString Status() const { return Find<QLabel>(page, "status")->text(); }

private slots:
    void init() { h = std::make_unique<GuiHarness>(); }
    void cleanup() {
        tester.reset();
        page = nullptr;
        h.reset();
    }

    void TheScanEndsWithItsTextsAndTheTopLevel() {
        Open("FAT32", true, false);
        QCOMPARE(h->Count(kDone), 1);
        QCOMPARE(Status(), QString(kDone));
        QVERIFY(page->BackButton()->isEnabled());
        for (const char* name : {"progress", "pause", "resume", "stop"}) QVERIFY2(Find<QWidget>(page, name)->isHidden(), name);
        QVERIFY(page->NextButton()->isHidden());
        HTREEITEM root = page->Tree()->GetRootItem();
        QCOMPARE(page->Tree()->GetItemText(root), QString("ROOT"));
        QStringList top;
        for (HTREEITEM c : page->Tree()->Children(root)) top << page->Tree()->GetItemText(c);
        QCOMPARE(top, QStringList({"DCIM", "notes.txt", "logo.PNG", "LOST"}));
        // Deeper levels wait until a folder is opened.
        HTREEITEM dcim = page->Tree()->Children(root).front();
        QVERIFY(page->Tree()->Model()->hasChildren(page->Tree()->IndexOf(dcim)));
        QCOMPARE(page->Tree()->Model()->rowCount(page->Tree()->IndexOf(dcim)), 0);
        HTREEITEM lost = page->Tree()->Children(root).back();
        QVERIFY(!page->Tree()->Model()->hasChildren(page->Tree()->IndexOf(lost)));
        QStringList headers;
        for (int c = 0; c < page->List()->columnCount(); ++c) headers << page->List()->headerItem()->text(c);
        QCOMPARE(headers, QStringList({"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size",
                                       "Attribute"}));
        QCOMPARE(Find<QLabel>(page, "searchHint")->text(), QString("* Use \"|\" to find multiple file type "));
    }

    void DeletedRowsAreRedAndAFolderClickListsItsFiles() {
        Open();
        HTREEITEM canon = Item({"ROOT", "DCIM", "100CANON"});
        QVERIFY(canon);
        page->Tree()->scrollTo(page->Tree()->IndexOf(canon));
        HTREEITEM deleted = Item({"ROOT", "DCIM", "100CANON", "IMG_0002.JPG"});
        QCOMPARE(page->Tree()->IndexOf(deleted).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QVERIFY(!page->Tree()->IndexOf(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"}))
                     .data(Qt::ForegroundRole)
                     .isValid());
        emit page->Tree()->labelClicked(canon);
        QCOMPARE(Column(0), QStringList({"IMG_0001.JPG", "IMG_0002.JPG", "dcim.jpg"}));
        QCOMPARE(Column(4), QStringList({"8 Bytes", "8 Bytes", "5 Bytes"}));
        QCOMPARE(page->List()->topLevelItem(1)->foreground(0).color(), QColor(255, 0, 0));
        // A folder of folders lists no files; clicking twice inserts its children once.
        HTREEITEM dcim = Item({"ROOT", "DCIM"});
        emit page->Tree()->labelClicked(dcim);
        emit page->Tree()->labelClicked(dcim);
        QVERIFY(Column(0).isEmpty());
        QCOMPARE(page->Tree()->Children(dcim).size(), size_t(2));
        // Filling the list leaves the tree's ticks alone; a click on a row's box ticks the tree item.
        page->Tree()->SetCheck(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"}), true);
        emit page->Tree()->labelClicked(canon);
        QVERIFY(page->Tree()->GetCheck(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"})));
        page->Tree()->SetCheck(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"}), false);
        page->List()->topLevelItem(2)->setCheckState(0, Qt::Checked);
        QVERIFY(page->Tree()->GetCheck(Item({"ROOT", "DCIM", "100CANON", "dcim.jpg"})));
        QCOMPARE(page->Tree()->StateImage(canon), 3);
    }

    void SaveWritesTheSelectedFolderAfterAskingWithTheCount() {
        Open();
        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        page->Tree()->SelectItem(Item({"ROOT", "DCIM"}));
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QVERIFY(h->Asked("number of files found inside this folder = 3 .do u want to continue dumping these files..?"));
        QCOMPARE(FilesBelow(out.path()), (std::vector<std::string>{"100CANON/", "100CANON/IMG_0001.JPG",
                                                                   "100CANON/IMG_0002.JPG", "100CANON/dcim.jpg", "EMPTY/"}));
        QCOMPARE(Read(out / "100CANON/IMG_0001.JPG"), std::string("jpeg one"));
        QCOMPARE(h->Count("work done"), 1);
        QVERIFY(page->BackButton()->isEnabled());
    }

    void TickedRowsAreWhatSaveWrites() {
        Open();
        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        page->Tree()->SelectItem(Item({"ROOT", "DCIM"}));  // ticks win over the selection
        page->Tree()->SetCheck(Item({"ROOT", "notes.txt"}), true);
        page->Tree()->SetCheck(Item({"ROOT", "DCIM", "100CANON", "dcim.jpg"}), true);
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(FilesBelow(out.path()),
                 (std::vector<std::string>{"DCIM/", "DCIM/100CANON/", "DCIM/100CANON/dcim.jpg", "notes.txt"}));
        // A ticked folder opened later keeps its files ticked.
        HTREEITEM canon = Item({"ROOT", "DCIM", "100CANON"});
        page->Tree()->SetCheck(canon, true);
        QCOMPARE(page->Tree()->StateImage(canon), 2);
    }

    void ATickedFolderNotYetOpenedIsSavedWhole() {
        Open();
        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        HTREEITEM dcim = Item({"ROOT", "DCIM"});  // its children (100CANON, EMPTY) are loaded, theirs are not
        page->Tree()->SetCheck(dcim, true);
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(FilesBelow(out.path()).size(), size_t(6));
        QVERIFY(fs::exists(out / "DCIM/100CANON/IMG_0002.JPG"));
        HTREEITEM canon = Item({"ROOT", "DCIM", "100CANON"});
        QCOMPARE(page->Tree()->StateImage(canon), 2);
        QCOMPARE(page->Tree()->StateImage(dcim), 2);
    }

    void SaveWithoutAnOutputFolderSaysSo() {
        Open();
        page->Tree()->SelectItem(Item({"ROOT", "DCIM"}));
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(h->Count("select output folder"), 1);
        QVERIFY(h->answers.asked.empty());
    }

    void ADoubleClickedFileIsWritten() {
        Open();
        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        HTREEITEM notes = Item({"ROOT", "notes.txt"});
        const QRect rect = page->Tree()->visualRect(page->Tree()->IndexOf(notes));
        QTest::mouseDClick(page->Tree()->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
        QCOMPARE(FilesBelow(out.path()), std::vector<std::string>{"notes.txt"});
        QCOMPARE(Read(out / "notes.txt"), std::string("notes"));
    }

    void SearchListsHitsWithTheirPaths() {
        Open();
        Find<QLineEdit>(page, "searchPattern")->setText("\\.jpg$|\\.png$");
        QTest::mouseClick(Find<QPushButton>(page, "search"), Qt::LeftButton);
        WaitForWork();
        QCoreApplication::processEvents();
        QCOMPARE(Column(0), QStringList({"ROOT\\DCIM\\100CANON\\IMG_0001.JPG", "ROOT\\DCIM\\100CANON\\IMG_0002.JPG",
                                         "ROOT\\DCIM\\100CANON\\dcim.jpg", "ROOT\\logo.PNG"}));
        QVERIFY(page->ListShowsSearchResults());
        QCOMPARE(h->Count("Searching Finished"), 1);
        QCOMPARE(Status(), QString("Searching Finished"));
        // While hits are listed, their boxes do not reach the tree.
        page->List()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QVERIFY(!page->Tree()->GetCheck(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"})));
        Find<QLineEdit>(page, "searchPattern")->setText("(");
        QTest::mouseClick(Find<QPushButton>(page, "search"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(h->Count("such characters are not allowed for search.Try again with different pattern."), 1);
    }

    void SaveAndSearchWaitForTheScanAndStopKeepsWhatWasFound() {
        h->plan = [](FakeParser& p) {
            for (int i = 0; i < 3000; ++i) p.Add(0, "f" + std::to_string(i), false, "x");
        };
        h->delayPerRow = std::chrono::microseconds(300);
        Open("FAT32", false);
        QVERIFY(page->Job().WorkerBusy());
        QVERIFY(!page->BackButton()->isEnabled());
        QVERIFY(!Find<QWidget>(page, "stop")->isHidden());
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(page, "search"), Qt::LeftButton);
        QCOMPARE(h->Count("Please wait for other process to complete"), 2);
        // Pause holds the worker; Resume lets it go on.
        QTest::mouseClick(Find<QPushButton>(page, "pause"), Qt::LeftButton);
        QTRY_COMPARE(Status(), QString("Pause button pressed"));
        const auto atPause = h->fake->visible.load();
        QTest::qWait(50);
        QVERIFY(h->fake->visible.load() <= atPause + 1);
        QTest::mouseClick(Find<QPushButton>(page, "resume"), Qt::LeftButton);
        QTRY_VERIFY(h->fake->visible.load() > atPause + 5);
        QSignalSpy finished(page, &VolumeScanDlg::scanFinished);
        QTest::mouseClick(Find<QPushButton>(page, "stop"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(page->Job().Outcome(), ScanOutcome::Stopped);
        const std::size_t kept = page->Tree()->Children(page->Tree()->GetRootItem()).size();
        QVERIFY(kept > 5 && kept < 3000);
        QCOMPARE(kept, std::size_t(h->fake->visible.load() - 1));
        QCOMPARE(h->Count(kDone), 1);
        QVERIFY(page->BackButton()->isEnabled());
    }

    void AVolumeOfNoKnownKindIsNotAValidDrive() {
        Open("unknown", false);
        QCOMPARE(h->Count("not a valid drive."), 1);
        QCOMPARE(Status(), QString("Not a valid Drive .Go back"));
        QVERIFY(page->BackButton()->isEnabled());
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        QCOMPARE(h->Count("Please wait for other process to complete"), 1);
        QSignalSpy gone(page, &QObject::destroyed);
        QTest::mouseClick(page->BackButton(), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(gone.count(), 1);
    }

    void BrowseFillsTheOutputFolderAndCancelKeepsIt() {
        Open();
        QString answer = "/tmp/chosen";
        h->app->chooseFolder = [&] { return answer; };
        auto* field = Find<QLineEdit>(page, "outputFolder");
        QTest::mouseClick(Find<QWidget>(page, "browse"), Qt::LeftButton);
        QCOMPARE(field->text(), QString("/tmp/chosen"));
        answer.clear();
        QTest::mouseClick(Find<QWidget>(page, "browse"), Qt::LeftButton);
        QCOMPARE(field->text(), QString("/tmp/chosen"));
    }
};

TARNWELL_QTEST_MAIN(ResultsTest)
#include "ResultsTest.moc"
