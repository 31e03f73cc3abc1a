#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "advanced/TableFinder.h"
#include "core/ByteView.h"
#include "core/Prompter.h"
#include "device/MemoryReader.h"
#include "fs/ntfs/NtfsParser.h"
#include "partition/FatBootSector.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::vector<std::uint8_t> LoadImage(const std::string& name, std::string& path) {
    path = test::ImagePath(name);
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Zero(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint64_t count) {
    std::memset(bytes.data() + at, 0, count);
}

// What the intact boot sector says, independent of the finder.
struct Truth {
    std::uint64_t fat1 = 0, fat2 = 0;  // fat2 0: one copy
    std::uint32_t sectorsPerCluster = 0;
    int clusterShift = -1;
    std::uint64_t heap = 0;
};

Truth TruthOf(const std::vector<std::uint8_t>& image, TableKind kind) {
    Truth t;
    ByteView boot(image.data(), 512);
    if (kind == TableKind::ExFat) {
        unsigned bps = boot.U8(108);
        t.fat1 = std::uint64_t(boot.Le32(80)) << bps;
        t.fat2 = boot.U8(110) == 2 ? t.fat1 + (std::uint64_t(boot.Le32(84)) << bps) : 0;
        t.clusterShift = static_cast<int>(bps + boot.U8(109) - 9);
        t.heap = std::uint64_t(boot.Le32(88)) << bps;
        return t;
    }
    auto p = ParseFatBootSector(boot);
    EXPECT_TRUE(p.has_value());
    if (!p) return t;
    t.fat1 = p->FatOffset();
    t.fat2 = p->fatCount == 2 ? t.fat1 + std::uint64_t(p->sectorsPerFat) * p->bytesPerSector : 0;
    t.sectorsPerCluster = p->bytesPerSector * p->sectorsPerCluster / 512;
    return t;
}

enum class Damage { None, Boot, BootAndBackup, FirstTable };

struct FinderCase {
    const char* image;
    TableKind kind;
    Damage damage;
    bool bootHeadsSizes;  // the boot's (or backup's) cluster size leads its list
};

class FinderOnImage : public ::testing::TestWithParam<FinderCase> {};

