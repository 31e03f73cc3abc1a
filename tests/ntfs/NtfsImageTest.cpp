// The parser on volumes made by mkntfs and ntfs-3g, against The Sleuth Kit's
// view of the same images (fls -r -p, icat checksums recorded beside them).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "core/FileTime.h"
#include "device/FileReader.h"
#include "fs/FileSystemRegistry.h"
#include "ntfs/NtfsTestSupport.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::ExtractTo;
using test::ScannedVolume;

std::unique_ptr<ScannedVolume> ScanImage(const std::string& name, RecoveryMode mode) {
    auto reader = test::LoadImage(name);
    if (!reader) return nullptr;
    return test::ScanReader(std::move(reader), mode);
}

bool Has(const ScannedVolume& v, const std::string& path) { return v.paths.count(path) > 0; }

RowId RowAt(const ScannedVolume& v, const std::string& path) {
    auto it = v.paths.find(path);
    return it == v.paths.end() ? kNoRow : it->second;
}

// What fls lists, we list at the same path: live entries always, deleted ones
// whenever the record still carries that name (fls also lists names left in
// folder indexes whose records were reused since).
void ExpectListsWhatFlsLists(const ScannedVolume& v, const std::string& image) {
    std::vector<test::FlsLine> fls = test::ReadFls(image);
    ASSERT_FALSE(fls.empty());
    int checked = 0;
    for (const test::FlsLine& f : fls) {
        if (f.path.rfind("$RECYCLE.BIN/", 0) == 0 && f.path.find("/$R") != std::string::npos) continue;  // renamed
        std::string path = f.path;
        if (path.rfind("$OrphanFiles/", 0) == 0) path = "ORPHAN_ENTRY/" + path.substr(13);
        if (f.deleted) {
            std::string last = path.substr(path.find_last_of('/') + 1);
            if (f.record >= v.parser->RowCount() || v.parser->Name(f.record) != last ||
                !v.parser->Info(f.record).deleted)
                continue;
        }
        ++checked;
        auto range = v.paths.equal_range(path);
        bool found = false;
        for (auto it = range.first; it != range.second; ++it)
            if (v.parser->Entry(it->second).recordNumber == f.record) found = true;
        EXPECT_TRUE(found) << image << ": " << path << " (record " << f.record << ")";
        if (found) {
            // fls marks the name's state; a name still in its folder's index
            // may belong to a freed record, which we show as deleted.
            RowId row = f.record;
            if (f.deleted) {
                EXPECT_TRUE(v.parser->Info(row).deleted) << path;
            }
            EXPECT_EQ(v.parser->Info(row).folder, f.folder) << path;
        }
    }
    EXPECT_GT(checked, 10);
}

// Every file icat reads is extracted with the same bytes.
void ExpectExtractsWhatIcatReads(ScannedVolume& v, const std::string& image, std::size_t limit = 200) {
    std::vector<test::IcatSum> sums = test::ReadSums(image);
    ASSERT_FALSE(sums.empty());
    test::TempDir out;
    std::size_t done = 0;
    for (const test::IcatSum& s : sums) {
        if (done++ >= limit) break;
        ASSERT_LT(s.record, v.parser->RowCount()) << s.path;
        ExtractStatus status;
        std::string file = ExtractTo(*v.parser, s.record, out, &status);
        EXPECT_EQ(status, ExtractStatus::Ok) << s.path;
        EXPECT_EQ(test::Md5Of(file), s.md5) << image << ": " << s.path;
    }
}

class NtfsImages : public ::testing::TestWithParam<std::string> {};

TEST_P(NtfsImages, ListsAndRecoversLikeTheSleuthKit) {
    auto v = ScanImage(GetParam(), RecoveryMode::Standard);
    if (!v) GTEST_SKIP() << "image not committed";
    ASSERT_TRUE(v->scanned);
    ExpectListsWhatFlsLists(*v, GetParam());
    ExpectExtractsWhatIcatReads(*v, GetParam());
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsImages, ::testing::Values("ntfs-4k", "ntfs-512", "ntfs-64k"));

