#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "advanced/TableFinder.h"
#include "device/FileReader.h"
#include "device/MemoryReader.h"
#include "partition/PartitionScanner.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

struct Row {
    std::int64_t start;
    std::uint64_t sectors;
    std::string fs;
};

// The partitions of a recorded `mmls` view: start and length of every slot
// that is neither table metadata nor unallocated.
std::vector<Row> MmlsPartitions(const std::string& text) {
    std::vector<Row> rows;
    static const std::regex line(R"(^\d+:\s+(\S+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$)");
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (!std::regex_match(l, m, line) || m[1] == "Meta" || m[1] == "-------") continue;
        rows.push_back({std::stoll(m[2]), std::stoull(m[4]), m[5]});
    }
    return rows;
}

// The bytes of a committed image, read once per run (in one read: byte-wise
// loading is slow under the sanitizers).
std::vector<std::uint8_t> ImageBytes(const std::string& name) {
    static std::map<std::string, std::vector<std::uint8_t>> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second;
    std::string path = test::ImagePath(name);
    EXPECT_FALSE(path.empty()) << name;
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(path.empty() ? 0 : std::filesystem::file_size(path));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(std::size_t(in.gcount()), bytes.size()) << name;
    return cache.emplace(name, std::move(bytes)).first->second;
}

std::vector<std::uint8_t> Zeroed(std::vector<std::uint8_t> bytes, std::size_t sectors) {
    std::fill_n(bytes.begin(), std::min(bytes.size(), sectors * 512), 0);
    return bytes;
}

std::string Describe(const std::vector<VolumeEntry>& rows) {
    std::string s;
    for (const auto& v : rows) s += "  " + v.fileSystem + " @" + std::to_string(v.startSector) + " " + v.sizeText + "\n";
    return s;
}

// Every volume of the images with its true start, its name and how it was found.
struct Expected {
    std::int64_t start;
    const char* fs;
    FoundBy how;
};
const std::vector<Expected> kMbrMixed = {{2048, "FAT16", FoundBy::Mbr},   {22528, "FAT32", FoundBy::Ebr},
                                         {94208, "NTFS", FoundBy::Ebr},   {112640, "ext4", FoundBy::Ebr},
                                         {131072, "exFAT", FoundBy::Mbr}};
// Two volumes back to back: the second starts at the first sector after the first.
const std::vector<Expected> kMbrFat = {{2048, "FAT16", FoundBy::Mbr}, {43008, "FAT32", FoundBy::Mbr}};
const std::vector<Expected> kGptMixed = {{2048, "FAT32", FoundBy::Gpt}, {73728, "NTFS", FoundBy::Gpt},
                                         {90112, "ext4", FoundBy::Gpt}};

void ExpectVolumes(const std::vector<VolumeEntry>& got, const std::vector<Expected>& want, FoundBy scanHow,
                   bool useScanHow, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what << "\n" << Describe(got);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].startSector, want[i].start) << what << " row " << i;
        EXPECT_EQ(got[i].fileSystem, want[i].fs) << what << " row " << i;
        EXPECT_EQ(got[i].foundBy, useScanHow ? scanHow : want[i].how) << what << " row " << i;
        EXPECT_EQ(got[i].location, std::to_string(i)) << what;
        EXPECT_GT(got[i].sectorCount, 2047u) << what;
    }
}

TEST(PartitionTables, ListEveryPartitionAsMmlsDoes) {
    struct Case {
        const char* image;
        const std::vector<Expected>* want;
    };
    for (const Case& c : {Case{"mbr-mixed", &kMbrMixed}, Case{"gpt-mixed", &kGptMixed}}) {
        std::string path = test::ImagePath(c.image);
        ASSERT_FALSE(path.empty());
        test::UnchangedGuard guard(path);
        SilentPrompter quiet;
        FileReader reader(quiet);
        ASSERT_TRUE(reader.Open(path));
        PartitionScanner p;
        std::vector<VolumeEntry> streamed;
        p.onVolume = [&](const VolumeEntry& v) { streamed.push_back(v); };
        EXPECT_EQ(p.ScanPartitionTables(reader), 0);
        ExpectVolumes(p.Entries(), *c.want, FoundBy::Mbr, false, c.image);
        EXPECT_EQ(streamed.size(), p.Entries().size());

        // Start and length of every partition agree with The Sleuth Kit; the
        // Microsoft reserved partition holds no file system and is not listed.
        auto mmls = MmlsPartitions(test::ReadImageFile(std::string(c.image) + ".mmls"));
        ASSERT_FALSE(mmls.empty()) << c.image;
        std::size_t listed = 0;
        for (const Row& r : mmls) {
            auto it = std::find_if(p.Entries().begin(), p.Entries().end(),
                                   [&](const VolumeEntry& v) { return v.startSector == r.start; });
            if (r.fs == "Microsoft reserved partition") {
                EXPECT_EQ(it, p.Entries().end());
                continue;
            }
            ASSERT_NE(it, p.Entries().end()) << c.image << ": partition at " << r.start << " not listed";
            EXPECT_EQ(it->sectorCount, r.sectors) << c.image << " at " << r.start;
            ++listed;
        }
        EXPECT_EQ(listed, p.Entries().size()) << c.image;
    }
}