TEST_P(FinderOnImage, FindsTheTablesInDiskOrderAndTheClusterSize) {
    const FinderCase& c = GetParam();
    std::string path;
    std::vector<std::uint8_t> bytes = LoadImage(c.image, path);
    if (bytes.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    const Truth truth = TruthOf(bytes, c.kind);
    const std::uint64_t tableBytes = truth.fat2 ? truth.fat2 - truth.fat1 : 0;
    switch (c.damage) {
        case Damage::None: break;
        case Damage::Boot: Zero(bytes, 0, 512); break;
        case Damage::BootAndBackup:
            Zero(bytes, 0, 512);
            Zero(bytes, c.kind == TableKind::ExFat ? 12 * 512 : 6 * 512, 512);
            break;
        case Damage::FirstTable: Zero(bytes, truth.fat1, tableBytes); break;
    }
    MemoryReader reader(bytes);
    NullProgress progress;
    TableFinder finder(VolumeView(reader), bytes.size(), c.kind, progress);
    TableCandidates found = finder.Find(0);  // 0 counts as 3

    ASSERT_LE(found.tables.size(), 3u);
    ASSERT_TRUE(std::is_sorted(found.tables.begin(), found.tables.end()));
    if (c.damage == Damage::FirstTable) {
        ASSERT_FALSE(found.tables.empty());
        EXPECT_EQ(found.tables[0], truth.fat2);
    } else {
        ASSERT_GE(found.tables.size(), truth.fat2 ? 2u : 1u);
        EXPECT_EQ(found.tables[0], truth.fat1);
        if (truth.fat2) {
            EXPECT_EQ(found.tables[1], truth.fat2);
        }
    }
    for (std::uint64_t t : found.tables) EXPECT_LT(t, bytes.size());

    ASSERT_FALSE(found.clusterSizes.empty());
    const std::uint32_t want =
        c.kind == TableKind::ExFat ? static_cast<std::uint32_t>(truth.clusterShift) : truth.sectorsPerCluster;
    if (c.bootHeadsSizes) {
        EXPECT_EQ(found.clusterSizes[0], want);
        EXPECT_EQ(found.boot.source, c.damage == Damage::Boot ? BootSource::Backup : BootSource::Primary);
    } else {
        EXPECT_EQ(found.boot.source, BootSource::None);
    }
    // Every size is offered, once.
    std::vector<std::uint32_t> sorted = found.clusterSizes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_NE(std::find(sorted.begin(), sorted.end(), want), sorted.end());
    EXPECT_EQ(sorted.size(), c.kind == TableKind::ExFat ? 17u : 8u);

    if (c.kind == TableKind::ExFat && c.bootHeadsSizes) {
        ASSERT_FALSE(found.heaps.empty());
        EXPECT_EQ(found.heaps[0], truth.heap);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Advanced, FinderOnImage,
    ::testing::Values(FinderCase{"fat32-card", TableKind::Fat32, Damage::None, true},
                      FinderCase{"fat32-card", TableKind::Fat32, Damage::Boot, true},
                      FinderCase{"fat32-card", TableKind::Fat32, Damage::BootAndBackup, false},
                      FinderCase{"fat32-card", TableKind::Fat32, Damage::FirstTable, true},
                      // One sector per cluster: odd, yet valid.
                      FinderCase{"sample-card", TableKind::Fat32, Damage::Boot, true},
                      FinderCase{"fat16-stick", TableKind::Fat16, Damage::Boot, false},
                      FinderCase{"fat16-stick", TableKind::Fat16, Damage::FirstTable, true},
                      FinderCase{"fat12-floppy", TableKind::Fat12, Damage::Boot, false},
                      FinderCase{"exfat-4k", TableKind::ExFat, Damage::None, true},
                      FinderCase{"exfat-4k", TableKind::ExFat, Damage::Boot, true},
                      FinderCase{"exfat-4k", TableKind::ExFat, Damage::BootAndBackup, false}));

TEST(AdvancedSignatures, MaskReservedAndFlagBitsAndAcceptEveryMedia) {
    struct Row {
        TableKind kind;
        std::vector<std::uint8_t> bytes;
        bool match;
    };
    const std::vector<Row> rows = {
        {TableKind::Fat32, {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F}, true},   // mkfs.fat
        {TableKind::Fat32, {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x07}, true},   // unclean shutdown
        {TableKind::Fat32, {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},   // reserved bits set
        {TableKind::Fat16, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false},  // end marks inside a table
        {TableKind::Fat32, {0xF5, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F}, false},  // no media byte
        {TableKind::Fat32, {0xF8, 0xFF, 0xFF, 0x0F, 0x00, 0x00, 0x00, 0x00}, false},
        {TableKind::Fat16, {0xFA, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}, true},
        {TableKind::Fat16, {0xF8, 0xFF, 0xFF, 0x00, 0, 0, 0, 0}, false},
        {TableKind::Fat12, {0xF0, 0xFF, 0xFF, 0x00, 0, 0, 0, 0}, true},
        {TableKind::ExFat, {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},
        {TableKind::ExFat, {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF}, false},
    };
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(MatchesTableSignature(rows[i].kind, rows[i].bytes.data()), rows[i].match) << "row " << i;
}

TEST(AdvancedFinder, IgnoresATablePastTheVolumeEndAndKeepsWhatAStopLeaves) {
    std::vector<std::uint8_t> disk(3u << 20, 0);
    const std::uint8_t sig[8] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    for (std::uint64_t at : {4096ull, 8192ull, (2ull << 20) + 512}) std::memcpy(disk.data() + at, sig, 8);
    MemoryReader reader(disk);
    NullProgress progress;
    // The volume ends at 2 MiB; the third signature belongs to the next volume.
    TableFinder finder(VolumeView(reader), 2u << 20, TableKind::Fat32, progress);
    EXPECT_EQ(finder.FindFatTables(5), (std::vector<std::uint64_t>{4096, 8192}));
    EXPECT_EQ(finder.FindFatTables(1), (std::vector<std::uint64_t>{4096}));

    JobControl control;
    control.RequestStop();
    TableFinder stopped(VolumeView(reader), 2u << 20, TableKind::Fat32, progress, &control);
    TableCandidates c = stopped.Find(3);
    EXPECT_TRUE(c.stopped);
    EXPECT_FALSE(c.clusterSizes.empty());
}

TEST(AdvancedFinder, NtfsMftFoundWithTheBootSectorZeroedAndTheBackupGivesTheClusterSize) {
    std::string path;
    std::vector<std::uint8_t> bytes = LoadImage("ntfs-4k", path);
    if (bytes.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    ByteView boot(bytes.data(), 512);
    const std::uint64_t cluster = std::uint64_t(boot.Le16(0x0B)) * boot.U8(0x0D);
    const std::uint64_t mft = boot.Le64(0x30) * cluster;
    Zero(bytes, 0, 512);
    MemoryReader reader(bytes);
    BootHint hint = ReadBootHint(VolumeView(reader), bytes.size(), TableKind::Ntfs);
    EXPECT_EQ(hint.source, BootSource::Backup);
    EXPECT_EQ(hint.sectorsPerCluster, cluster / 512);

    RecordingPrompter prompter;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = "NTFS";
    links.volume.sectorCount = reader.deviceSectorCount();
    NtfsParser parser(links);
    ASSERT_GE(parser.FindMftCandidates(3), 1u);
    EXPECT_EQ(parser.MftCandidates()[0].entry.recordOffset, mft);
}

}  // namespace
}  // namespace tarnwell
