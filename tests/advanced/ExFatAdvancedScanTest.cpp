// The advanced scan of exFAT on damaged copies of the committed images: what
// `fls -r -p` lists on the original is listed under its path, or under
// "ORPHAN ENTRY" once its folder is lost, with the original's bytes; and
// hand-made volumes for what no image shows.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "advanced/TableFinder.h"
#include "device/MemoryReader.h"
#include "fs/exfat/ExFatParser.h"
#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "support/ImageListing.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

ParserLinks Links(SectorReader& reader, RecordingPrompter& prompter) {
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = "exFAT";
    links.volume.sectorCount = reader.deviceSectorCount();
    return links;
}

template <typename T>
int IndexOf(const std::vector<T>& list, T value) {
    auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

enum class Damage { Boot, BootAndBackup, BootAndTable, RootCluster, Label };

struct ScanCase {
    const char* image;
    Damage damage;
    bool handOver;  // the lists of an earlier search are handed to the scan
};

class ExFatAdvancedScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ExFatAdvancedScan, ListsWhatFlsListsWithTheOriginalBytes) {
    const ScanCase& c = GetParam();
    const std::string path = test::ImagePath(c.image);
    if (path.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> original((std::istreambuf_iterator<char>(in)), {});
    ByteView boot(original.data(), 512);
    const std::uint64_t fatAt = std::uint64_t(boot.Le32(80)) * 512, fatBytes = std::uint64_t(boot.Le32(84)) * 512;
    const std::uint64_t heap = std::uint64_t(boot.Le32(88)) * 512;
    const std::uint32_t shift = boot.U8(109), cluster = 512u << shift;
    const std::uint64_t rootAt = heap + (std::uint64_t(boot.Le32(96)) - 2) * cluster;

    std::vector<std::uint8_t> damaged = original;
    auto zero = [&](std::uint64_t at, std::uint64_t n) { std::memset(damaged.data() + at, 0, n); };
    zero(0, 512);
    // Without the backup boot sector too, the root's entries place the heap.
    if (c.damage != Damage::Boot && c.damage != Damage::RootCluster) zero(12 * 512, 512);
    switch (c.damage) {
        case Damage::Boot: case Damage::BootAndBackup: break;
        case Damage::BootAndTable: zero(fatAt, fatBytes); break;
        case Damage::RootCluster: zero(rootAt, cluster); break;
        case Damage::Label:
            ASSERT_EQ(damaged[rootAt], 0x83);
            zero(rootAt, 32);
            break;
    }

    MemoryReader intactReader(original), damagedReader(damaged);
    RecordingPrompter prompter;
    auto intact = MakeParser("exFAT", Links(intactReader, prompter));
    ASSERT_TRUE(intact && intact->Scan(RecoveryMode::Standard));

    // The picks a user makes from what `candidates` shows.
    auto found = std::make_shared<TableCandidates>(
        TableFinder(VolumeView(damagedReader), damaged.size(), TableKind::ExFat, NoProgress()).Find(8));
    ParserLinks links = Links(damagedReader, prompter);
    links.advanced.table = IndexOf(found->tables, fatAt);
    links.advanced.heap = IndexOf(found->heaps, heap);
    links.advanced.cluster = IndexOf(found->clusterSizes, shift);
    links.advanced.max = 8;
    ASSERT_GE(links.advanced.heap, 0);
    ASSERT_GE(links.advanced.cluster, 0);
    if (c.damage == Damage::BootAndTable) {
        // No table left to pick: the heap alone places the clusters.
        EXPECT_EQ(links.advanced.table, -1);
        EXPECT_EQ(links.advanced.heap, 0) << "the root's entries place the heap first";
    } else {
        ASSERT_GE(links.advanced.table, 0);
    }
    if (c.handOver) links.advanced.found = found;
    auto recovered = MakeParser("exFAT", links);
    ASSERT_TRUE(recovered);
    ASSERT_TRUE(recovered->Scan(RecoveryMode::Advanced)) << (prompter.informed.empty() ? 0 : int(prompter.informed.back().step));

    auto theirs = test::ParseFls(test::ReadImageFile(std::string(c.image) + ".fls"));
    auto before = test::ListParser(*intact);
    auto ours = test::ListParser(*recovered);
    ASSERT_FALSE(theirs.empty());
    // A lost root cluster takes the names it held; a lost table cuts the
    // root's chain, so that its later clusters' entries become orphans.
    const bool rootLost = c.damage == Damage::RootCluster;
    const bool tableLost = c.damage == Damage::BootAndTable;
    const bool orphansExpected = rootLost || tableLost;
    const auto& intactEntries = dynamic_cast<ExFatParser&>(*intact).Entries();
    std::size_t unjoined = 0;
    const std::string orphan = std::string(kFatOrphanFolderName) + "/";
    std::size_t compared = 0;
    for (const auto& [p, fls] : theirs) {
        auto it = ours.find(p);
        if (it == ours.end() && orphansExpected) {
            for (auto o = ours.lower_bound(orphan); o != ours.end() && o->first.rfind(orphan, 0) == 0; ++o) {
                const std::string tail = o->first.substr(orphan.size());
                if (p == tail || (p.size() > tail.size() && p.compare(p.size() - tail.size() - 1, std::string::npos,
                                                                      "/" + tail) == 0)) {
                    it = o;
                    break;
                }
            }
            // With the root's own cluster gone, the first folder found stands in for it.
            if (it == ours.end() && rootLost) it = ours.find(p.substr(p.rfind('/') + 1));
            if (it == ours.end() && rootLost && p.find('/') == std::string::npos) continue;  // named only there
        }
        if (it == ours.end() && tableLost) {
            // A set split between two clusters of a fragmented folder cannot
            // be joined without the table.
            ++unjoined;
            continue;
        }
        ASSERT_NE(it, ours.end()) << p << " is missing";
        EXPECT_EQ(it->second.folder, fls.folder) << p;
        EXPECT_EQ(it->second.deleted, fls.deleted) << p;
        // Without the table only files stored without a chain keep their bytes.
        const bool chained = !intactEntries.at(before.at(p).row).Contiguous();
        if (!fls.folder && !fls.deleted && !(tableLost && chained)) {
            EXPECT_TRUE(test::ExtractedBytes(*recovered, it->second.row) == test::ExtractedBytes(*intact, before.at(p).row)) << p << ": other bytes";
            ++compared;
        }
    }
    EXPECT_GT(compared, 0u);
    EXPECT_LT(unjoined * 20, theirs.size()) << "most sets lie whole in one cluster";
    if (!orphansExpected) {
        // Nothing was lost, so nothing is an orphan.
        auto o = ours.lower_bound(orphan);
        EXPECT_TRUE(o == ours.end() || o->first.rfind(orphan, 0) != 0) << o->first;
    }
}

INSTANTIATE_TEST_SUITE_P(Advanced, ExFatAdvancedScan,
                         ::testing::Values(ScanCase{"exfat-4k", Damage::Boot, false},
                                           ScanCase{"exfat-4k", Damage::BootAndBackup, false},
                                           ScanCase{"exfat-128k", Damage::BootAndBackup, true},
                                           ScanCase{"exfat-4k", Damage::BootAndTable, true},
                                           ScanCase{"exfat-4k", Damage::RootCluster, true},
                                           ScanCase{"exfat-4k", Damage::Label, false},
                                           ScanCase{"exfat-128k", Damage::Boot, true},
                                           ScanCase{"exfat-128k", Damage::RootCluster, false}));

// A volume of zeros with a FAT head, a full bitmap cluster as the heap's first
// and sets where the tests put them.
struct HandMade {
    static constexpr std::uint64_t kFat = 512 * 8, kHeap = 512 * 64;
    static constexpr std::uint32_t kShift = 3, kCluster = 512u << kShift;
    std::vector<std::uint8_t> bytes;