TEST(PartitionTables, TextsAndNamesOfTheRows) {
    MemoryReader mbr(ImageBytes("mbr-mixed"));
    PartitionScanner p;
    p.ScanPartitionTables(mbr);
    ASSERT_EQ(p.Entries().size(), 5u);
    EXPECT_EQ(p.Entries()[0].sizeText, "8   MB");
    EXPECT_EQ(p.Entries()[0].partitionName, "partition 1");
    EXPECT_EQ(p.Entries()[1].partitionName, "partition 5");   // the first logical volume
    EXPECT_EQ(p.Entries()[3].partitionName, "partition 7");
    EXPECT_EQ(p.Entries()[4].partitionName, "partition 4");   // the primary after the extended one

    MemoryReader gpt(ImageBytes("gpt-mixed"));
    p.ScanPartitionTables(gpt);
    ASSERT_EQ(p.Entries().size(), 3u);
    EXPECT_TRUE(p.Summary().gptWalked);  // no tick needed behind a protective MBR
    EXPECT_EQ(p.Entries()[0].partitionName, "EFI system partition");
    EXPECT_EQ(p.Entries()[0].sizeText, "34  MB");
    EXPECT_EQ(p.Entries()[1].sizeText, "7   MB");  // NTFS counts its backup boot sector apart
    EXPECT_EQ(p.Entries()[2].sizeText, "8");        // named by its superblock, sized by the table
    EXPECT_EQ(p.Entries()[2].partitionName, "Linux filesystem");
}

TEST(PartitionTables, ZeroedTablesAndTheGptTick) {
    struct Case {
        const char* what;
        const char* image;
        std::size_t zeroSectors;
        bool gpt;
        std::size_t rows;
    };
    const Case cases[] = {
        {"MBR disk read as GPT: no header, nothing listed", "mbr-mixed", 0, true, 0},
        {"MBR gone: the logical volumes cannot be reached", "mbr-mixed", 1, false, 0},
        {"protective MBR gone: the GPT header still follows", "gpt-mixed", 1, false, 3},
        {"primary GPT gone: the backup header at the end", "gpt-mixed", 34, false, 3},
        {"primary GPT gone, ticked", "gpt-mixed", 34, true, 3},
    };
    for (const Case& c : cases) {
        MemoryReader r(Zeroed(ImageBytes(c.image), c.zeroSectors));
        PartitionScanner p;
        p.gptFormat = c.gpt;
        p.ScanPartitionTables(r);
        EXPECT_EQ(p.Entries().size(), c.rows) << c.what << "\n" << Describe(p.Entries());
        if (c.rows == 3) ExpectVolumes(p.Entries(), kGptMixed, FoundBy::Gpt, false, c.what);
    }
}

TEST(PartitionTables, AnUnreadableExtendedRecordKeepsTheRest) {
    MemoryReader r(ImageBytes("mbr-mixed"));
    r.MarkBad(92160);  // the second extended boot record
    PartitionScanner p;
    EXPECT_NE(p.ScanPartitionTables(r), 0);
    std::vector<std::int64_t> starts;
    for (const auto& v : p.Entries()) starts.push_back(v.startSector);
    EXPECT_EQ(starts, (std::vector<std::int64_t>{2048, 22528, 131072}));
}

// A hand-made MBR for what the tools will not write.
std::vector<std::uint8_t> Disk(std::size_t sectors) { return std::vector<std::uint8_t>(sectors * 512, 0); }
void Entry(std::vector<std::uint8_t>& d, std::uint64_t sector, int slot, std::uint8_t type, std::uint32_t first,
           std::uint32_t count) {
    std::uint8_t* e = d.data() + sector * 512 + 0x1BE + 16 * slot;
    e[4] = type;
    for (int i = 0; i < 4; ++i) e[8 + i] = std::uint8_t(first >> (8 * i)), e[12 + i] = std::uint8_t(count >> (8 * i));
    d[sector * 512 + 510] = 0x55;
    d[sector * 512 + 511] = 0xAA;
}

