// Hand-made volumes and records: the corner cases mkntfs never writes.

#include <gtest/gtest.h>

#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRuns.h"
#include "ntfs/NtfsFixture.h"
#include "ntfs/NtfsTestSupport.h"

namespace tarnwell {
namespace {

using test::NtfsFixture;
using Record = test::NtfsFixture::Record;

std::unique_ptr<test::ScannedVolume> Scan(NtfsFixture& f, RecoveryMode mode = RecoveryMode::Standard) {
    return test::ScanReader(std::make_unique<MemoryReader>(f.bytes()), mode);
}

RowId At(const test::ScannedVolume& v, const std::string& path) {
    auto it = v.paths.find(path);
    return it == v.paths.end() ? kNoRow : it->second;
}

// The damaged cases side by side on one volume: each ends in the tree or under
// ORPHAN_ENTRY, and the walk from the root ends.
class HandMadeVolume : public ::testing::Test {
protected:
    void SetUp() override {
        f.Put(Record(16, 1, 0x3).StandardInformation().FileName(5, 5, "A", 1, true));
        f.Put(Record(17, 1, 0x1).StandardInformation().FileName(17, 1, "self.txt").ResidentData("me"));
        // 8 KiB at cluster 1,000,000 of a 512-cluster volume.
        f.Put(Record(18, 1, 0x1).StandardInformation().FileName(5, 5, "far.bin").NonResidentData({{2, 1000000}}, 8192));
        // Its parent reference carries sequence 7; record 16 is at sequence 1 now.
        f.Put(Record(19, 1, 0x1).StandardInformation().FileName(16, 7, "reused.txt").ResidentData("x"));
        // Two folders that name each other as parent.
        f.Put(Record(20, 1, 0x3).StandardInformation().FileName(21, 1, "loopA", 1, true));
        f.Put(Record(21, 1, 0x3).StandardInformation().FileName(20, 1, "loopB", 1, true));
        // A child listed before its folder's record.
        f.Put(Record(22, 1, 0x1).StandardInformation().FileName(23, 1, "child.txt").ResidentData("child"));
        f.Put(Record(23, 1, 0x3).StandardInformation().FileName(5, 5, "B", 1, true));
        // A torn record: its second sector's check value differs.
        f.Put(Record(24, 1, 0x1).StandardInformation().FileName(5, 5, "torn.txt").ResidentData("torn"), true);
        // 600 bytes of resident data across byte 510, which the update sequence replaced on disk.
        Record r25(25, 1, 0x1);
        r25.StandardInformation().FileName(5, 5, "crossing.txt").ResidentData(content600);
        f.Put(r25);
        // The DOS name first, then the long one with another parent: name and parent from the long one.
        f.Put(Record(26, 1, 0x1)
                  .StandardInformation()
                  .FileName(16, 1, "LONGFI~1.TXT", 2)
                  .FileName(5, 5, "Long file name.txt", 1)
                  .ResidentData("long"));
        // A deleted file whose deleted folder's sequence rose by one when it was freed.
        f.Put(Record(27, 4, 0x2).StandardInformation().FileName(5, 5, "gone", 1, true));
        f.Put(Record(28, 2, 0x0).StandardInformation().FileName(27, 3, "gone.txt").ResidentData("g"));
        // A run list whose length field says 2^40 clusters.
        f.Put(Record(29, 1, 0x1)
                  .StandardInformation()
                  .FileName(5, 5, "huge.bin")
                  .NonResidentPairs({0x18, 0, 0, 0, 0, 0, 0x01, 0, 0, 0x10, 0}, 1ULL << 52));
        // Data in two runs with a sparse run between them.
        f.PutCluster(40, std::string(4096, 'a'));
        f.PutCluster(90, std::string(4096, 'b'));
        f.Put(Record(30, 1, 0x1).StandardInformation().FileName(5, 5, "holes.bin").NonResidentData({{1, 40}, {2, -1}, {1, 90}}, 4 * 4096 - 100));
    }
    NtfsFixture f;
    std::string content600 = test::Pattern("six hundred", 600);
};

TEST_F(HandMadeVolume, EveryDamagedRecordEndsInTheTreeOrUnderTheOrphanFolder) {
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        auto v = Scan(f, mode);
        SCOPED_TRACE(static_cast<int>(mode));
        EXPECT_NE(At(*v, "ORPHAN_ENTRY/self.txt"), kNoRow) << "a record that names itself as parent";
        EXPECT_NE(At(*v, "ORPHAN_ENTRY/reused.txt"), kNoRow) << "its parent record was reused";
        EXPECT_NE(At(*v, "B/child.txt"), kNoRow) << "a parent found after its child";
        EXPECT_NE(At(*v, "A"), kNoRow);
        EXPECT_NE(At(*v, "Long file name.txt"), kNoRow);
        EXPECT_EQ(At(*v, "A/LONGFI~1.TXT"), kNoRow);
        EXPECT_NE(At(*v, "gone/gone.txt"), kNoRow) << "a deleted file in its deleted folder";
        // The cycle is cut once: one folder under the orphan folder, the other inside it.
        bool cut = At(*v, "ORPHAN_ENTRY/loopA/loopB") != kNoRow || At(*v, "ORPHAN_ENTRY/loopB/loopA") != kNoRow;
        EXPECT_TRUE(cut);
        RowId torn = At(*v, "torn.txt");
        ASSERT_NE(torn, kNoRow) << "a torn record is still listed";
        EXPECT_TRUE(v->parser->Entry(torn).torn);
        EXPECT_TRUE(v->parser->Info(At(*v, "ORPHAN_ENTRY/self.txt")).orphan);
        EXPECT_FALSE(v->parser->Info(At(*v, "B/child.txt")).orphan);
    }
}

TEST_F(HandMadeVolume, ExtractionOfDamagedAndResidentRecords) {
    auto v = Scan(f);
    test::TempDir out;
    ExtractStatus status;
    EXPECT_EQ(test::ReadWhole(test::ExtractTo(*v->parser, At(*v, "far.bin"), out, &status)), std::string(8192, '\0'))
        << "runs beyond the volume end are not read: zeros in their place";
    EXPECT_EQ(status, ExtractStatus::Partial) << "runs beyond the volume end are reported, not read";
    test::ExtractTo(*v->parser, At(*v, "huge.bin"), out, &status);
    EXPECT_EQ(status, ExtractStatus::Partial);
    EXPECT_EQ(test::ReadWhole(test::ExtractTo(*v->parser, At(*v, "crossing.txt"), out)), content600)
        << "the bytes under the update sequence are restored";
    EXPECT_EQ(v->parser->Info(At(*v, "crossing.txt")).size, 600u);
    std::string holes = test::ReadWhole(test::ExtractTo(*v->parser, At(*v, "holes.bin"), out, &status));
    EXPECT_EQ(status, ExtractStatus::Ok);
    EXPECT_EQ(holes, std::string(4096, 'a') + std::string(8192, '\0') + std::string(4096 - 100, 'b'));
    test::ExtractTo(*v->parser, At(*v, "torn.txt"), out, &status);
    EXPECT_EQ(status, ExtractStatus::Partial) << "data from a torn record may be stale";
    EXPECT_EQ(test::ReadWhole(test::ExtractTo(*v->parser, At(*v, "ORPHAN_ENTRY/self.txt"), out)), "me");
}

// Counts what a sink is given, data, holes and unreadable runs apart.
class CountingSink final : public FileSink {
public:
    bool Write(const void*, std::size_t size) override {
        data += size;
        return data <= (64u << 20);  // more than any of these volumes holds
    }
    bool WriteHole(std::uint64_t size) override {
        holes += size;
        return true;
    }
    std::uint64_t data = 0, holes = 0;
};

// Every byte that could not be had is counted as unreadable: runs outside the
// volume, a run list that ends before the file; sparse runs are holes, not lost.
TEST_F(HandMadeVolume, BytesThatCouldNotBeHadAreCountedAndSparseRunsAreHoles) {
    auto v = Scan(f);
    const std::uint64_t volume = (f.bytes().size() / 512 - 1) * 512;  // as the boot sector counts it
    struct Case {
        const char* path;
        ExtractStatus status;
        std::uint64_t data, holes, unreadable;
    };
    const Case cases[] = {
        {"far.bin", ExtractStatus::Partial, 0, 0, 8192},
        {"huge.bin", ExtractStatus::Partial, 0, 0, volume},  // 2^52 bytes claimed: the volume's worth
        {"holes.bin", ExtractStatus::Ok, 2 * 4096 - 100, 8192, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CountingSink sink;
        EXPECT_EQ(v->parser->ExtractData(At(*v, c.path), sink), c.status);
        EXPECT_EQ(sink.data, c.data);
        EXPECT_EQ(sink.holes - sink.UnreadableBytes(), c.holes);
        EXPECT_EQ(sink.UnreadableBytes(), c.unreadable);
    }
}

// A compression unit NTFS cannot have: a shift of 64 or more is no number, and
// from 52 on the block size wraps to nothing. Such a file is read as
// unreadable, at once, and says why.
TEST(HandMadeRecord, CompressionUnitsNtfsCannotHaveAreUnreadable) {
    NtfsFixture f;
    const std::uint16_t units[] = {17, 20, 52, 60, 63, 64, 200, 0xFFFF};
    std::uint32_t record = 16;
    for (std::uint16_t unit : units) {
        f.PutCluster(40 + record, std::string(4096, 'c'));
        f.Put(Record(record, 1, 0x1)
                  .StandardInformation()
                  .FileName(5, 5, "unit" + std::to_string(unit) + ".bin")
                  .NonResidentData({{1, 40 + record}}, 3000, 0x0001, unit));
        ++record;
    }
    auto v = Scan(f);
    for (std::uint16_t unit : units) {
        SCOPED_TRACE(unit);
        RowId row = At(*v, "unit" + std::to_string(unit) + ".bin");
        ASSERT_NE(row, kNoRow);
        CountingSink sink;
        EXPECT_EQ(v->parser->ExtractData(row, sink), ExtractStatus::Failed);
        EXPECT_EQ(sink.data, 0u);
        EXPECT_EQ(sink.UnreadableBytes(), 3000u);
        EXPECT_NE(v->parser->LastProblem().find("compression unit of " + std::to_string(unit)), std::string::npos)
            << v->parser->LastProblem();
    }
}

TEST(HandMadeRecord, MftWithZeroedRecordAndMirror) {
    // Record 0 and its mirror gone, boot sector intact: the MFT search finds nothing,
    // the scan says so and the tree still has its root and orphan folder.
    NtfsFixture f;
    std::memset(&f.bytes()[NtfsFixture::kMftLcn * NtfsFixture::kCluster], 0, 1024);
    auto v = Scan(f);
    EXPECT_FALSE(v->scanned);
    EXPECT_NE(v->parser->FirstChild(v->parser->Root()), kNoRow);
}

TEST(NtfsRecord, FixupsRestoreEveryStrideOfALargeRecord) {
    std::vector<std::uint8_t> r(4096, 0);
    std::memcpy(r.data(), "FILE", 4);
    r[4] = 48;
    r[6] = 9;  // check value and 8 strides
    r[48] = 0x34;
    r[49] = 0x12;
    for (int i = 1; i <= 8; ++i) {
        r[48 + 2 * i] = static_cast<std::uint8_t>(i);
        r[49 + 2 * i] = 0xAB;
        r[i * 512 - 2] = 0x34;
        r[i * 512 - 1] = 0x12;
    }
    std::vector<std::uint8_t> ok = r;
    EXPECT_EQ(ntfsfmt::ApplyFixups(ok.data(), ok.size()), ntfsfmt::FixupResult::Ok);
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(ok[i * 512 - 2], i);
        EXPECT_EQ(ok[i * 512 - 1], 0xAB);
    }
    r[7 * 512 - 2] = 0;  // the seventh stride was not written
    EXPECT_EQ(ntfsfmt::ApplyFixups(r.data(), r.size()), ntfsfmt::FixupResult::Torn);
    EXPECT_EQ(r[8 * 512 - 2], 8) << "a torn record is still fixed up";
    std::vector<std::uint8_t> bad = ok;
    bad[4] = 0xF0;
    bad[5] = 0x0F;  // the array lies outside the record
    EXPECT_EQ(ntfsfmt::ApplyFixups(bad.data(), bad.size()), ntfsfmt::FixupResult::Damaged);
}

TEST(NtfsRecord, BootSectorGeometry) {
    struct Case {
        std::uint16_t bytesPerSector;
        std::uint8_t sectorsPerCluster, recordField;
        std::uint64_t cluster, record, volumeBytes;
    };
    const std::vector<Case> cases = {
        {512, 8, 0xF6, 4096, 1024, 1000 * 512ULL},
        {512, 1, 0xF6, 512, 1024, 1000 * 512ULL},
        {512, 128, 0xF6, 65536, 1024, 1000 * 512ULL},
        {4096, 1, 0xF4, 4096, 4096, 1000 * 4096ULL},  // total sectors count 4 KiB sectors
        {512, 8, 0x01, 4096, 4096, 1000 * 512ULL},    // one cluster per record
        {512, 8, 0x7F, 4096, 1024, 1000 * 512ULL},    // unusable: 1024
        {512, 0xF4, 0xF6, 2u << 20, 1024, 1000 * 512ULL},  // 2^12 sectors per cluster
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b(512, 0);
        std::memcpy(&b[3], "NTFS    ", 8);
        b[11] = c.bytesPerSector & 0xFF;
        b[12] = c.bytesPerSector >> 8;
        b[13] = c.sectorsPerCluster;
        b[40] = 1000 & 0xFF;
        b[41] = 1000 >> 8;
        b[64] = c.recordField;
        auto boot = ntfsfmt::DecodeBootSector(b);
        ASSERT_TRUE(boot.has_value());
        EXPECT_EQ(boot->clusterSize, c.cluster);
        EXPECT_EQ(boot->recordSize, c.record);
        EXPECT_EQ(boot->VolumeBytes(), c.volumeBytes);
    }
    std::vector<std::uint8_t> zero(512, 0);
    EXPECT_FALSE(ntfsfmt::DecodeBootSector(zero).has_value());
}

TEST(NtfsRuns, MappingPairs) {
    using ntfsfmt::ClusterRun;
    struct Case {
        std::vector<std::uint8_t> pairs;
        bool complete;
        std::vector<ClusterRun> runs;  // vcn, length, lcn, sparse
    };
    const std::vector<Case> cases = {
        {{0x21, 0x18, 0x34, 0x56, 0x11, 0x05, 0xFF, 0x01, 0x08, 0x00},
         true,
         {{0, 24, 0x5634, false}, {24, 5, 0x5633, false}, {29, 8, 0, true}}},
        // 64-bit fields: a 5-byte length and an LCN past 2^32.
        {{0x55, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00},
         true,
         {{0, 1ULL << 32, 1LL << 33, false}}},
        // A 3-byte offset of FF FF FF is -1.
        {{0x11, 0x02, 0x10, 0x31, 0x01, 0xFF, 0xFF, 0xFF, 0x00}, true, {{0, 2, 0x10, false}, {2, 1, 0x0F, false}}},
        {{0x11, 0x02}, false, {}},                      // cut short
        {{0x19, 0x01, 0x00}, false, {}},                // a 9-byte length field
        {{0x11, 0x04, 0x10}, false, {{0, 4, 0x10, false}}},  // no end marker
        {{0x11, 0x01, 0x80, 0x00}, false, {}},          // an LCN before the volume
    };
    for (const Case& c : cases) {
        std::vector<ClusterRun> runs;
        EXPECT_EQ(ntfsfmt::DecodeRunList(c.pairs, 0, runs), c.complete);
        ASSERT_EQ(runs.size(), c.runs.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].vcn, c.runs[i].vcn);
            EXPECT_EQ(runs[i].length, c.runs[i].length);
            EXPECT_EQ(runs[i].sparse, c.runs[i].sparse);
            if (!runs[i].sparse) {
                EXPECT_EQ(runs[i].lcn, c.runs[i].lcn);
            }
        }
    }
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

