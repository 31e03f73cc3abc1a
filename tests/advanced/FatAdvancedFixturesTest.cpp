// Hand-made volumes with their boot sector gone: loops in the folder tree and
// in a chain end the advanced scan, and a boot sector with absurd values is no
// cause for an unbounded allocation.

#include <gtest/gtest.h>

#include <cstring>

#include "advanced/TableFinder.h"
#include "device/MemoryReader.h"
#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "support/FatFixture.h"
#include "support/ImageListing.h"

namespace tarnwell {
namespace {

std::map<std::string, test::Listed> Advanced(std::vector<std::uint8_t> bytes, const char* kind, int cluster,
                                             bool& ran) {
    MemoryReader reader(std::move(bytes));
    RecordingPrompter prompter;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = kind;
    links.volume.sectorCount = reader.deviceSectorCount();
    links.advanced.cluster = cluster;
    auto parser = MakeParser(kind, links);
    ran = parser && parser->Scan(RecoveryMode::Advanced);
    return ran ? test::ListParser(*parser) : std::map<std::string, test::Listed>{};
}

constexpr int kOneSectorFat32 = 6;  // index of 1 in the FAT32 cluster list without a boot sector

TEST(AdvancedFatFixtures, ADirectoryLoopAndAChainLoopEndTheScan) {
    // Root at cluster 2: without a boot sector that is where it is looked for.
    test::FatFixture f = test::FatFixture::Fat32(2);
    // ROOT/A (6) holds B (7), whose own entry leads back to A: a loop of folders.
    f.Entry(f.RootOffset(), "A", 0x10, 6, 0);
    f.Chain({6});
    f.Dots(6, 0);
    f.Entry(f.ClusterOffset(6) + 64, "B", 0x10, 7, 0);
    f.Chain({7});
    f.Dots(7, 6);
    f.Entry(f.ClusterOffset(7) + 64, "BACK", 0x10, 6, 0);
    // ROOT/C's chain runs 8 -> 9 -> 8.
    f.Entry(f.RootOffset() + 32, "C", 0x10, 8, 0);
    f.Dots(8, 0);
    f.SetFat(8, 9);
    f.SetFat(9, 8);
    f.Entry(f.RootOffset() + 64, "F       TXT", 0x20, 10, 100);
    f.Chain({10});
    std::memset(f.bytes.data(), 0, 512);

    bool ran = false;
    auto listed = Advanced(f.bytes, "FAT32", kOneSectorFat32, ran);
    ASSERT_TRUE(ran);
    EXPECT_TRUE(listed.count("A/B"));
    EXPECT_TRUE(listed.count("C"));
    EXPECT_TRUE(listed.count("F.TXT"));
}

TEST(AdvancedFatFixtures, ALongNameGoesOnlyToTheEntryWhoseChecksumItCarries) {
    test::FatFixture f = test::FatFixture::Fat32(2);
    f.Entry(f.RootOffset(), "KEEP    TXT", 0x20, 10, 4);
    f.Chain({10});
    // A folder no entry leads to (its parent's entry is lost): the advanced
    // scan finds it by its dot entries.
    f.Dots(6, 0);
    f.Chain({6});
    std::uint64_t at = f.ClusterOffset(6) + 64;
    at = f.LongEntry(at, u"wrong checksum.txt", "WRONGC~1TXT", 0x20, 11, 4, false, 1);
    at = f.LongEntry(at, u"right checksum.txt", "RIGHTC~1TXT", 0x20, 12, 4);
    // A run cut off by another entry before its own short entry.
    f.LongEntry(at, u"cut off.txt", "CUTOFF~1TXT", 0x20, 13, 4);
    f.Entry(at + 32, "PLAIN   TXT", 0x20, 14, 4);
    f.Entry(at + 64, "CUTOFF~1TXT", 0x20, 13, 4);
    f.Chain({11});
    f.Chain({12});
    f.Chain({13});
    f.Chain({14});
    std::memset(f.bytes.data(), 0, 512);

    bool ran = false;
    auto listed = Advanced(f.bytes, "FAT32", kOneSectorFat32, ran);
    ASSERT_TRUE(ran);
    const std::string orphan = std::string(kFatOrphanFolderName) + "/";
    EXPECT_TRUE(listed.count("KEEP.TXT"));
    EXPECT_TRUE(listed.count(orphan + "WRONGC~1.TXT"));
    EXPECT_FALSE(listed.count(orphan + "wrong checksum.txt"));
    EXPECT_TRUE(listed.count(orphan + "right checksum.txt"));
    EXPECT_TRUE(listed.count(orphan + "CUTOFF~1.TXT"));
    EXPECT_TRUE(listed.count(orphan + "PLAIN.TXT"));
    EXPECT_FALSE(listed.count(orphan + "cut off.txt"));
}

TEST(AdvancedFatFixtures, HandedOverClusterSizesNoFatCanHaveAreRefused) {
    test::FatFixture f = test::FatFixture::Fat32(2);
    f.Entry(f.RootOffset(), "F       TXT", 0x20, 10, 4);
    f.Chain({10});
    std::memset(f.bytes.data(), 0, 512);
    for (std::uint32_t spc : {0u, 3u, 512u, 6648473u, 0xFFFFFFFFu}) {
        MemoryReader reader(f.bytes);
        RecordingPrompter prompter;
        ParserLinks links;
        links.view = VolumeView(reader);
        links.prompter = &prompter;
        links.volume.fileSystem = "FAT32";
        auto lists = std::make_shared<TableCandidates>();
        lists->tables = {f.FatOffset()};
        lists->clusterSizes = {spc};
        links.advanced.found = lists;
        auto parser = MakeParser("FAT32", links);
        EXPECT_FALSE(parser->Scan(RecoveryMode::Advanced)) << spc;
        EXPECT_FALSE(prompter.informed.empty()) << spc;
    }
}

TEST(AdvancedFatFixtures, AHugeFat16GeometryInTheBootSectorIsBounded) {
    test::FatFixture f = test::FatFixture::Fat16();
    f.Entry(f.RootOffset(), "F       TXT", 0x20, 2, 10);
    f.Chain({2});
    // Every size field at its largest: the boot sector still parses as none.
    f.Put(0x11, 0xFFFF, 2);
    f.Put(0x16, 0xFFFF, 2);
    f.Put(0x20, 0xFFFFFFFF, 4);
    bool ran = false;
    auto listed = Advanced(f.bytes, "FAT16", 7, ran);  // index 7: one sector per cluster
    ASSERT_TRUE(ran);
    // The two tables' spacing places the root, not the boot's absurd sizes.
    EXPECT_TRUE(listed.count("F.TXT"));
}

}  // namespace
}  // namespace tarnwell