TEST(PartitionTables, HandMadeTables) {
    {   // an empty first slot does not hide the others
        auto d = Disk(64);
        Entry(d, 0, 2, 0x83, 8, 16);
        MemoryReader r(d);
        PartitionScanner p;
        p.ScanPartitionTables(r);
        ASSERT_EQ(p.Entries().size(), 1u);
        EXPECT_EQ(p.Entries()[0].fileSystem, "ext");  // a Linux entry over nothing we know
        EXPECT_EQ(p.Entries()[0].startSector, 8);
    }
    {   // an extended chain that links back to itself ends
        auto d = Disk(64);
        Entry(d, 0, 0, 0x05, 10, 40);
        Entry(d, 10, 0, 0x0C, 2, 8);
        Entry(d, 10, 1, 0x05, 0, 40);  // links to itself
        MemoryReader r(d);
        PartitionScanner p;
        EXPECT_EQ(p.ScanPartitionTables(r), 0);
        ASSERT_EQ(p.Entries().size(), 1u);
        EXPECT_EQ(p.Entries()[0].startSector, 12);
        EXPECT_EQ(p.Entries()[0].foundBy, FoundBy::Ebr);
    }
    {   // a protective MBR without a GPT header lists its one entry
        auto d = Disk(64);
        Entry(d, 0, 0, 0xEE, 1, 63);
        MemoryReader r(d);
        PartitionScanner p;
        p.ScanPartitionTables(r);
        ASSERT_EQ(p.Entries().size(), 1u);
        EXPECT_EQ(p.Entries()[0].fileSystem, "Unknown");
    }
    {   // a GPT header that claims a huge array and an unused entry between used ones
        auto d = Disk(128);
        Entry(d, 0, 0, 0xEE, 1, 127);
        std::uint8_t* h = d.data() + 512;
        std::memcpy(h, "EFI PART", 8);
        h[12] = 92;
        h[72] = 2;                                     // array at sector 2
        h[80] = 0xFF; h[81] = 0xFF; h[82] = 0xFF; h[83] = 0x7F;  // 2^31 entries
        h[84] = 128;
        for (int slot : {0, 2}) {
            std::uint8_t* e = d.data() + 1024 + 128 * slot;
            e[0] = 0xAF;                               // any non-zero type
            e[0x20] = std::uint8_t(40 + slot * 20);    // first
            e[0x28] = std::uint8_t(50 + slot * 20);    // last
            e[0x38] = 'p';
        }
        MemoryReader r(d);
        PartitionScanner p;
        p.ScanPartitionTables(r);
        ASSERT_EQ(p.Entries().size(), 2u) << Describe(p.Entries());
        EXPECT_EQ(p.Entries()[0].startSector, 40);
        EXPECT_EQ(p.Entries()[1].startSector, 80);
        EXPECT_EQ(p.Entries()[1].fileSystem, "p");  // nothing known there: the entry's own name
        EXPECT_EQ(p.Entries()[1].sectorCount, 11u);
    }
}

// ---- the sector search ---------------------------------------------------------

TEST(SectorSearch, FindsEveryVolumeOfTheZeroedDisksOnce) {
    struct Case {
        const char* image;
        std::size_t zeroSectors;
        const std::vector<Expected>* want;
    };
    for (const Case& c : {Case{"mbr-mixed", 1, &kMbrMixed}, Case{"mbr-mixed", 34, &kMbrMixed},
                          Case{"gpt-mixed", 1, &kGptMixed}, Case{"gpt-mixed", 34, &kGptMixed},
                          Case{"mbr-fat", 1, &kMbrFat}}) {
        MemoryReader r(Zeroed(ImageBytes(c.image), c.zeroSectors));
        PartitionScanner p;
        std::vector<VolumeEntry> streamed;
        p.onVolume = [&](const VolumeEntry& v) { streamed.push_back(v); };
        EXPECT_EQ(p.ScanForVolumes(r), 1);
        std::string what = std::string(c.image) + " zeroed to sector " + std::to_string(c.zeroSectors);
        ExpectVolumes(p.Entries(), *c.want, FoundBy::Scan, true, what);
        EXPECT_EQ(streamed.size(), p.Entries().size());
        EXPECT_FALSE(p.Summary().stopped);
        EXPECT_EQ(p.Summary().unreadableBlocks, 0u);
    }
}

