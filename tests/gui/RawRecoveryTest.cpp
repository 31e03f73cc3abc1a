// The raw recovery page over an image with files planted at known offsets:
// Parse with the default list, the category tree and the files list, saving
// ticked files of two runs, refusals while a run goes and before one can
// start; and the signature settings dialog.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/RawRecoveryPage.h"
#include "gui/SignatureSettingsBox.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;
namespace fs = std::filesystem;

namespace {
const char* const kDone = "Scanning processing done.Select save button to save the data..";
const char* const kStopped =
    "Scanning stopped before the end. Only what was found until then is listed; select save button to save it.";
const char* const kBusy = "Please wait for other process to complete";
constexpr std::int64_t kVolumeStart = 2048;  // sectors: the volume begins 1 MiB into the image
constexpr std::size_t kBase = kVolumeStart * 512;

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Planted {
    std::size_t offset;  // from the volume start
    std::string type, category;
    std::vector<std::uint8_t> bytes;
};

// Planted at sector starts, some in mid-block, one straddling the first MiB.
std::vector<Planted> Samples() {
    const struct {
        std::size_t offset;
        const char *type, *category;
    } where[] = {{4096, "jpg", "Pictures"},
                 {64 * 1024, "png", "Pictures"},
                 {(1 << 20) - 1024, "gif", "Pictures"},
                 {2 << 20, "pdf", "Documents"},
                 {(2 << 20) + 64 * 1024, "zip", "Archives"}};
    std::vector<Planted> out;
    for (const auto& w : where)
        out.push_back({w.offset, w.type, w.category,
                       ReadBytes(fs::path(TARNWELL_TEST_IMAGES) / "carve" / (std::string("sample.") + w.type))});
    return out;
}

// Ahead of the volume, bytes that are no file: reading them for the volume's
// would show up in the saved files.
std::vector<std::uint8_t> MakeImage(const std::vector<Planted>& planted) {
    std::vector<std::uint8_t> image(kBase + (3 << 20), 0);
    std::fill(image.begin(), image.begin() + kBase, 0xEE);
    for (const auto& p : planted) std::copy(p.bytes.begin(), p.bytes.end(), image.begin() + kBase + p.offset);
    return image;
}

std::string Name(const Planted& p) { return std::to_string(p.offset) + " ." + p.type; }

// A reader whose reads wait until it is opened: a run that cannot end by itself.
class GateReader final : public SectorReader {
public:
    explicit GateReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { SetLength(bytes_.size()); }
    bool Open(const std::string&) override { return true; }
    std::atomic<bool> open{false};
    std::atomic<bool> waiting{false};

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override {
        if (!open) waiting = true;
        while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (position >= bytes_.size()) return {RawStatus::EndOfData, 0};
        std::size_t n = std::min<std::size_t>(count, bytes_.size() - position);
        std::memcpy(destination, bytes_.data() + position, n);
        return {n == count ? RawStatus::Ok : RawStatus::EndOfData, n};
    }

private:
    std::vector<std::uint8_t> bytes_;
};
}  // namespace

class RawRecoveryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GuiHarness> h;
    std::vector<Planted> planted;
    std::string imagePath;
    RawRecoveryPage* page = nullptr;

    void Open(const std::string& sizeText = "3") {
        ScanSession& s = h->app->session;
        s.devicePath = imagePath;
        QVERIFY(s.OpenReader(imagePath));
        s.selectedVolume = {};
        s.selectedVolume.fileSystem = "RAW";
        s.selectedVolume.location = "1";
        s.selectedVolume.sizeText = sizeText;
        s.selectedVolume.startSector = kVolumeStart;
        page = new RawRecoveryPage(*h->app);
        h->app->Open(h->app->Page(PageKind::DriveSelection), page);
    }

    void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(page, name), Qt::LeftButton); }

    void ParseAndWait() {
        QSignalSpy finished(page, &RawRecoveryPage::runFinished);
        Click("parse");
        QVERIFY(finished.wait(20000));
    }

    std::vector<TreeItem> Roots() const {
        std::vector<TreeItem> roots;
        for (TreeItem r = page->Tree()->GetRootItem(); r; r = page->Tree()->GetNextSiblingItem(r)) roots.push_back(r);
        return roots;
    }

    TreeItem Child(TreeItem parent, const QString& text) const {
        for (TreeItem c : page->Tree()->Children(parent))
            if (page->Tree()->GetItemText(c) == text) return c;
        return nullptr;
    }

    QStringList Texts(TreeItem parent) const {
        QStringList out;
        for (TreeItem c : page->Tree()->Children(parent)) out << page->Tree()->GetItemText(c);
        return out;
    }

    QStringList ListTexts() const {
        QStringList out;
        for (int i = 0; i < page->List()->topLevelItemCount(); ++i) out << page->List()->topLevelItem(i)->text(0);
        return out;
    }

    bool Hidden(const char* name) const { return Find<QWidget>(page, name)->isHidden(); }
    bool Enabled(const char* name) const { return Find<QWidget>(page, name)->isEnabled(); }
    QString Status() const { return Find<QLabel>(page, "status")->text(); }