TEST(NtfsImage, MadeThroughTheFactoryAndNeverWritten) {
    std::string path = test::ImagePath("ntfs-512");
    if (path.empty()) GTEST_SKIP();
    test::UnchangedGuard unchanged(path);
    FileReader reader;
    ASSERT_TRUE(reader.Open(path));
    ParserLinks links;
    links.view = VolumeView(reader);
    links.volume.fileSystem = "ntfs";
    auto parser = MakeParser("ntfs", links);
    ASSERT_NE(parser, nullptr);
    ASSERT_TRUE(parser->Scan(RecoveryMode::Standard));
    EXPECT_EQ(parser->Info(parser->Root()).name, "ROOT");
    std::set<std::string> top;
    for (RowId r = parser->FirstChild(parser->Root()); r != kNoRow; r = parser->NextSibling(r))
        top.insert(parser->Info(r).name);
    EXPECT_TRUE(top.count("dir") && top.count("big.txt") && top.count("$MFT"));
    EXPECT_EQ(*top.rbegin() == "ORPHAN_ENTRY" || top.count("ORPHAN_ENTRY"), true);
    // The orphan folder is the root's last child.
    RowId last = kNoRow;
    for (RowId r = parser->FirstChild(parser->Root()); r != kNoRow; r = parser->NextSibling(r)) last = r;
    EXPECT_EQ(parser->Info(last).name, "ORPHAN_ENTRY");
}

TEST(NtfsImage, SizesTimesAndTextsOfRows) {
    auto v = ScanImage("ntfs-4k", RecoveryMode::Standard);
    if (!v) GTEST_SKIP();
    RowId small = RowAt(*v, "Docs/resident690.txt");
    ASSERT_NE(small, kNoRow);
    EntryInfo info = v->parser->Info(small);
    EXPECT_EQ(info.size, 690u) << "a resident file has its value's length";
    EXPECT_EQ(v->parser->FormatSize(small), "690 Bytes");
    // Times from $STANDARD_INFORMATION, UTC as stored (the script's touch -d).
    EXPECT_EQ(IsoText(info.modified), "2024-03-05T14:30:15Z");
    EXPECT_EQ(IsoText(info.accessed), "2024-03-05T14:30:15Z");
    EXPECT_TRUE(info.created.valid && info.created.utc);
    EXPECT_EQ(v->parser->Info(RowAt(*v, "Docs/Sub/tenthousand.txt")).size, 10000u);
    EXPECT_EQ(v->parser->Info(RowAt(*v, "Squeezed/text.txt")).attributes.find("-C") != std::string::npos, true);
    EXPECT_TRUE(v->parser->Info(RowAt(*v, "Docs")).folder);
    EXPECT_TRUE(v->parser->Info(RowAt(*v, "Gone")).deleted) << "a deleted folder";
    EXPECT_TRUE(v->parser->Info(RowAt(*v, "Gone/one.txt")).deleted);

    // The output file gets the record's times.
    test::TempDir out;
    std::string file = ExtractTo(*v->parser, small, out);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, info.modified.seconds);
    EXPECT_EQ(st.st_atim.tv_sec, info.accessed.seconds);
}

TEST(NtfsImage, LongNamesWinOverDosNames) {
    auto v = ScanImage("ntfs-4k", RecoveryMode::Standard);
    if (!v) GTEST_SKIP();
    for (const auto& [path, row] : v->paths)
        EXPECT_EQ(path.find('~'), std::string::npos) << "a DOS 8.3 name was listed: " << path;
    EXPECT_TRUE(Has(*v, "Docs/A rather long file name that has no short form at all.document"));
}

TEST(NtfsImage, AttributeListFileWithItsNameAndDataInExtensionRecords) {
    auto v = ScanImage("ntfs-4k", RecoveryMode::Standard);
    if (!v) GTEST_SKIP();
    RowId row = RowAt(*v, "fragmented.txt");
    ASSERT_NE(row, kNoRow);
    EXPECT_TRUE(v->parser->Entry(row).hasAttributeList);
    std::uint64_t size = v->parser->Info(row).size;
    EXPECT_GT(size, 8u << 20);
    test::TempDir out;
    ExtractStatus status;
    std::string file = ExtractTo(*v->parser, row, out, &status);
    EXPECT_EQ(status, ExtractStatus::Ok);
    EXPECT_EQ(test::ReadWhole(file), test::Pattern("fragmented", size));
}

TEST(NtfsImage, RecycleBinNamesOfBothIndexVersions) {
    auto v = ScanImage("ntfs-4k", RecoveryMode::Standard);
    if (!v) GTEST_SKIP();
    const std::string bin = "$RECYCLE.BIN/S-1-5-21-1000-1001/";
    EXPECT_TRUE(Has(*v, bin + "report.txt")) << "version 1";
    EXPECT_TRUE(Has(*v, bin + "Ferien in Zürich.jpg")) << "version 2";
    EXPECT_FALSE(Has(*v, bin + "$RABC123.txt"));
    EXPECT_TRUE(Has(*v, bin + "$IABC123.txt")) << "the index files keep their names";
    test::TempDir out;
    EXPECT_EQ(test::ReadWhole(ExtractTo(*v->parser, RowAt(*v, bin + "report.txt"), out)), test::Pattern("report", 4000));
}