TEST(HandMadeRecord, CandidateSearchWantsMftSevenRecordsBeforeBoot) {
    for (const char* first : {"$MFT", "$MFTMirr"}) {
        test::NtfsFixture f;
        f.Put(Record(0, 1, 0x1).StandardInformation().FileName(5, 5, first, 3).NonResidentData({{16, 4}}, 64 * 1024));
        f.Put(Record(7, 7, 0x1).StandardInformation().FileName(5, 5, "$Boot", 3));
        MemoryReader reader(f.bytes());
        ParserLinks links;
        links.view = VolumeView(reader);
        NtfsParser parser(links);
        EXPECT_EQ(parser.FindMftCandidates(4), std::string(first) == "$MFT" ? 1u : 0u) << first;
    }
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

TEST(HandMadeRecord, MftContinuedInAnExtensionRecordIsReadWhole) {
    // Records 0 to 63 at cluster 4, records 64 to 127 at cluster 300: the second
    // extent is named by record 0's attribute list and lives in record 16.
    test::NtfsFixture f;
    f.Put(Record(0, 1, 0x1)
              .StandardInformation()
              .AttributeList({{0x10, 0, 0, 1}, {0x30, 0, 0, 1}, {0x80, 0, 0, 1}, {0x80, 16, 16, 1}})
              .FileName(5, 5, "$MFT", 3)
              .NonResidentData({{16, 4}}, 128 * 1024));
    f.Put(Record(16, 1, 0x1).Base(0, 1).DataExtent({{16, 300}}, 16));
    f.PutAt(300 * 4096 + (70 - 64) * 1024,
            Record(70, 1, 0x1).StandardInformation().FileName(5, 5, "beyond.txt").ResidentData("far out"));
    auto v = Scan(f);
    ASSERT_TRUE(v->scanned);
    RowId row = At(*v, "beyond.txt");
    ASSERT_EQ(row, 70u) << "the row of record 70 is row 70";
    test::TempDir out;
    EXPECT_EQ(test::ReadWhole(test::ExtractTo(*v->parser, row, out)), "far out");
    EXPECT_EQ(At(*v, "ORPHAN_ENTRY"), v->parser->OrphanIndex());
}

}  // namespace
}  // namespace tarnwell