    explicit HandMade(std::uint64_t size) : bytes(size, 0) {
        const std::uint8_t head[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(&bytes[kFat], head, 8);
        std::memset(&bytes[kHeap], 0xFF, 64);
        // The root: cluster 5, its volume label first.
        bytes[ClusterAt(5)] = 0x83;
        bytes[ClusterAt(5) + 1] = 1;
        Put(ClusterAt(5) + 2, u'V', 2);
    }
    std::uint64_t ClusterAt(std::uint32_t c) const { return kHeap + std::uint64_t(c - 2) * kCluster; }
    void Put(std::uint64_t at, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    // A contiguous file's (or folder's) set at at; returns the bytes it spans.
    std::size_t Set(std::uint64_t at, const std::u16string& name, std::uint16_t attributes, std::uint32_t first,
                    std::uint64_t length) {
        const std::size_t names = (name.size() + 14) / 15;
        bytes[at] = 0x85;
        bytes[at + 1] = static_cast<std::uint8_t>(1 + names);
        Put(at + 4, attributes, 2);
        Put(at + 8, (44u << 25) | (6u << 21) | (1u << 16), 4);
        const std::uint64_t s = at + 32;
        bytes[s] = 0xC0;
        bytes[s + 1] = 3;
        bytes[s + 3] = static_cast<std::uint8_t>(name.size());
        Put(s + 8, length, 8);
        Put(s + 20, first, 4);
        Put(s + 24, length, 8);
        for (std::size_t k = 0; k < names; ++k) {
            const std::uint64_t n = s + 32 * (k + 1);
            bytes[n] = 0xC1;
            for (std::size_t u = 0; u < 15 && k * 15 + u < name.size(); ++u) Put(n + 2 + 2 * u, name[k * 15 + u], 2);
        }
        Put(at + 2, EntrySetChecksum(ByteView(bytes), at, 2 + names), 2);
        return (2 + names) * 32;
    }
    std::unique_ptr<FileSystemParser> Scan(MemoryReader& reader, RecordingPrompter& prompter,
                                           std::vector<std::uint32_t> shifts = {kShift},
                                           ProgressSink* progress = nullptr, JobControl* control = nullptr) {
        ParserLinks links = Links(reader, prompter);
        if (progress) links.progress = progress;
        links.control = control;
        auto found = std::make_shared<TableCandidates>();
        found->tables = {kFat};
        found->heaps = {kHeap};
        found->clusterSizes = std::move(shifts);
        links.advanced.found = found;
        auto parser = MakeParser("exFAT", links);
        if (!parser->Scan(RecoveryMode::Advanced)) parser.reset();
        return parser;
    }
};

TEST(ExFatAdvancedHandMade, ASetAcrossTheScansReadBlocksIsFoundWhole) {
    // The scan reads 4 MiB at a time; this set's file entry is the last slot
    // of the first block, its stream and names are in the second.
    HandMade v(9u << 20);
    const std::uint64_t at = (4u << 20) - 32;
    const std::u16string name = u"across the end of a read.txt";
    v.Set(at, name, 0x20, 600, 11);
    std::memcpy(&v.bytes[v.ClusterAt(600)], "hello world", 11);
    MemoryReader reader(v.bytes);
    RecordingPrompter prompter;
    auto parser = v.Scan(reader, prompter);
    ASSERT_TRUE(parser);
    auto listed = test::ListParser(*parser);
    auto it = listed.find(std::string(kFatOrphanFolderName) + "/across the end of a read.txt");
    ASSERT_NE(it, listed.end());
    EXPECT_EQ(test::ExtractedBytes(*parser, it->second.row), "hello world");
}

TEST(ExFatAdvancedHandMade, AFolderFoundAfterItsContentsClaimsThem) {
    HandMade v(2u << 20);
    // Cluster 10 holds the folder's contents; the folder's own set lies in
    // cluster 20, further on, so its contents are found (and built) first.
    std::uint64_t at = v.ClusterAt(10);
    at += v.Set(at, u"inner.txt", 0x20, 30, 5);
    v.Set(at, u"sub", 0x10, 40, v.kCluster);
    v.Set(v.ClusterAt(40), u"deeper.txt", 0x20, 31, 6);
    std::memcpy(&v.bytes[v.ClusterAt(30)], "inner", 5);
    std::memcpy(&v.bytes[v.ClusterAt(31)], "deeper", 6);
    v.Set(v.ClusterAt(20), u"outer", 0x10, 10, v.kCluster);
    MemoryReader reader(v.bytes);
    RecordingPrompter prompter;
    auto parser = v.Scan(reader, prompter);
    ASSERT_TRUE(parser);
    auto listed = test::ListParser(*parser);
    const std::string orphan = std::string(kFatOrphanFolderName) + "/";
    ASSERT_TRUE(listed.count(orphan + "outer/inner.txt"));
    EXPECT_TRUE(listed.count(orphan + "outer/sub/deeper.txt")) << "a claimed folder keeps its own contents";
    EXPECT_FALSE(listed.count(orphan + "inner.txt"));
    EXPECT_FALSE(listed.count(orphan + "sub"));
    EXPECT_EQ(test::ExtractedBytes(*parser, listed.at(orphan + "outer/inner.txt").row), "inner");
}

TEST(ExFatAdvancedHandMade, FoldersThatHoldThemselvesEndTheBuild) {
    HandMade v(2u << 20);
    // "self" lies in its own cluster; "a" and "b" each hold the other.
    v.Set(v.ClusterAt(10), u"self", 0x10, 10, v.kCluster);
    v.Set(v.ClusterAt(20), u"a", 0x10, 21, v.kCluster);
    v.Set(v.ClusterAt(21), u"b", 0x10, 20, v.kCluster);
    MemoryReader reader(v.bytes);
    RecordingPrompter prompter;
    auto parser = v.Scan(reader, prompter);
    ASSERT_TRUE(parser);
    auto listed = test::ListParser(*parser);  // ends only when the tree has no cycle
    const std::string orphan = std::string(kFatOrphanFolderName) + "/";
    EXPECT_TRUE(listed.count(orphan + "self"));
    EXPECT_TRUE(listed.count(orphan + "a/b"));
    EXPECT_EQ(parser->RowCount(), 5u) << "root, orphans, self, a, b";
}

// Stops the job once the scan has reported its first block.
class StopAfterFirstBlock final : public ProgressSink {
public:
    explicit StopAfterFirstBlock(JobControl& control) : control_(control) {}
    void SetRange(std::int64_t, std::int64_t) override {}
    void SetPosition(std::int64_t) override { control_.RequestStop(); }
    void Report(const Event&) override {}

private:
    JobControl& control_;
};

TEST(ExFatAdvancedHandMade, AStopDuringTheScanKeepsWhatItFound) {
    HandMade v(9u << 20);
    v.Set(v.ClusterAt(10), u"early.txt", 0x20, 30, 1);
    v.Set((8u << 20) + 4096, u"late.txt", 0x20, 31, 1);
    MemoryReader reader(v.bytes);
    RecordingPrompter prompter;
    JobControl control;
    StopAfterFirstBlock progress(control);
    auto parser = v.Scan(reader, prompter, {HandMade::kShift}, &progress, &control);
    ASSERT_TRUE(parser);
    auto listed = test::ListParser(*parser);
    const std::string orphan = std::string(kFatOrphanFolderName) + "/";
    EXPECT_TRUE(listed.count(orphan + "early.txt"));
    EXPECT_FALSE(listed.count(orphan + "late.txt")) << "the stop came before its block";
}

TEST(ExFatAdvancedHandMade, ClusterShiftsNoVolumeCanHaveAreRefused) {
    HandMade v(1u << 20);
    v.Set(v.ClusterAt(2) + 64, u"a.txt", 0x20, 3, 1);
    MemoryReader reader(v.bytes);
    for (std::uint32_t shift : {17u, 40u, 255u}) {
        RecordingPrompter prompter;
        EXPECT_FALSE(v.Scan(reader, prompter, {shift})) << shift;
        EXPECT_FALSE(prompter.informed.empty()) << shift;
    }
    // A boot sector claiming shift 40 is no pick of its own.
    std::memcpy(&v.bytes[3], "EXFAT   ", 8);
    v.bytes[108] = 9;
    v.bytes[109] = 40;
    MemoryReader withBoot(v.bytes);
    auto found = TableFinder(VolumeView(withBoot), v.bytes.size(), TableKind::ExFat, NoProgress()).Find(3);
    EXPECT_EQ(IndexOf(found.clusterSizes, 40u), -1);
}

}  // namespace
}  // namespace tarnwell