TEST(NtfsImage, FiveThousandFilesInOneFolder) {
    auto v = ScanImage("ntfs-many", RecoveryMode::Standard);
    if (!v) GTEST_SKIP();
    int n = 0;
    for (const auto& [path, row] : v->paths)
        if (path.rfind("crowd/file", 0) == 0) ++n;
    EXPECT_EQ(n, 5000);
    test::TempDir out;
    EXPECT_EQ(test::ReadWhole(ExtractTo(*v->parser, RowAt(*v, "crowd/file04321.txt"), out)), "4321\n");
    EXPECT_EQ(v->parser->CountFiles(RowAt(*v, "crowd")), 5000u);
}

TEST(NtfsImage, ZeroedBootSectorIsReadThroughTheMftSearch) {
    auto reader = test::LoadImage("ntfs-4k");
    if (!reader) GTEST_SKIP();
    std::vector<std::uint8_t> bytes = reader->Bytes();
    std::memset(bytes.data(), 0, 512);
    auto v = test::ScanReader(std::make_unique<MemoryReader>(bytes), RecoveryMode::Standard, bytes.size() >> 20);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->parser->ClusterSize(), 4096u) << "taken from where $MFT lies and what its runs say";
    ExpectListsWhatFlsLists(*v, "ntfs-4k");
    test::TempDir out;
    RowId row = RowAt(*v, "fragmented.txt");
    ASSERT_NE(row, kNoRow);
    EXPECT_EQ(test::ReadWhole(ExtractTo(*v->parser, row, out)), test::Pattern("fragmented", v->parser->Info(row).size));
}

TEST(NtfsImage, DeepModeFindsTheFilesOfTheVolumeUnderTheirFolders) {
    auto v = ScanImage("ntfs-4k", RecoveryMode::Deep);
    if (!v) GTEST_SKIP();
    for (const char* path : {"Docs/small.txt", "Docs/Sub/tenthousand.txt", "Squeezed/mixed.bin", "fragmented.txt",
                             "Gone/one.txt", "Docs/日本語の名前.txt"})
        EXPECT_TRUE(Has(*v, path)) << path;
    // Rows found on the disk read their data as the MFT's rows do.
    test::TempDir out;
    int compared = 0;
    for (const test::IcatSum& s : test::ReadSums("ntfs-4k")) {
        if (s.path.rfind("fill/", 0) == 0 || s.path.find("/$R") != std::string::npos) continue;
        RowId row = RowAt(*v, s.path);
        ASSERT_NE(row, kNoRow) << s.path;
        EXPECT_EQ(test::Md5Of(ExtractTo(*v->parser, row, out)), s.md5) << s.path;
        ++compared;
    }
    EXPECT_GT(compared, 12);
}

TEST(NtfsImage, DeepModeListsTheFilesOfAReformattedVolume) {
    auto standard = ScanImage("ntfs-reformatted", RecoveryMode::Standard);
    if (!standard) GTEST_SKIP();
    for (const auto& [path, row] : standard->paths) EXPECT_EQ(path.find("old"), std::string::npos) << path;

    auto v = ScanImage("ntfs-reformatted", RecoveryMode::Deep);
    EXPECT_TRUE(Has(*v, "new.txt"));
    std::set<std::string> names;
    std::map<std::string, RowId> byName;
    for (const auto& [path, row] : v->paths) {
        std::string last = path.substr(path.find_last_of('/') + 1);
        names.insert(last);
        byName.emplace(last, row);
    }
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(names.count("old" + std::to_string(i) + ".txt")) << i;
    EXPECT_TRUE(names.count("inner.txt"));
    test::TempDir out;
    EXPECT_EQ(test::ReadWhole(ExtractTo(*v->parser, byName.at("old7.txt"), out)), test::Pattern("old7", 1500));
    EXPECT_EQ(test::ReadWhole(ExtractTo(*v->parser, byName.at("inner.txt"), out)), test::Pattern("innerfile", 9000));
}

