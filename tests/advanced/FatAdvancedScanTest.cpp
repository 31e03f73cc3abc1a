// The advanced scan of FAT volumes on damaged copies of the committed images:
// what `fls -r -p` lists on the original is listed, under its path, or under
// "ORPHAN ENTRY" once its folder is lost, with the original's bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "advanced/TableFinder.h"
#include "device/MemoryReader.h"
#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "partition/FatBootSector.h"
#include "support/ImageListing.h"
#include "support/Md5.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

enum class Damage { Boot, BootAndBackup, FirstTable, RootCluster };

struct ScanCase {
    const char* image;
    const char* kind;  // the parser's name
    Damage damage;
    int table;    // the table candidate to pick
    int cluster;  // the cluster size to pick (index)
    // Creation time, tenth and date, access date and write time zeroed in
    // every entry, as devices that keep no such times leave them.
    bool zeroTimes = false;
};

std::unique_ptr<FileSystemParser> Parse(MemoryReader& reader, RecordingPrompter& prompter, const char* kind,
                                        RecoveryMode mode, int table, int cluster) {
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = kind;
    links.volume.sectorCount = reader.deviceSectorCount();
    links.advanced.table = table;
    links.advanced.cluster = cluster;
    auto parser = MakeParser(kind, links);
    if (parser && !parser->Scan(mode)) parser.reset();
    return parser;
}

class FatAdvancedScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(FatAdvancedScan, ListsWhatFlsListsWithTheOriginalBytes) {
    const ScanCase& c = GetParam();
    const std::string path = test::ImagePath(c.image);
    if (path.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> original((std::istreambuf_iterator<char>(in)), {});
    auto boot = ParseFatBootSector(ByteView(original.data(), 512));
    ASSERT_TRUE(boot);

    MemoryReader intactReader(original);
    RecordingPrompter prompter;
    auto intact = Parse(intactReader, prompter, c.kind, RecoveryMode::Standard, 0, 0);
    ASSERT_TRUE(intact);

    std::vector<std::uint8_t> damaged = original;
    auto zero = [&](std::uint64_t at, std::uint64_t n) { std::memset(damaged.data() + at, 0, n); };
    switch (c.damage) {
        case Damage::Boot: zero(0, 512); break;
        case Damage::BootAndBackup: zero(0, 512); zero(6 * 512, 512); break;
        case Damage::FirstTable:
            zero(0, 512);
            zero(boot->FatOffset(), std::uint64_t(boot->sectorsPerFat) * boot->bytesPerSector);
            break;
        case Damage::RootCluster:
            zero(0, 512);
            if (boot->kind == FatKind::Fat32) {
                zero(6 * 512, 512);
                zero(boot->DataOffset() + (std::uint64_t(boot->rootCluster) - 2) * boot->ClusterSize(),
                     boot->ClusterSize());
            } else {
                zero(boot->RootDirOffset(), boot->RootDirBytes());
            }
            break;
    }
    if (c.zeroTimes) {
        std::size_t zeroed = 0;
        for (const FatEntry& e : dynamic_cast<FatParser&>(*intact).Entries()) {
            if (e.entryOffset == 0) continue;
            zero(e.entryOffset + 13, 7);
            zero(e.entryOffset + 22, 2);
            ++zeroed;
        }
        ASSERT_GT(zeroed, 10u);
    }

    MemoryReader damagedReader(damaged);
    auto recovered = Parse(damagedReader, prompter, c.kind, RecoveryMode::Advanced, c.table, c.cluster);
    ASSERT_TRUE(recovered) << (prompter.informed.empty() ? 0 : int(prompter.informed.back().step));

    auto theirs = test::ParseFls(test::ReadImageFile(std::string(c.image) + ".fls"));
    auto before = test::ListParser(*intact);
    auto ours = test::ListParser(*recovered);
    ASSERT_FALSE(theirs.empty());
    const bool rootLost = c.damage == Damage::RootCluster;
    std::size_t orphaned = 0;
    // The intact volume's standard listing stands in for fls where the
    // recycle-bin pass renamed a "$R" file after its "$I" record.
    for (const auto& [p, fls] : theirs) {
        if (!before.count(p)) continue;
        auto it = ours.find(p);
        if (it == ours.end() && rootLost) {
            if (p.find('/') == std::string::npos) continue;  // named only by the lost root
            // The lost folder's contents hang under the orphan folder: p's tail.
            const std::string orphan = std::string(kFatOrphanFolderName) + "/";
            for (auto o = ours.lower_bound(orphan); o != ours.end() && o->first.rfind(orphan, 0) == 0; ++o) {
                const std::string tail = "/" + o->first.substr(orphan.size());
                if (p.size() > tail.size() && p.compare(p.size() - tail.size(), tail.size(), tail) == 0) {
                    it = o;
                    ++orphaned;
                    break;
                }
            }
        }
        ASSERT_NE(it, ours.end()) << p << " is missing";
        EXPECT_EQ(it->second.folder, fls.folder) << p;
        auto b = before.find(p);
        if (!fls.folder && !fls.deleted) {
            EXPECT_TRUE(test::ExtractedBytes(*recovered, it->second.row) == test::ExtractedBytes(*intact, b->second.row)) << p << ": other bytes";
        }
    }
    if (rootLost) {
        EXPECT_GT(orphaned, 0u);
    }
    // Every fls entry the standard scan lists (all but renamed recycled files).
    std::size_t listed = 0;
    for (const auto& entry : theirs) listed += before.count(entry.first);
    EXPECT_GE(listed + 4, theirs.size());
}

INSTANTIATE_TEST_SUITE_P(Advanced, FatAdvancedScan,
                         ::testing::Values(ScanCase{"fat32-card", "FAT32", Damage::Boot, 0, 0},
                                           ScanCase{"fat32-card", "FAT32", Damage::BootAndBackup, 0, 0},
                                           ScanCase{"fat32-card", "FAT32", Damage::FirstTable, 0, 0},
                                           ScanCase{"fat32-card", "FAT32", Damage::RootCluster, 0, 0},
                                           // No boot left: the user picks 1 sector per cluster (index 6).
                                           ScanCase{"sample-card", "FAT32", Damage::BootAndBackup, 0, 6},
                                           ScanCase{"fat16-stick", "FAT16", Damage::Boot, 0, 0},
                                           ScanCase{"fat16-stick", "FAT16", Damage::FirstTable, 0, 0},
                                           ScanCase{"fat32-card", "FAT32", Damage::RootCluster, 0, 0, true},
                                           // The root region gone: the folder of 400 long names
                                           // (25 clusters) is found as a lost folder, whole.
                                           ScanCase{"fat16-stick", "FAT16", Damage::RootCluster, 0, 0},
                                           ScanCase{"fat16-stick", "FAT16", Damage::Boot, 0, 0, true}));

// A card quick-formatted with 1 KiB clusters over one of 512-byte clusters: the
// new boot sector and table spacing describe the new volume, yet picking the
// first table and the old cluster size brings back the old tree, byte-exact,
// from the folders' own cluster numbers.
TEST(FatAdvancedReformat, TheOldClusterSizeBringsBackTheOldTree) {
    const std::string path = test::ImagePath("fat32-reclustered");
    if (path.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    std::istringstream old(test::ReadImageFile("fat32-reclustered.old"));
    std::string line;
    while (std::getline(old, line) && line.rfind('#', 0) == 0) {
    }
    std::uint64_t firstTable = 0, copies = 0, tableBytes = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::istringstream(line) >> firstTable >> copies >> tableBytes >> sectorsPerCluster;
    ASSERT_NE(sectorsPerCluster, 0u);

    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    MemoryReader reader(bytes);
    NullProgress progress;
    const TableCandidates found = TableFinder(VolumeView(reader), bytes.size(), TableKind::Fat32, progress).Find(3);
    const auto table = std::find(found.tables.begin(), found.tables.end(), firstTable);
    const auto cluster = std::find(found.clusterSizes.begin(), found.clusterSizes.end(), sectorsPerCluster);
    ASSERT_NE(table, found.tables.end());
    ASSERT_NE(cluster, found.clusterSizes.end());
    ASSERT_NE(found.clusterSizes[0], sectorsPerCluster) << "the new boot sector's size leads";

    RecordingPrompter prompter;
    auto parser = Parse(reader, prompter, "FAT32", RecoveryMode::Advanced, int(table - found.tables.begin()),
                        int(cluster - found.clusterSizes.begin()));
    ASSERT_TRUE(parser);
    auto ours = test::ListParser(*parser);
    std::istringstream icat(test::ReadImageFile("fat32-reclustered.icat"));
    int compared = 0;
    for (std::string row; std::getline(icat, row);) {
        std::vector<std::string> f;
        std::istringstream fields(row);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        ASSERT_EQ(f.size(), 7u) << row;
        auto it = ours.find(f[6]);
        ASSERT_NE(it, ours.end()) << f[6] << " is missing";
        EXPECT_EQ(test::Md5::Of(test::ExtractedBytes(*parser, it->second.row)), f[5]) << f[6];
        ++compared;
    }
    EXPECT_EQ(compared, 5);
    // The old folders, under their paths.
    for (const char* folder : {"DCIM", "DCIM/100NIKON", "Notes"}) {
        ASSERT_TRUE(ours.count(folder)) << folder;
        EXPECT_TRUE(ours.at(folder).folder) << folder;
    }
}

}  // namespace
}  // namespace tarnwell