// TestDisk's view of a damaged copy, recorded by the image script: the sectors
// it zeroed and each volume TestDisk's deeper search found.
struct TestDiskView {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroed;  // first, count
    struct Volume {
        std::string fs;
        std::int64_t start;
        std::uint64_t sectors;
        std::uint32_t blockSize;
    };
    std::vector<Volume> volumes;
};

TestDiskView ReadTestDiskView(const std::string& text) {
    TestDiskView view;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "zeroed") {
            std::uint64_t first = 0, count = 0;
            fields >> first >> count;
            view.zeroed.emplace_back(first, count);
        } else {
            TestDiskView::Volume v{word, 0, 0, 0};
            fields >> v.start >> v.sectors >> v.blockSize;
            view.volumes.push_back(v);
        }
    }
    return view;
}

TEST(SectorSearch, FindsWhatTestDiskFindsWithTheTableAndPrimaryBootSectorsGone) {
    struct Case {
        const char* image;
        const std::vector<Expected>* want;
    };
    for (const Case& c : {Case{"mbr-mixed", &kMbrMixed}, Case{"gpt-mixed", &kGptMixed}}) {
        const TestDiskView view = ReadTestDiskView(test::ReadImageFile(std::string(c.image) + ".testdisk"));
        ASSERT_FALSE(view.volumes.empty()) << c.image;
        std::vector<std::uint8_t> bytes = ImageBytes(c.image);
        for (auto [first, count] : view.zeroed) std::fill_n(bytes.begin() + first * 512, count * 512, 0);
        MemoryReader r(bytes);
        PartitionScanner p;
        EXPECT_EQ(p.ScanForVolumes(r), 1);
        // Every volume once at its true start, none at a backup's position; exFAT,
        // which TestDisk misses here, from its backup boot region.
        ExpectVolumes(p.Entries(), *c.want, FoundBy::Scan, true, std::string(c.image) + " damaged");
        for (const auto& t : view.volumes) {
            SCOPED_TRACE(std::string(c.image) + ": TestDisk's " + t.fs + " at " + std::to_string(t.start));
            auto found = std::find_if(p.Entries().begin(), p.Entries().end(),
                                      [&](const VolumeEntry& v) { return v.startSector == t.start; });
            ASSERT_NE(found, p.Entries().end()) << Describe(p.Entries());
            EXPECT_EQ(found->fileSystem, t.fs);
            EXPECT_EQ(found->sectorCount, t.sectors);
            if (t.fs.rfind("ext", 0) == 0) continue;  // no table finder for ext
            // The cluster size the advanced mode reads from the surviving boot sector.
            const TableKind kind = t.fs == "NTFS" ? TableKind::Ntfs : t.fs == "FAT16" ? TableKind::Fat16 : TableKind::Fat32;
            std::vector<std::uint8_t> volume(bytes.begin() + t.start * 512, bytes.begin() + (t.start + t.sectors) * 512);
            MemoryReader inVolume(volume);
            const BootHint hint = ReadBootHint(VolumeView(inVolume), volume.size(), kind);
            EXPECT_EQ(hint.sectorsPerCluster * 512, t.blockSize);
        }
    }
}

TEST(SectorSearch, KeepSizeListsTheBackupCopiesToo) {
    MemoryReader r(ImageBytes("mbr-mixed"));
    PartitionScanner p;
    p.skipVolumeSize = false;
    p.ScanForVolumes(r);
    std::vector<std::int64_t> starts;
    for (const auto& v : p.Entries()) starts.push_back(v.startSector);
    // FAT32 keeps a copy of its boot sector at sector 6, NTFS in its last sector,
    // exFAT its backup boot region at sector 12.
    EXPECT_EQ(starts, (std::vector<std::int64_t>{2048, 22528, 22534, 94208, 110591, 112640, 131072, 131084}))
        << Describe(p.Entries());
}

TEST(SectorSearch, ScansTheLastSectorsOfADiskOfNoWholeMiB) {
    // The NTFS partition runs to the last sector, which holds its backup boot sector.
    auto bytes = ImageBytes("odd-size");
    ASSERT_NE(bytes.size() % 1048576, 0u);
    const std::int64_t last = std::int64_t(bytes.size() / 512) - 1;
    MemoryReader r(bytes);
    PartitionScanner p;
    p.skipVolumeSize = false;
    p.ScanForVolumes(r);
    ASSERT_EQ(p.Entries().size(), 2u) << Describe(p.Entries());
    EXPECT_EQ(p.Entries()[0].startSector, 2048);
    EXPECT_EQ(p.Entries()[1].startSector, last);

    // With the skip rule on, a volume whose boot sector is in the last, partial block.
    std::vector<std::uint8_t> tail(2 * 1048576 + 7 * 512, 0);
    std::memcpy(tail.data() + tail.size() - 3 * 512, bytes.data() + 2048 * 512, 512);
    MemoryReader t(tail);
    p.skipVolumeSize = true;
    p.ScanForVolumes(t);
    ASSERT_EQ(p.Entries().size(), 1u);
    EXPECT_EQ(p.Entries()[0].startSector, std::int64_t(tail.size() / 512) - 3);
}