private slots:
    void init() {
        h = std::make_unique<GuiHarness>();
        planted = Samples();
        for (const auto& p : planted) QVERIFY2(!p.bytes.empty(), p.type.c_str());
        auto image = MakeImage(planted);
        imagePath = (h->dir / "planted.img").string();
        std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                         static_cast<std::streamsize>(image.size()));
    }
    void cleanup() {
        page = nullptr;
        h.reset();
    }

    void ParseWithDefaultsListsThePlantedFilesByCategory() {
        UnchangedGuard unchanged(imagePath);
        Open();
        QVERIFY(Find<QCheckBox>(page, "loadDefaults")->isChecked());
        for (const char* name : {"progress", "pause", "resume", "stop"}) QVERIFY2(Hidden(name), name);
        QCOMPARE(page->List()->headerItem()->text(0), QString("FILES LIST "));
        ParseAndWait();

        QCOMPARE(h->Count(kDone), 1);
        QCOMPARE(Status(), QString("Processing done"));
        for (const char* name : {"progress", "pause", "resume", "stop"}) QVERIFY2(Hidden(name), name);
        QVERIFY(page->BackButton()->isEnabled() && Enabled("setting") && Enabled("parse"));
        QVERIFY(!Enabled("chooseSettings") && !Enabled("settingsPath"));

        const auto roots = Roots();
        QCOMPARE(roots.size(), std::size_t(1));
        QCOMPARE(page->Tree()->GetItemText(roots[0]), QString("RAW RECOVERY "));
        // Every category of the list has its item; those with finds show their count.
        QCOMPARE(Texts(roots[0]), QStringList({"Pictures (3)", "Camera RAW", "Documents (1)", "Archives (1)", "Audio", "Video"}));
        for (const auto& p : planted) {
            TreeItem category = nullptr;
            for (TreeItem c : page->Tree()->Children(roots[0]))
                if (page->Tree()->GetItemText(c).startsWith(QString::fromStdString(p.category) + " (")) category = c;
            QVERIFY2(category && Child(category, QString::fromStdString(Name(p))), Name(p).c_str());
            const CarvedItem item = page->Job().Item(page->Tree()->GetItemData(Child(category, QString::fromStdString(Name(p)))) - 1);
            QCOMPARE(item.start, std::int64_t(p.offset));
            QCOMPARE(item.length, std::int64_t(p.bytes.size()));
        }

        // The root's children are categories, so it lists nothing; a category
        // lists its files; a file empties the list.
        TreeItem pictures = Child(roots[0], "Pictures (3)");
        emit page->Tree()->labelClicked(pictures);
        QCOMPARE(ListTexts(), QStringList({"4096 .jpg", "65536 .png", "1047552 .gif"}));
        emit page->Tree()->labelClicked(roots[0]);
        QCOMPARE(ListTexts(), QStringList());
        emit page->Tree()->labelClicked(pictures);
        emit page->Tree()->labelClicked(page->Tree()->Children(pictures).front());
        QCOMPARE(ListTexts(), QStringList());
    }

    void SaveWritesTheTickedFilesOfEveryRun() {
        UnchangedGuard unchanged(imagePath);
        Open();
        Click("save");
        QCOMPARE(h->Count("Please Select item from tree to save"), 1);

        ParseAndWait();
        ParseAndWait();  // a new engine: the first run's items must still write their own bytes
        const auto roots = Roots();
        QCOMPARE(roots.size(), std::size_t(2));
        CheckTree* tree = page->Tree();
        // From the first run the jpg, from the second the whole Documents and Archives categories.
        tree->SetCheck(Child(Child(roots[0], "Pictures (3)"), "4096 .jpg"), true);
        tree->SetCheck(Child(roots[1], "Documents (1)"), true);
        tree->SetCheck(Child(roots[1], "Archives (1)"), true);
        QCOMPARE(page->TickedItems().size(), std::size_t(3));

        Click("save");
        QCOMPARE(h->Count("select output folder"), 1);
        const fs::path out = h->dir / "recovered";
        h->app->chooseFolder = [&] { return QString::fromStdString(out.string()); };
        QVERIFY(!Hidden("browse"));
        Click("browse");
        QCOMPARE(Find<QLineEdit>(page, "outputFolder")->text(), QString::fromStdString(out.string()));
        QSignalSpy saved(page, &RawRecoveryPage::saveFinished);
        Click("save");
        QVERIFY(saved.wait(20000));

        QCOMPARE(h->Count("work done: 3 of 3 files written into " + out.string()), 1);
        for (const Planted* p : {&planted[0], &planted[3], &planted[4]}) {
            const fs::path file = out / p->category / (std::to_string(kBase + p->offset) + "." + p->type);
            QVERIFY2(fs::exists(file), file.c_str());
            QVERIFY2(ReadBytes(file) == p->bytes, file.c_str());
        }
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(out)) files += e.is_regular_file();
        QCOMPARE(files, std::size_t(3));
        QVERIFY(page->BackButton()->isEnabled() && Hidden("progress"));
    }

    // Carved files that do not fit the output disk: the end says how many were
    // written, never "work done".
    void ASaveOntoAFullDiskDoesNotSayWorkDone() {
        if (::geteuid() != 0) QSKIP("mounting a small tmpfs needs root");
        const fs::path full = h->dir / "full";
        fs::create_directories(full);
        if (std::system(("mount -t tmpfs -o size=32k tmpfs '" + full.string() + "' >/dev/null 2>&1").c_str()) != 0)
            QSKIP("tmpfs cannot be mounted here");
        struct Unmount {
            fs::path at;
            ~Unmount() { std::system(("umount '" + at.string() + "' >/dev/null 2>&1").c_str()); }
        } unmount{full};
        Open();
        ParseAndWait();
        page->Tree()->SetCheck(Roots().front(), true);
        QCOMPARE(page->TickedItems().size(), planted.size());
        Find<QLineEdit>(page, "outputFolder")->setText(QString::fromStdString(full.string()));
        QSignalSpy saved(page, &RawRecoveryPage::saveFinished);
        Click("save");
        QVERIFY(saved.wait(20000));
        std::string end;
        for (const auto& t : h->answers.informed) {
            QVERIFY2(t.rfind("work done", 0) != 0, t.c_str());
            if (t.rfind("Saving ended: ", 0) == 0) end = t;
        }
        QVERIFY2(end.find(" of 5 files written into " + full.string() + "\n") != std::string::npos, end.c_str());
        QVERIFY2(end.find(" could not be written:") != std::string::npos, end.c_str());
        QCOMPARE(Status(), QString("Saving done, with files not written"));
    }

    void ParseAndSaveAreRefusedWhileARunGoes() {
        Open("12");
        // Twelve MiB, read a few MiB at a time; one more jpg far past the first read.
        auto bytes = MakeImage(planted);
        bytes.resize(kBase + (12 << 20), 0);
        std::copy(planted[0].bytes.begin(), planted[0].bytes.end(), bytes.begin() + kBase + (9 << 20));
        auto gate = std::make_unique<GateReader>(std::move(bytes));
        GateReader* reader = gate.get();
        h->app->session.reader = std::move(gate);
        h->app->session.devicePath.clear();
        QSignalSpy finished(page, &RawRecoveryPage::runFinished);
        Click("parse");
        QVERIFY(!Enabled("parse"));
        for (const char* name : {"back", "chooseSettings", "settingsPath", "setting"}) QVERIFY2(!Enabled(name), name);
        QVERIFY(!Hidden("stop"));
        // The button is off; the job refuses a second start whatever calls it.
        QVERIFY(page->Job().StartRun({}, {}) == CarveStart::Busy);
        QVERIFY(!page->Job().LoadDefaults({}));
        QVERIFY(!page->Job().StartSave({0}, h->dir.path().string()));
        QCOMPARE(h->Count(kBusy), 3);

        QTRY_VERIFY(reader->waiting.load());
        Click("stop");
        QCOMPARE(Status(), QString("Stop button pressed.Please wait for the process to stop"));
        reader->open = true;
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(Roots().size(), std::size_t(1));
        for (const CarvedItem& item : page->Job().Items()) QVERIFY(item.start < (9 << 20));
        // What a stopped run lists is only part of the volume's: it says so.
        QCOMPARE(h->Count(kDone), 0);
        QCOMPARE(h->Count(kStopped), 1);
        QCOMPARE(Status(), QString("Processing stopped"));
        // A stopped run does not stop the next, which reads to the end.
        ParseAndWait();
        QCOMPARE(Roots().size(), std::size_t(2));
        QCOMPARE(Texts(Roots()[1]).front(), QString("Pictures (4)"));
    }

    void ARunThatCannotStartSaysWhy_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("custom volume without a range") << 0 << "zero size volume..";
        QTest::newRow("no list to load") << 1 << "enter the info file first..";
        QTest::newRow("settings file missing") << 2 << "can not open file";
        QTest::newRow("reader never opened")
            << 3 << "The drive could not be opened for reading, so nothing can be recovered from it. "
                    "Go Back and choose the drive again.";
        QTest::newRow("default list not valid")
            << 4 << "No file types are loaded, so there is nothing to look for. "
                    "Tick \"Load Default Items\" or choose a valid settings file.";
    }
    void ARunThatCannotStartSaysWhy() {
        QFETCH(int, setup);
        QFETCH(QString, message);
        Open(setup == 0 ? "0" : "3");
        auto* defaults = Find<QCheckBox>(page, "loadDefaults");
        auto* path = Find<QLineEdit>(page, "settingsPath");
        if (setup == 1) defaults->setChecked(false);
        if (setup == 2) path->setText(QString::fromStdString((h->dir / "missing.txt").string()));
        if (setup == 3) {
            h->app->session.ResetReader();
            h->app->session.devicePath.clear();
        }
        if (setup == 4) {
            std::ofstream(h->dir / "huge.txt", std::ios::binary).write(std::string((1 << 20) + 172, 'x').data(), (1 << 20) + 172);
            QVERIFY(!page->Job().LoadDefaults((h->dir / "huge.txt").string()));
            QCOMPARE(h->Count("not a valid file.."), 1);
            defaults->setChecked(false);
        }
        Click("parse");
        QCOMPARE(h->Count(message.toStdString()), 1);
        QCOMPARE(h->Count(kDone), 0);
        QCOMPARE(Status(), QString("Processing done"));
        for (const char* name : {"progress", "pause", "resume", "stop"}) QVERIFY2(Hidden(name), name);
        QVERIFY(page->BackButton()->isEnabled() && Enabled("parse"));
        QCOMPARE(Roots().size(), std::size_t(0));
    }

    void SettingOpensTheDialogModally() {
        Open();
        QString opened;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<SignatureSettingsBox*>(QApplication::activeModalWidget())) {
                opened = dialog->windowTitle();
                dialog->reject();
            }
        });
        Click("setting");
        QCOMPARE(opened, QString("Tarnwell v21.04"));
    }

    void TheSettingsDialogWritesWhatSignaturesAddWrites() {
        Open();
        SignatureSettingsBox dialog(*h->app, page);
        dialog.show();
        auto field = [&](const char* name) { return Find<QLineEdit>(&dialog, name); };
        auto save = [&] { QTest::mouseClick(Find<QPushButton>(&dialog, "save"), Qt::LeftButton); };

        auto* info = Find<QToolButton>(&dialog, "info1306");
        QVERIFY(info->toolTip().startsWith("Enter file extention .\n"));
        info->click();
        QVERIFY(info->toolTip().startsWith("here enter the file extentiom .\n"));

        field("extension")->setText("png");
        field("startSignature")->setText("0x89,0x50,,0x4E,0x47");
        save();  // no file chosen yet: nothing happens
        QVERIFY(h->answers.informed.empty());

        h->app->chooseNewSettingsFile = [&] { return QString::fromStdString((h->dir / "no/such/folder/x.txt").string()); };
        QTest::mouseClick(Find<QPushButton>(&dialog, "chooseFile"), Qt::LeftButton);
        QCOMPARE(h->Count("file can not be created"), 1);
        QVERIFY(dialog.OpenFile().empty());

        const fs::path file = h->dir / "mine.txt";
        h->dir.Write("mine.txt", std::string(171, 'x'));  // an existing file is emptied
        h->app->chooseNewSettingsFile = [&] { return QString::fromStdString(file.string()); };
        QTest::mouseClick(Find<QPushButton>(&dialog, "chooseFile"), Qt::LeftButton);
        QCOMPARE(Find<QLineEdit>(&dialog, "settingsPath")->text(), QString::fromStdString(file.string()));
        QCOMPARE(fs::file_size(file), std::uintmax_t(0));

        // Refusals write nothing.
        const struct {
            const char *ext, *start, *end, *approx, *category, *message;
        } refused[] = {
            {"", "0x89", "", "100", "", "extention length is zero.."},
            {"png", ",,", "", "100", "", "signature length is zero.."},
            {"png", "1,2,3,4,5,6,7,8,9,10,11", "", "100", "", "a signature has at most 10 bytes"},
            {"png", "0x89,0x50", "", "100", "Fifty characters make a category that is too long!", "a category has at most 49 characters"},
            {"png", "0x89,0x50", "", "", "",
             "give an end signature, a size field or an approximate size: without one only empty files are found"},
        };
        for (const auto& r : refused) {
            field("extension")->setText(r.ext);
            field("startSignature")->setText(r.start);
            field("endSignature")->setText(r.end);
            field("approxSize")->setText(r.approx);
            field("category")->setText(r.category);
            save();
            QVERIFY2(h->Count(r.message) == 1, r.message);
        }
        QCOMPARE(fs::file_size(file), std::uintmax_t(0));

        // Two records, the second with every field; byte for byte what the command line appends.
        field("extension")->setText("png");
        field("startSignature")->setText("0x89,0x50,,0x4E,0x47");
        field("endSignature")->setText("0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82");
        field("approxSize")->setText("");
        field("category")->setText("Pictures");
        save();
        field("extension")->setText("wave");
        field("startSignature")->setText("52,49,46,46");
        field("endSignature")->setText("");
        field("sizeOffset")->setText("4");
        field("sizeBytes")->setText("4");
        field("headerSize")->setText("8");
        field("skipSize")->setText("1024");
        field("approxSize")->setText("5000000000");
        field("category")->setText("Audio");
        save();
        QCOMPARE(h->Count("everything initialized well....."), 2);

        const std::string cli = (h->dir / "cli.txt").string();
        QCOMPARE(RunCli({"signatures", "add", cli, "--ext", "png", "--start", "0x89,0x50,,0x4E,0x47", "--end",
                         "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82", "--category", "Pictures"}).exitCode, 0);
        QCOMPARE(RunCli({"signatures", "add", cli, "--ext", "wave", "--start", "52,49,46,46", "--size-offset", "4",
                         "--size-bytes", "4", "--header-size", "8", "--skip", "1024", "--approx", "5000000000",
                         "--category", "Audio"}).exitCode, 0);
        QVERIFY(ReadBytes(file) == ReadBytes(cli));

        SignatureFile back = ReadSignatureFile(file.string());
        QVERIFY(back.error.empty());
        QCOMPARE(back.records.size(), std::size_t(2));
        QCOMPARE(int(back.records[0].index), 0);
        QCOMPARE(int(back.records[1].index), 1);
        QVERIFY(back.records[0].start == std::vector<std::uint8_t>({0x89, 0x50, 0x4E, 0x47}));
        QCOMPARE(back.records[1].approximateSize, std::int64_t(5000000000));
        QCOMPARE(back.records[1].extensionLength, std::uint8_t(4));
    }
};

TARNWELL_QTEST_MAIN(RawRecoveryTest)
#include "RawRecoveryTest.moc"
