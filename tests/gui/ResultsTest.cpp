// The results page over a FakeParser: the scan on a worker with its texts,
// the lazy tree with red deleted rows, the detail list, saving (selected
// folder, ticked rows, a double-clicked file), search, Stop, Pause, refusals.

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device/FileReader.h"
#include "device/MemoryReader.h"
#include "gui/DriveSelectionPage.h"
#include "gui/ScanResultsPage.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;
namespace fs = std::filesystem;

namespace {
const char* const kDone = "Scanning processing done.Select save button to save the data.";
const char* const kStopped =
    "Scanning stopped before the end. Only what was found until then is listed; select save button to save it.";

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A mount made for one test, undone at its end whatever happens.
struct Mount {
    fs::path point;
    std::string loop;  // the loop device behind it, when there is one
    bool ok = false;
    ~Mount() {
        if (ok) Shell("umount '" + point.string() + "'");
        if (!loop.empty()) Shell("losetup -d '" + loop + "'");
    }
};

// The first message that starts with prefix, or empty.
std::string StartingWith(const std::vector<std::string>& texts, const std::string& prefix) {
    for (const auto& t : texts)
        if (t.rfind(prefix, 0) == 0) return t;
    return {};
}

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
    ScanResultsPage* page = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;

    // Opens the results page for a volume of this name and waits for the scan when asked.
    void Open(const std::string& fileSystem = "FAT32", bool wait = true, bool modelTester = true,
              const std::function<void(ScanSession&)>& prepare = {}) {
        h->app->session.reader = std::make_unique<MemoryReader>(std::vector<std::uint8_t>(4096));
        h->app->session.selectedVolume = {};
        h->app->session.selectedVolume.fileSystem = fileSystem;
        h->app->session.selectedVolume.location = "1";
        h->app->session.selectedVolume.sizeText = "1  MB";
        h->app->session.recoveryMode = RecoveryMode::Standard;
        if (prepare) prepare(h->app->session);
        auto* drivePage = h->app->Page(PageKind::DriveSelection);
        page = new ScanResultsPage(*h->app);
        // The model tester opens folders itself, so a test of what stays unloaded goes without it.
        if (modelTester)
            tester = std::make_unique<QAbstractItemModelTester>(page->Tree()->Model(),
                                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy finished(page, &ScanResultsPage::scanFinished);
        h->app->Open(drivePage, page);
        if (wait) QVERIFY(finished.count() > 0 || finished.wait(10000));
    }

    TreeItem Item(const QStringList& path) {
        CheckTree* tree = page->Tree();
        TreeItem item = tree->GetRootItem();
        if (!item || tree->GetItemText(item) != path.front()) return nullptr;
        for (int i = 1; i < path.size(); ++i) {
            tree->EnsureChildren(item);
            TreeItem next = nullptr;
            for (TreeItem c : tree->Children(item))
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
        QSignalSpy done(page, &ScanResultsPage::workFinished);
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
        TreeItem root = page->Tree()->GetRootItem();
        QCOMPARE(page->Tree()->GetItemText(root), QString("ROOT"));
        QStringList top;
        for (TreeItem c : page->Tree()->Children(root)) top << page->Tree()->GetItemText(c);
        QCOMPARE(top, QStringList({"DCIM", "notes.txt", "logo.PNG", "LOST"}));
        // Deeper levels wait until a folder is opened.
        TreeItem dcim = page->Tree()->Children(root).front();
        QVERIFY(page->Tree()->Model()->hasChildren(page->Tree()->IndexOf(dcim)));
        QCOMPARE(page->Tree()->Model()->rowCount(page->Tree()->IndexOf(dcim)), 0);
        TreeItem lost = page->Tree()->Children(root).back();
        QVERIFY(!page->Tree()->Model()->hasChildren(page->Tree()->IndexOf(lost)));
        QStringList headers;
        for (int c = 0; c < page->List()->columnCount(); ++c) headers << page->List()->headerItem()->text(c);
        QCOMPARE(headers, QStringList({"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size",
                                       "Attribute"}));
        QCOMPARE(Find<QLabel>(page, "searchHint")->text(), QString("* Use \"|\" to find multiple file type "));
    }

    void DeletedRowsAreRedAndAFolderClickListsItsFiles() {
        Open();
        TreeItem canon = Item({"ROOT", "DCIM", "100CANON"});
        QVERIFY(canon);
        page->Tree()->scrollTo(page->Tree()->IndexOf(canon));
        TreeItem deleted = Item({"ROOT", "DCIM", "100CANON", "IMG_0002.JPG"});
        QCOMPARE(page->Tree()->IndexOf(deleted).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QVERIFY(!page->Tree()->IndexOf(Item({"ROOT", "DCIM", "100CANON", "IMG_0001.JPG"}))
                     .data(Qt::ForegroundRole)
                     .isValid());
        emit page->Tree()->labelClicked(canon);
        QCOMPARE(Column(0), QStringList({"IMG_0001.JPG", "IMG_0002.JPG", "dcim.jpg"}));
        QCOMPARE(Column(4), QStringList({"8 Bytes", "8 Bytes", "5 Bytes"}));
        QCOMPARE(page->List()->topLevelItem(1)->foreground(0).color(), QColor(255, 0, 0));
        // A folder of folders lists no files; clicking twice inserts its children once.
        TreeItem dcim = Item({"ROOT", "DCIM"});
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
        TreeItem canon = Item({"ROOT", "DCIM", "100CANON"});
        page->Tree()->SetCheck(canon, true);
        QCOMPARE(page->Tree()->StateImage(canon), 2);
    }

    void ATickedFolderNotYetOpenedIsSavedWhole() {
        Open();
        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        TreeItem dcim = Item({"ROOT", "DCIM"});  // its children (100CANON, EMPTY) are loaded, theirs are not
        page->Tree()->SetCheck(dcim, true);
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(FilesBelow(out.path()).size(), size_t(6));
        QVERIFY(fs::exists(out / "DCIM/100CANON/IMG_0002.JPG"));
        TreeItem canon = Item({"ROOT", "DCIM", "100CANON"});
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
        TreeItem notes = Item({"ROOT", "notes.txt"});
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
        QSignalSpy finished(page, &ScanResultsPage::scanFinished);
        QTest::mouseClick(Find<QPushButton>(page, "stop"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(page->Job().Outcome(), ScanOutcome::Stopped);
        const std::size_t kept = page->Tree()->Children(page->Tree()->GetRootItem()).size();
        QVERIFY(kept > 5 && kept < 3000);
        QCOMPARE(kept, std::size_t(h->fake->visible.load() - 1));
        // Partial results are never announced as a finished scan.
        QCOMPARE(h->Count(kDone), 0);
        QCOMPARE(h->Count(kStopped), 1);
        QCOMPARE(Status(), QString(kStopped));
        QVERIFY(page->BackButton()->isEnabled());
    }

    // A disk that fills up during a save: the end says how many were written
    // and how many failed, never "work done".
    void SaveOntoAFullDiskSaysWhatWasNotWritten() {
        if (::geteuid() != 0) QSKIP("mounting a small tmpfs needs root");
        const std::string block(8192, 'x');
        h->plan = [&](FakeParser& p) {
            RowId photos = p.Add(0, "PHOTOS", true);
            for (int i = 1; i <= 9; ++i) p.Add(photos, "IMG_000" + std::to_string(i) + ".JPG", false, block);
        };
        Open();
        Mount full;
        full.point = h->dir / "full";
        fs::create_directories(full.point);
        full.ok = Shell("mount -t tmpfs -o size=32k tmpfs '" + full.point.string() + "'") == 0;
        if (!full.ok) QSKIP("tmpfs cannot be mounted here");
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(full.point.string()));
        page->Tree()->SelectItem(Item({"ROOT", "PHOTOS"}));
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();

        QCOMPARE(h->Count("work done"), 0);
        const std::string end = StartingWith(h->answers.informed, "Saving ended: ");
        QVERIFY2(!end.empty(), "the save ends with its counts");
        unsigned long long whole = 0, asked = 0, partial = 0, failed = 0;
        QCOMPARE(std::sscanf(end.c_str(), "Saving ended: %llu of %llu files written whole, %llu partial, %llu failed.",
                             &whole, &asked, &partial, &failed),
                 4);
        QCOMPARE(asked, 9ull);
        QCOMPARE(partial, 0ull);
        QVERIFY2(failed > 0 && whole + failed == 9, end.c_str());
        std::uint64_t complete = 0;
        for (const auto& e : fs::recursive_directory_iterator(full.point))
            if (e.is_regular_file() && Read(e.path()) == block) ++complete;
        QCOMPARE(complete, std::uint64_t(whole));
        QVERIFY(Status().startsWith("Saving ended: "));
    }

    // A source cut short under the volume: the file it cuts is saved as far as
    // the source goes and counted partial, the files wholly past its end are
    // failed and left out, and the end says so.
    void SaveFromAShortSourceCountsThePartialFiles() {
        const std::string card = ImagePath("sample-card");
        if (card.empty()) QSKIP("no sample card");
        const fs::path shortCard = h->dir / "short.img";
        fs::copy_file(card, shortCard);
        fs::resize_file(shortCard, 1114624 + 8192);  // the card ends inside IMG_0005.JPG
        h->app->parserMaker = {};              // the real FAT parser
        Open("FAT32", true, true, [&](ScanSession& session) {
            auto reader = std::make_unique<FileReader>();
            QVERIFY(reader->Open(shortCard.string()));
            session.reader = std::move(reader);
            session.devicePath = shortCard.string();
            session.selectedVolume.sectorCount = 131072;
            session.selectedVolume.sizeText = "64  MB";
        });

        TempDir out;
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(out.path().string()));
        page->Tree()->SelectItem(Item({"ROOT", "DCIM"}));
        QVERIFY(page->Tree()->GetSelectedItem());
        QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
        WaitForWork();
        QCOMPARE(h->Count("work done"), 0);
        const std::string end = StartingWith(h->answers.informed, "Saving ended: ");
        QVERIFY2(end.rfind("Saving ended: 4 of 8 files written whole, 1 partial, 3 failed.\n", 0) == 0, end.c_str());
        QVERIFY2(end.find("IMG_0007.JPG: no data could be read") != std::string::npos, end.c_str());
        QCOMPARE(fs::file_size(out / "100CANON/IMG_0004.JPG"), std::uintmax_t(15454));
        QVERIFY(fs::exists(out / "100CANON/IMG_0005.JPG"));
        QVERIFY(!fs::exists(out / "100CANON/IMG_0007.JPG"));
    }

    // Save refuses a folder on the source before it creates anything there,
    // whether the source is named by its loop device or by the image behind it.
    void SaveRefusesAFolderOnTheSourceAndCreatesNothing_data() {
        QTest::addColumn<bool>("byImage");
        QTest::newRow("the loop device") << false;
        QTest::newRow("the image behind the loop device") << true;
    }
    void SaveRefusesAFolderOnTheSourceAndCreatesNothing() {
        QFETCH(bool, byImage);
        if (::geteuid() != 0) QSKIP("loop devices need root");
        const fs::path image = h->dir / "source.img";
        if (Shell("truncate -s 8M '" + image.string() + "' && mkfs.ext2 -q '" + image.string() + "'") != 0)
            QSKIP("mkfs.ext2 is not installed");
        // The kernel stamps mount and write times into the primary superblock on
        // every mount and unmount, whatever else happens: compare the rest.
        auto outsideSuperblock = [](const fs::path& file) {
            std::ifstream in(file, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            if (bytes.size() >= 2048) std::fill_n(bytes.begin() + 1024, 1024, '\0');
            return std::hash<std::string>{}(bytes);
        };
        const std::size_t before = outsideSuperblock(image);
        std::string loop;
        {
            FILE* pipe = ::popen(("losetup -f --show '" + image.string() + "' 2>/dev/null").c_str(), "r");
            char line[256] = {0};
            if (pipe && std::fgets(line, sizeof line, pipe)) loop = line;
            if (pipe) ::pclose(pipe);
            while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
        }
        if (loop.empty()) QSKIP("no loop device");
        {
            Mount source;
            source.loop = loop;
            source.point = h->dir / "mnt";
            fs::create_directories(source.point);
            source.ok = Shell("mount '" + loop + "' '" + source.point.string() + "'") == 0;
            if (!source.ok) QSKIP("the loop device cannot be mounted");

            Open();
            h->app->session.devicePath = byImage ? image.string() : loop;
            const fs::path target = source.point / "rec" / "photos";
            Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(target.string()));
            page->Tree()->SelectItem(Item({"ROOT", "DCIM"}));
            QTest::mouseClick(Find<QPushButton>(page, "save"), Qt::LeftButton);
            WaitForWork();
            QCOMPARE(h->Count("work done"), 0);
            const std::string refusal = StartingWith(h->answers.informed, "refusing to write into");
            QVERIFY2(!refusal.empty(), "the refusal is shown");
            QVERIFY2(!fs::exists(source.point / "rec"), "nothing is created on the source");
        }
        QCOMPARE(outsideSuperblock(image), before);
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
