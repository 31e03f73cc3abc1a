// The advanced input page: its lists and texts per file-system kind on the
// committed images, the hand-over to the results page, Pause and Stop keeping
// what was found, Back while the finder still reads, and the refusals.

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QLineEdit>
#include <QSignalSpy>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/ByteView.h"
#include "device/MemoryReader.h"
#include "gui/AdvancedInputPage.h"
#include "gui/RecoveryModePage.h"
#include "gui/ScanResultsPage.h"
#include "GuiTestSupport.h"
#include "partition/FatBootSector.h"
#include "support/ImageListing.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;

namespace {

std::vector<std::uint8_t> LoadImage(const std::string& name) {
    const std::string path = ImagePath(name);
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Where the intact image's own boot sector puts its tables, cluster size and heap.
struct Truth {
    std::vector<std::uint64_t> tables;
    std::uint32_t clusterValue = 0;  // sectors per cluster, exFAT its shift
    std::uint64_t heap = 0;
};

Truth TruthOf(const std::vector<std::uint8_t>& image, TableKind kind) {
    Truth t;
    ByteView boot(image.data(), 512);
    if (kind == TableKind::Ntfs) {
        const std::uint64_t cluster = std::uint64_t(boot.Le16(0x0B)) * boot.U8(0x0D);
        t.tables = {boot.Le64(0x30) * cluster};
        t.clusterValue = static_cast<std::uint32_t>(cluster / 512);
    } else if (kind == TableKind::ExFat) {
        const unsigned bps = boot.U8(108);
        const std::uint64_t fat = std::uint64_t(boot.Le32(80)) << bps;
        t.tables = {fat};
        if (boot.U8(110) == 2) t.tables.push_back(fat + (std::uint64_t(boot.Le32(84)) << bps));
        t.clusterValue = bps + boot.U8(109) - 9;
        t.heap = std::uint64_t(boot.Le32(88)) << bps;
    } else if (auto p = ParseFatBootSector(boot)) {
        for (unsigned i = 0; i < p->fatCount; ++i)
            t.tables.push_back(p->FatOffset() + std::uint64_t(i) * p->sectorsPerFat * p->bytesPerSector);
        t.clusterValue = p->bytesPerSector * p->sectorsPerCluster / 512;
    }
    return t;
}

// A reader that holds every read from gateAt on until released, so that a
// test can act while the finder is inside a read.
class GateReader final : public SectorReader {
public:
    GateReader(std::vector<std::uint8_t> bytes, std::uint64_t gateAt) : bytes_(std::move(bytes)), gateAt_(gateAt) {
        SetLength(bytes_.size());
    }
    bool Open(const std::string&) override { return true; }

    bool WaitUntilHeld(int ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int ReadsInFlight() const { return inFlight_.load(); }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override {
        ++inFlight_;
        if (position + count > gateAt_) {
            std::unique_lock lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        }
        std::size_t n = position < bytes_.size() ? std::min<std::size_t>(count, bytes_.size() - position) : 0;
        std::memcpy(destination, bytes_.data() + position, n);
        --inFlight_;
        return {n == count ? RawStatus::Ok : RawStatus::EndOfData, n};
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t gateAt_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false, open_ = false;
    std::atomic<int> inFlight_{0};
};

// 8 MiB holding FAT32 table heads at 4 KiB and at 3 MiB.
std::vector<std::uint8_t> TwoFat32Heads() {
    std::vector<std::uint8_t> disk(8u << 20, 0);
    const std::uint8_t head[8] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    for (std::uint64_t at : {4096ull, 3ull << 20}) std::memcpy(disk.data() + at, head, 8);
    return disk;
}

QStringList Items(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
}

std::string Filled(const char* format, std::size_t a, std::size_t b = 0) {
    char text[400];
    std::snprintf(text, sizeof text, format, static_cast<int>(a), static_cast<int>(b));
    return text;
}

const char* const kRestart = "Please Restart the program to re begin necessary initialization...";

}  // namespace

class AdvancedPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GuiHarness> h;
    QPointer<AdvancedInputPage> page;

    void Select(const std::string& fileSystem, std::unique_ptr<SectorReader> reader, const char* max = "3") {
        ScanSession& s = h->app->session;
        const std::uint64_t bytes = reader ? reader->fileLength() : 0;
        s.reader = std::move(reader);
        s.selectedVolume = {};
        s.selectedVolume.fileSystem = fileSystem;
        s.selectedVolume.location = "1";
        s.selectedVolume.sizeText = std::to_string(bytes >> 20) + "  MB";
        s.selectedVolume.sectorCount = bytes / 512;
        s.recoveryMode = RecoveryMode::Advanced;
        s.maxFileSystems = max;
    }

    // Opens the page over the session as Select left it; waits for the search when asked.
    void OpenPage(bool wait = true) {
        page = new AdvancedInputPage(*h->app);
        QSignalSpy finished(page.data(), &AdvancedInputPage::searchFinished);
        h->app->Open(h->app->Page(PageKind::DriveSelection), page);
        if (wait) QVERIFY(finished.count() > 0 || finished.wait(30000));
    }

    template <typename T>
    T* W(const char* name) const { return Find<T>(page, name); }

private slots:
    void init() { h = std::make_unique<GuiHarness>(); }
    void cleanup() {
        page = nullptr;
        h.reset();
    }

    void ThePageShowsWhatTheFindersFoundPerKind_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("zeroBoot");
        QTest::addColumn<QString>("max");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("message");  // %d: tables found (exFAT: then heaps)
        QTest::addColumn<QString>("status");
        const QString choose = " . Please select the choice from combo box and click Next button to proceed.";
        // The backup boot sector gives the cluster size when the primary is gone.
        QTest::newRow("FAT32, boot zeroed") << "fat32-card" << "FAT32" << int(TableKind::Fat32) << true << "3"
                                            << "TFS :" << "FAT32_ENTRY:" << "Number of FAT32-ENTRY found = %d" + choose
                                            << "Parsing done.Click Next to continue.";
        QTest::newRow("FAT32, at most one") << "fat32-card" << "fat32" << int(TableKind::Fat32) << false << "1"
                                            << "TFS :" << "FAT32_ENTRY:" << "Number of FAT32-ENTRY found = %d" + choose
                                            << "Parsing done.Click Next to continue.";
        QTest::newRow("FAT16") << "fat16-stick" << "FAT16" << int(TableKind::Fat16) << false << "3"
                               << "Total fat16 Entries Found:" << "FAT_ENTRY:"
                               << "Number of FAT-ENTRY found = %d" + choose << "Parsing done.Click Next to continue.";
        // FAT12 takes FAT16's row, its own 12-bit signature, and 0 counts as 3.
        QTest::newRow("FAT12, maximum 0") << "fat12-floppy" << "FAT12" << int(TableKind::Fat12) << false << "0"
                                          << "Total fat16 Entries Found:" << "FAT_ENTRY:"
                                          << "Number of FAT-ENTRY found = %d" + choose
                                          << "Parsing done.Click Next to continue.";
        QTest::newRow("exFAT") << "exfat-4k" << "exFAT" << int(TableKind::ExFat) << false << "3"
                               << "Total fat64 Entries Found:" << "FAT64_ENTRY:"
                               << "Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . "
                                  "Please select the choice from ( Entry and Heap ) Combobox and click Next button to "
                                  "proceed."
                               << "Parsing done.Click Next to continue.";
        QTest::newRow("NTFS, boot zeroed") << "ntfs-4k" << "NTFS" << int(TableKind::Ntfs) << true << "3" << "TFS :"
                                           << "MFT_ENTRY:" << "Number of MFT-ENTRY found = %d" + choose
                                           << "Parsing done.Click next to continue.";
    }

    void ThePageShowsWhatTheFindersFoundPerKind() {
        QFETCH(QString, image);
        QFETCH(QString, fileSystem);
        QFETCH(int, kind);
        QFETCH(bool, zeroBoot);
        QFETCH(QString, max);
        QFETCH(QString, label);
        QFETCH(QString, prefix);
        QFETCH(QString, message);
        QFETCH(QString, status);
        std::vector<std::uint8_t> bytes = LoadImage(image.toStdString());
        if (bytes.empty()) QSKIP("image not committed");
        UnchangedGuard unchanged(ImagePath(image.toStdString()));
        const auto k = static_cast<TableKind>(kind);
        Truth truth = TruthOf(bytes, k);
        QVERIFY(!truth.tables.empty());
        if (zeroBoot) std::memset(bytes.data(), 0, 512);
        const std::size_t limit = static_cast<std::size_t>(CandidateLimit(max.toInt()));
        if (truth.tables.size() > limit) truth.tables.resize(limit);
        Select(fileSystem.toStdString(), std::make_unique<MemoryReader>(bytes), max.toLatin1().constData());
        OpenPage();

        QCOMPARE(W<QLabel>("tableLabel")->text(), label);
        QStringList expected;
        for (std::size_t i = 0; i < truth.tables.size(); ++i) expected << prefix + QString::number(i);
        QCOMPARE(Items(W<QComboBox>("tables")), expected);
        QCOMPARE(page->Found()->tables, truth.tables);
        // The boot's (or its backup's) value leads the cluster list; the list holds each value once.
        const QStringList clusters = Items(W<QComboBox>("clusters"));
        QCOMPARE(clusters.value(0), QString::number(truth.clusterValue));
        QCOMPARE(QSet<QString>(clusters.begin(), clusters.end()).size(), clusters.size());
        for (const char* list : {"tables", "clusters"}) QCOMPARE(W<QComboBox>(list)->currentIndex(), 0);

        const bool exfat = k == TableKind::ExFat;
        QCOMPARE(W<QLabel>("clusterLabel")->isVisible(), !exfat);
        QVERIFY(W<QComboBox>("clusters")->isVisible());
        QCOMPARE(W<QLabel>("heapLabel")->isVisible(), exfat);
        QCOMPARE(W<QComboBox>("heaps")->isVisible(), exfat);
        const std::size_t heaps = page->Found()->heaps.size();
        if (exfat) {
            QVERIFY(heaps > 0);
            QCOMPARE(page->Found()->heaps.front(), truth.heap);
            QCOMPARE(W<QComboBox>("heaps")->itemText(0), QString("HEAP_OFFSET_ENTRY:0"));
            QCOMPARE(W<QComboBox>("heaps")->count(), int(heaps));
        } else {
            QCOMPARE(W<QComboBox>("heaps")->count(), 0);
        }
        QCOMPARE(h->Count(Filled(message.toLatin1().constData(), truth.tables.size(), heaps)), 1);
        QCOMPARE(W<QLabel>("status")->text(), status);
        QVERIFY(page->NextButton()->isEnabled());
        QVERIFY(page->BackButton()->isEnabled());
        for (const char* name : {"progress", "pause", "resume", "stop"}) QVERIFY2(W<QWidget>(name)->isHidden(), name);
    }

    void NextHandsThePicksToTheResultsPageWhichListsTheFiles() {
        std::vector<std::uint8_t> bytes = LoadImage("fat32-card");
        if (bytes.empty()) QSKIP("image not committed");
        UnchangedGuard unchanged(ImagePath("fat32-card"));
        std::memset(bytes.data(), 0, 512);
        h->app->parserMaker = nullptr;  // the real parsers
        Select("FAT32", std::make_unique<MemoryReader>(bytes), "4");
        // The road from the recovery mode page, as the user takes it.
        auto* mode = new RecoveryModePage(*h->app, PageKind::VolumeList);
        h->app->Open(h->app->Page(PageKind::DriveSelection), mode);
        mode->findChild<QRadioButton*>("advanced")->click();
        mode->findChild<QLineEdit*>("maxFileSystems")->setText("4");
        QTest::mouseClick(mode->NextButton(), Qt::LeftButton);
        page = qobject_cast<AdvancedInputPage*>(h->app->Current());
        QVERIFY(page);
        QSignalSpy finished(page.data(), &AdvancedInputPage::searchFinished);
        QVERIFY(finished.count() > 0 || finished.wait(30000));
        auto* clusters = W<QComboBox>("clusters");
        const QString firstCluster = clusters->itemText(0);

        // Next needs a pick in both lists.
        W<QComboBox>("tables")->setCurrentIndex(-1);
        QTest::mouseClick(page->NextButton(), Qt::LeftButton);
        QCOMPARE(h->app->Current(), static_cast<WizardPage*>(page.data()));
        W<QComboBox>("tables")->setCurrentIndex(0);

        QTest::mouseClick(page->NextButton(), Qt::LeftButton);
        auto* results = qobject_cast<ScanResultsPage*>(h->app->Current());
        QVERIFY(results);
        const AdvancedChoice& picks = h->app->session.advanced;
        QCOMPARE(picks.max, 4);
        QCOMPARE(picks.table, 0);
        QCOMPARE(picks.cluster, 0);
        QCOMPARE(picks.found.get(), page->Found().get());  // the scan does not search again
        // The mirrors hold the page's lists with the same picks, and stay hidden.
        for (auto [mirror, source] : {std::pair{"mirrorTables", "tables"}, std::pair{"mirrorClusters", "clusters"},
                                      std::pair{"mirrorHeaps", "heaps"}}) {
            auto* m = Find<QComboBox>(results, mirror);
            QCOMPARE(Items(m), Items(W<QComboBox>(source)));
            QCOMPARE(m->currentIndex(), W<QComboBox>(source)->currentIndex());
            QVERIFY(m->isHidden());
        }
        QCOMPARE(Find<QComboBox>(results, "mirrorClusters")->currentText(), firstCluster);

        QSignalSpy scanned(results, &ScanResultsPage::scanFinished);
        QVERIFY(scanned.count() > 0 || scanned.wait(60000));
        QCOMPARE(results->Job().Outcome(), ScanOutcome::Completed);
        CheckTree* tree = results->Tree();
        QStringList top;
        for (TreeItem c : tree->Children(tree->GetRootItem())) top << tree->GetItemText(c);
        // fls cuts very long names short, so its name need only begin ours.
        for (const auto& [path, entry] : ParseFls(ReadImageFile("fat32-card.fls"))) {
            if (path.find('/') != std::string::npos) continue;
            const QString name = QString::fromStdString(path);
            QVERIFY2(std::any_of(top.begin(), top.end(), [&](const QString& t) { return t.startsWith(name); }),
                     qPrintable(name + " not in " + top.join("|")));
        }

        // Back from the results shows this page again with its lists, which it still owns.
        QTest::mouseClick(results->BackButton(), Qt::LeftButton);
        QCOMPARE(h->app->Current(), static_cast<WizardPage*>(page.data()));
        QCOMPARE(Items(W<QComboBox>("clusters")).value(0), firstCluster);
    }

    void PauseHoldsTheSearchAndStopKeepsWhatWasFound() {
        auto* reader = new GateReader(TwoFat32Heads(), 1u << 20);
        Select("FAT32", std::unique_ptr<SectorReader>(reader));
        OpenPage(false);
        QSignalSpy finished(page.data(), &AdvancedInputPage::searchFinished);
        QVERIFY(reader->WaitUntilHeld(10000));  // the first MiB is searched, the second is being read
        QTest::mouseClick(W<QPushButton>("pause"), Qt::LeftButton);
        reader->Release();
        QCOMPARE(W<QLabel>("status")->text(), QString("Pause button pressed"));
        QVERIFY(!page->BackButton()->isEnabled());
        QVERIFY(!page->NextButton()->isEnabled());
        QVERIFY(!finished.wait(300));  // held at its next step, not done
        QVERIFY(page->Searching());

        QTest::mouseClick(W<QPushButton>("stop"), Qt::LeftButton);
        QCOMPARE(W<QLabel>("status")->text(), QString("stop button pressed"));
        QVERIFY(page->BackButton()->isEnabled());
        QVERIFY(finished.count() > 0 || finished.wait(10000));
        QVERIFY(page->Found()->stopped);
        QCOMPARE(page->Found()->tables, std::vector<std::uint64_t>{4096});
        QCOMPARE(Items(W<QComboBox>("tables")), QStringList{"FAT32_ENTRY:0"});
        QVERIFY(W<QComboBox>("clusters")->count() > 0);
        QCOMPARE(h->Count("Number of FAT32-ENTRY found = 1 . Please select the choice from combo box and click Next "
                          "button to proceed."),
                 1);
    }

    // Back frees the page; the finder that reports to it and reads through the
    // session's reader must have ended first (the ASan build sees it otherwise).
    void BackWaitsForTheFinderBeforeThePageGoes() {
        auto* reader = new GateReader(TwoFat32Heads(), 1u << 20);
        Select("FAT32", std::unique_ptr<SectorReader>(reader));
        auto* mode = new RecoveryModePage(*h->app, PageKind::VolumeList);
        h->app->Open(h->app->Page(PageKind::DriveSelection), mode);
        page = new AdvancedInputPage(*h->app);
        h->app->Open(mode, page);
        QVERIFY(reader->WaitUntilHeld(10000));
        QTest::mouseClick(W<QPushButton>("stop"), Qt::LeftButton);
        {
            std::jthread release([reader] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                reader->Release();
            });
            QTest::mouseClick(page->BackButton(), Qt::LeftButton);  // the read is still held meanwhile
            QCOMPARE(reader->ReadsInFlight(), 0);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(page.isNull());
        QCOMPARE(h->app->Current(), static_cast<WizardPage*>(mode));
    }

    void WhatCannotBeSearchedSaysWhyAndLeavesBack_data() {
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<bool>("reader");
        QTest::addColumn<QString>("message");
        QTest::newRow("no reader") << "FAT32" << false << kRestart;
        QTest::newRow("FAT12, no reader") << "FAT12" << false << kRestart;
        QTest::newRow("ext") << "ext4" << true
                             << "The advanced mode reads NTFS, FAT12, FAT16, FAT32 and exFAT volumes, not \"ext4\". "
                                "Go Back and choose another mode.";
    }

    void WhatCannotBeSearchedSaysWhyAndLeavesBack() {
        QFETCH(QString, fileSystem);
        QFETCH(bool, reader);
        QFETCH(QString, message);
        Select(fileSystem.toStdString(),
               reader ? std::make_unique<MemoryReader>(std::vector<std::uint8_t>(1 << 20)) : nullptr);
        OpenPage(false);
        QCOMPARE(h->Count(message.toStdString()), 1);
        QCOMPARE(W<QLabel>("status")->text(), message);
        QVERIFY(page->BackButton()->isEnabled());
        QVERIFY(!page->NextButton()->isEnabled());
        QVERIFY(!page->Searching());
        QTest::mouseClick(page->NextButton(), Qt::LeftButton);
        QCOMPARE(h->app->Current(), static_cast<WizardPage*>(page.data()));
        QTest::mouseClick(page->BackButton(), Qt::LeftButton);
        QVERIFY(h->app->Current() != page.data());
    }
};

TARNWELL_QTEST_MAIN(AdvancedPageTest)
#include "AdvancedPageTest.moc"