TEST(NtfsImage, StopKeepsWhatWasFound) {
    auto reader = test::LoadImage("ntfs-many");
    if (!reader) GTEST_SKIP();
    JobControl control;
    control.RequestStop();
    ParserLinks links;
    links.view = VolumeView(*reader);
    links.control = &control;
    NtfsParser parser(links);
    parser.Scan(RecoveryMode::Standard);
    EXPECT_EQ(parser.Info(parser.Root()).name, "ROOT");
    EXPECT_NE(parser.FirstChild(parser.Root()), kNoRow) << "the orphan folder is there even after a stop";
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

TEST(NtfsImage, MftCandidatesLeadTheAdvancedModeToTheWholeTree) {
    auto reader = test::LoadImage("ntfs-4k");
    if (!reader) GTEST_SKIP();
    std::vector<std::uint8_t> bytes = reader->Bytes();
    std::uint64_t mftAt = ByteView(bytes).Le64(48) * 4096;
    std::memset(bytes.data(), 0, 512);  // the advanced page is for volumes like this one
    MemoryReader damaged(bytes);
    ParserLinks links;
    links.view = VolumeView(damaged);
    links.volume.sizeText = std::to_string(bytes.size() >> 20) + "  MB";
    NtfsParser parser(links);
    ASSERT_EQ(parser.FindMftCandidates(8), 1u) << "$MFT only: the mirror holds no $Boot seven records on";
    EXPECT_EQ(parser.MftCandidates()[0].entry.recordOffset, mftAt);
    EXPECT_EQ(parser.MftCandidates()[0].clusterSize, 4096u);

    parser.SelectMftCandidate(0, 8);
    ASSERT_TRUE(parser.Scan(RecoveryMode::Advanced));
    auto paths = test::TreePaths(parser);
    for (const char* path : {"Docs/Sub/tenthousand.txt", "fragmented.txt", "Squeezed/text.txt", "Gone/two.txt"})
        EXPECT_TRUE(paths.count(path)) << path;
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

class RecordingProgress final : public ProgressSink {
public:
    void SetRange(std::int64_t, std::int64_t upper) override { this->upper = upper; }
    void SetPosition(std::int64_t p) override { last = p; }
    void Report(const Event& event) override { said.push_back(event); }
    bool Said(Step step, std::int64_t count = -1) const {
        return std::any_of(said.begin(), said.end(),
                           [&](const Event& e) { return e.step == step && (count < 0 || e.count == count); });
    }
    std::vector<Event> said;
    std::int64_t upper = 0, last = 0;
};

TEST(NtfsImage, StatusTextsAndMessages) {
    auto reader = test::LoadImage("ntfs-512");
    if (!reader) GTEST_SKIP();
    std::vector<std::uint8_t> bytes = reader->Bytes();
    for (bool zeroed : {false, true}) {
        if (zeroed) std::memset(bytes.data(), 0, 512);
        MemoryReader image(bytes);
        RecordingProgress progress;
        RecordingPrompter prompter;
        ParserLinks links;
        links.view = VolumeView(image);
        links.progress = &progress;
        links.prompter = &prompter;
        NtfsParser parser(links);
        ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
        EXPECT_TRUE(progress.Said(Step::NtfsParsingMft));
        if (zeroed) {
            EXPECT_TRUE(progress.Said(Step::NtfsBootCorrupt));
            EXPECT_TRUE(progress.Said(Step::NtfsFoundMft));
        } else {
            EXPECT_TRUE(progress.Said(Step::NtfsBootFine));
            EXPECT_TRUE(progress.Said(Step::NtfsGotRun));
        }
        EXPECT_TRUE(progress.Said(Step::NtfsRecord, 0));
        EXPECT_EQ(progress.last, progress.upper);
        EXPECT_TRUE(prompter.informed.empty());

        // A folder is no file to extract.
        auto paths = test::TreePaths(parser);
        test::TempDir out;
        test::ExtractTo(parser, paths.find("dir")->second, out);
        ASSERT_EQ(prompter.informed.size(), 1u);
        EXPECT_EQ(prompter.informed[0].step, Step::IsDirectory);
        EXPECT_EQ(prompter.informed[0].name, "dir");
    }

    MemoryReader image(bytes);
    RecordingProgress progress;
    ParserLinks links;
    links.view = VolumeView(image);
    links.progress = &progress;
    NtfsParser parser(links);
    parser.Scan(RecoveryMode::Deep);
    EXPECT_TRUE(progress.Said(Step::NtfsDeepScanning));
    EXPECT_TRUE(progress.Said(Step::NtfsDeepRecord, 1));
}

}  // namespace
}  // namespace tarnwell