TEST(SectorSearch, UnreadableBlocksAreCountedAndPassedOver) {
    MemoryReader r(Zeroed(ImageBytes("mbr-mixed"), 1));
    r.MarkBad(20000);  // between the FAT16 volume and the first logical one
    r.MarkBad(20001);
    r.MarkBad(50000);  // inside the FAT32 volume: with the skip rule on, never read
    PartitionScanner p;
    p.ScanForVolumes(r);
    ExpectVolumes(p.Entries(), kMbrMixed, FoundBy::Scan, true, "with bad sectors");
    EXPECT_EQ(p.Summary().unreadableBlocks, 1u);
    EXPECT_EQ(p.Summary().unreadableSectors, 2u);

    p.skipVolumeSize = false;  // now the volumes' bulk is read too
    p.ScanForVolumes(r);
    EXPECT_EQ(p.Summary().unreadableBlocks, 2u);
    EXPECT_EQ(p.Summary().unreadableSectors, 3u);
}

TEST(SectorSearch, CustomRange) {
    MemoryReader r(ImageBytes("mbr-mixed"));
    PartitionScanner p;
    p.customStartSector = 90000;
    p.customEndSector = 100000;
    p.ScanForVolumes(r);
    ASSERT_EQ(p.Entries().size(), 1u) << Describe(p.Entries());
    EXPECT_EQ(p.Entries()[0].fileSystem, "NTFS");
    EXPECT_EQ(p.Entries()[0].startSector, 94208);
}

class Recorder final : public ProgressSink {
public:
    void SetRange(std::int64_t lo, std::int64_t hi) override { range = {lo, hi}; }
    void SetPosition(std::int64_t p) override { positions.push_back(p); }
    void Report(const Event& e) override { statuses.push_back(e); }
    std::pair<std::int64_t, std::int64_t> range;
    std::vector<std::int64_t> positions;
    std::vector<Event> statuses;
};

TEST(SectorSearch, StopKeepsTheRowsFoundAndProgressIsReported) {
    MemoryReader r(Zeroed(ImageBytes("gpt-mixed"), 34));
    JobControl control;
    Recorder progress;
    PartitionScanner p;
    p.control = &control;
    p.progress = &progress;
    p.onVolume = [&](const VolumeEntry&) {
        if (p.Entries().size() == 2) control.RequestStop();
    };
    p.ScanForVolumes(r);
    EXPECT_TRUE(p.Summary().stopped);
    ASSERT_EQ(p.Entries().size(), 2u);
    EXPECT_EQ(p.Entries()[1].startSector, 73728);
    EXPECT_EQ(progress.range, std::make_pair(std::int64_t(0), std::int64_t(1000)));
    EXPECT_EQ(progress.statuses.front().step, Step::PartitionScan);
    EXPECT_EQ(progress.statuses.back().step, Step::PartitionsScanned);
    EXPECT_TRUE(std::any_of(progress.statuses.begin(), progress.statuses.end(), [](const Event& e) {
        return e.step == Step::VolumeFound && e.kind == "ntfs" && e.count == 1;
    }));

    // A whole run ends at 1000, rising all the way.
    control.Reset();
    Recorder full;
    p.progress = &full;
    p.onVolume = nullptr;
    p.ScanForVolumes(r);
    ASSERT_FALSE(full.positions.empty());
    EXPECT_EQ(full.positions.back(), 1000);
    EXPECT_TRUE(std::is_sorted(full.positions.begin(), full.positions.end()));
}

TEST(SectorSearch, PauseHoldsTheScanUntilResumed) {
    MemoryReader r(Zeroed(ImageBytes("gpt-mixed"), 34));
    JobControl control;
    control.Pause();
    PartitionScanner p;
    p.control = &control;
    std::atomic<int> found{0};
    p.onVolume = [&](const VolumeEntry&) { ++found; };
    std::thread worker([&] { p.ScanForVolumes(r); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(found.load(), 0);
    control.Resume();
    worker.join();
    EXPECT_EQ(found.load(), 3);
}

}  // namespace
}  // namespace tarnwell
