#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>

#include "device/FileReader.h"
#include "device/MemoryReader.h"
#include "fs/FileSystemRegistry.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "scan/ScanJob.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

using test::Slurp;

std::vector<std::uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

ParserLinks LinksFor(SectorReader& reader, RecordingPrompter& prompter) {
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = "HFS+";
    links.volume.sectorCount = reader.deviceSectorCount();
    return links;
}

// fls shows the private folder's four NULs as '^' and adds the metadata files.
std::map<std::string, test::Listed> FlsView(const std::string& image) {
    std::map<std::string, test::Listed> out;
    for (auto& [path, l] : test::ParseFls(test::ReadImageFile(image + ".fls")))
        if (path[0] != '$') out.emplace(path, l);
    return out;
}

std::map<std::string, test::Listed> OurView(const FileSystemParser& p) {
    std::map<std::string, test::Listed> out;
    for (const auto& [stored, l] : test::ListParser(p)) {
        std::string path = stored;
        for (char& c : path)
            if (c == '\0') c = '^';
        out.emplace(path, l);
    }
    return out;
}

bool IsResourceRow(RowId row) { return row >= HfsPlusParser::kResourceRowBase; }

RowId Find(const FileSystemParser& p, const std::string& path) {
    auto all = OurView(p);
    auto it = all.find(path);
    return it == all.end() ? kNoRow : it->second.row;
}

class HfsImage : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        image = test::ImagePath(GetParam());
        if (image.empty()) GTEST_SKIP() << "image not committed";
        ASSERT_TRUE(reader.Open(image));
        parser = MakeParser("hfs+", LinksFor(reader, prompter));
        ASSERT_TRUE(parser);
        ASSERT_TRUE(parser->Scan(RecoveryMode::Standard));
    }
    std::string image;
    FileReader reader;
    RecordingPrompter prompter;
    std::unique_ptr<FileSystemParser> parser;
};

TEST_P(HfsImage, ListsEveryFileFlsListsUnderItsTruePath) {
    test::UnchangedGuard unchanged(image);
    auto ours = OurView(*parser);
    auto theirs = FlsView(GetParam());
    ASSERT_FALSE(theirs.empty());
    for (const auto& [path, fls] : theirs) {
        auto it = ours.find(path);
        ASSERT_NE(it, ours.end()) << path << " is missing";
        EXPECT_FALSE(it->second.deleted) << path;
        EXPECT_EQ(it->second.folder, fls.folder) << path;
    }
    std::size_t extra = 0;
    for (const auto& [path, l] : ours) extra += theirs.count(path) == 0 && !IsResourceRow(l.row);
    EXPECT_EQ(extra, 0u) << "we list what fls lists, and resource forks beside their files";
}

TEST_P(HfsImage, RecoversTheBytesIcatGives) {
    if (!test::HaveSleuthKit()) GTEST_SKIP() << "icat not installed";
    test::UnchangedGuard unchanged(image);
    test::TempDir out;
    OutputWriter writer(out.path().string());
    auto ours = OurView(*parser);
    int compared = 0;
    for (const auto& [path, fls] : FlsView(GetParam())) {
        if (fls.folder) continue;
        if (path.rfind("many/", 0) == 0 && path != "many/f00001.txt" && path != "many/f20000.txt") continue;
        RowId row = ours.at(path).row;
        auto sub = writer.MakeFolder(writer.Root(), std::to_string(compared++));
        ASSERT_TRUE(sub);
        ASSERT_EQ(parser->ExtractFile(row, writer, *sub), ExtractStatus::Ok) << path;
        fs::path written = out.path() / sub->relativePath / OutputWriter::SafeName(parser->Info(row).name);
        ASSERT_TRUE(fs::exists(written)) << path << ": empty files are written too";
        EXPECT_EQ(Slurp(written), test::Icat(image, fls.inode)) << path;
        EXPECT_EQ(parser->Info(row).size, fs::file_size(written)) << path;
        // A resource fork beside its file: icat's attribute 4353 of the same file.
        RowId rsrc = HfsPlusParser::kResourceRowBase + row;
        if (parser->Info(rsrc).id == rsrc) {
            ASSERT_EQ(parser->ExtractFile(rsrc, writer, *sub), ExtractStatus::Ok) << path;
            EXPECT_EQ(Slurp(out.path() / sub->relativePath / OutputWriter::SafeName(parser->Info(rsrc).name)),
                      test::Icat(image, fls.inode + "-4353"))
                << path << ".rsrc";
        }
    }
    EXPECT_GE(compared, 3);
    EXPECT_EQ(writer.FilesFailed(), 0u);
}

TEST_P(HfsImage, TheNodeScanAloneFindsEveryCatalogRecord) {
    test::UnchangedGuard unchanged(image);
    FileReader again;
    ASSERT_TRUE(again.Open(image));
    HfsPlusParser scan(LinksFor(again, prompter));
    ASSERT_TRUE(scan.ReadVolumeHeader());
    ASSERT_TRUE(scan.ScanCatalogNodes());
    const auto& live = static_cast<HfsPlusParser&>(*parser).Entries();
    std::size_t records = 0;
    for (const auto& [id, e] : live) {
        if (e.resourceRow || id == kRootFolderId) continue;
        ++records;
        auto it = scan.Entries().find(id);
        ASSERT_NE(it, scan.Entries().end()) << e.name;
        EXPECT_EQ(it->second.name, e.name);
        EXPECT_EQ(it->second.parentId, e.parentId) << e.name;
    }
    EXPECT_GT(records, 3u);
}

TEST(HfsXorriso, FilesKeepTheTimesTheyWereGiven) {
    struct Case {
        const char* image;
        const char* path;
        const char* modified;
    };
    const Case cases[] = {
        {"hfsplus-x512", "sizes/s4096.bin", "2024-06-01T11:01:00Z"},
        {"hfsplus-x2k", "big.bin", "2023-03-04T05:06:07Z"},
    };
    for (const Case& c : cases) {
        std::string image = test::ImagePath(c.image);
        if (image.empty()) continue;
        FileReader reader;
        ASSERT_TRUE(reader.Open(image));
        RecordingPrompter prompter;
        HfsPlusParser p(LinksFor(reader, prompter));
        ASSERT_TRUE(p.Scan(RecoveryMode::Standard));
        RowId row = Find(p, c.path);
        ASSERT_NE(row, kNoRow) << c.path;
        EXPECT_EQ(IsoText(p.Info(row).modified), c.modified) << c.path;
        EXPECT_EQ(IsoText(p.TimesOf(row).modified), c.modified) << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, HfsImage, ::testing::Values("hfsplus-x512", "hfsplus-x2k", "hfsplus-gen", "hfsx-gen"));

// The generated volume, parsed from memory so that tests can spoil it.
class HfsGen : public ::testing::Test {
protected:
    void SetUp() override {
        image = test::ImagePath("hfsplus-gen");
        if (image.empty()) GTEST_SKIP() << "image not committed";
        bytes = Bytes(image);
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    std::unique_ptr<HfsPlusParser> Parse(std::vector<std::uint8_t> b, RecoveryMode mode = RecoveryMode::Standard,
                                bool expectOk = true) {
        readers.push_back(std::make_unique<MemoryReader>(std::move(b)));
        auto p = std::make_unique<HfsPlusParser>(LinksFor(*readers.back(), prompter));
        EXPECT_EQ(p->Scan(mode), expectOk);
        return p;
    }
    MemoryReader& LastReader() { return *readers.back(); }
    std::string Extract(HfsPlusParser& p, RowId row, ExtractStatus expected = ExtractStatus::Ok) {
        test::TempDir out;
        OutputWriter writer(out.path().string());
        EXPECT_EQ(p.ExtractFile(row, writer, writer.Root()), expected) << p.LastProblem();
        return Slurp(out / OutputWriter::SafeName(p.Info(row).name));
    }
    // Byte offset of the catalog key (parent, ascii name) in the image.
    std::size_t KeyAt(std::uint32_t parent, const std::string& name, std::size_t from = 0) {
        std::vector<std::uint8_t> key{0, std::uint8_t(6 + 2 * name.size()), std::uint8_t(parent >> 24),
                                      std::uint8_t(parent >> 16), std::uint8_t(parent >> 8), std::uint8_t(parent), 0,
                                      std::uint8_t(name.size())};
        for (char c : name) key.insert(key.end(), {0, std::uint8_t(c)});
        auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), key.begin(), key.end());
        return it == bytes.end() ? 0 : static_cast<std::size_t>(it - bytes.begin());
    }
    void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (24 - 8 * i));
    }
    static constexpr std::size_t kBlock = 4096;
    static constexpr std::size_t kCatalogHeader = 6 * kBlock;
    std::string image;
    std::vector<std::uint8_t> bytes;
    std::vector<std::unique_ptr<MemoryReader>> readers;
    RecordingPrompter prompter;
};

TEST_F(HfsGen, ShowsContentModificationTimeSizesAndPermissions) {
    auto p = Parse(bytes);
    RowId readme = Find(*p, "readme.txt");
    ASSERT_NE(readme, kNoRow);
    EntryInfo info = p->Info(readme);
    EXPECT_EQ(IsoText(info.modified), "2024-06-01T12:01:00Z") << "the content modification date";
    EXPECT_EQ(IsoText(info.created), "2024-06-01T11:01:00Z");
    EXPECT_EQ(IsoText(info.accessed), "2024-06-01T11:03:00Z");
    DetailTexts texts = p->FormatTimes(readme);
    EXPECT_EQ(texts.modified, "06/01/2024  12:01 PM");
    EXPECT_EQ(texts.created, "06/01/2024  11:01 AM");
    EXPECT_EQ(texts.attributes, "-Owner:W-Owner:R-OR-GR") << "mode 0644";
    EXPECT_EQ(p->FormatSize(Find(*p, "compressed.txt")), "146.48 KB") << "the decompressed size";
    test::TempDir out;
    OutputWriter writer(out.path().string());
    ASSERT_EQ(p->ExtractFile(readme, writer, writer.Root()), ExtractStatus::Ok);
    struct stat st {};
    ASSERT_EQ(::stat((out / "readme.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, CivilToSeconds(2024, 6, 1, 12, 1, 0));
    // A hard link takes its iNode's data and times.
    RowId link = Find(*p, "dir/link2.txt");
    ASSERT_NE(link, kNoRow);
    EXPECT_EQ(IsoText(p->Info(link).modified), "2024-06-02T11:01:00Z");
    EXPECT_EQ(Extract(*p, link), "shared by two names\n");
}

TEST_F(HfsGen, DeepModeAddsTheStaleLeafsRecordsMarkedDeleted) {
    auto standard = Parse(bytes);
    EXPECT_EQ(Find(*standard, "deleted.txt"), kNoRow) << "a free node is not part of the tree";
    auto deep = Parse(bytes, RecoveryMode::Deep);
    RowId gone = Find(*deep, "deleted.txt");
    ASSERT_NE(gone, kNoRow);
    EXPECT_TRUE(deep->Info(gone).deleted);
    EXPECT_EQ(Extract(*deep, gone), "this file was deleted\n");
    EXPECT_EQ(Find(*deep, "oldname.txt"), kNoRow) << "a stale record does not rename a live file";
    RowId readme = Find(*deep, "readme.txt");
    ASSERT_NE(readme, kNoRow);
    EXPECT_FALSE(deep->Info(readme).deleted);
    EXPECT_EQ(Extract(*deep, readme), "the first file\n");
    EXPECT_NE(Find(*deep, "ORPHAN_ENTRY"), kNoRow);
    // Everything the Standard way lists, the Deep way lists the same.
    auto live = OurView(*standard);
    auto all = OurView(*deep);
    for (const auto& [path, l] : live) EXPECT_EQ(all.count(path), 1u) << path;
}

TEST_F(HfsGen, AnUnreadableBlockIsZerosAndLaterBytesKeepTheirPlace) {
    auto clean = Parse(bytes);
    RowId frag = Find(*clean, "fragmented.bin");
    std::string good = Extract(*clean, frag);
    ASSERT_EQ(good.size(), 10 * kBlock - 100);
    // The fragment's third extent: mark its first sector bad.
    const auto& e = clean->Entries().at(frag);
    ASSERT_GE(e.extents.size(), 3u);
    auto p = Parse(bytes);
    LastReader().MarkBad(std::uint64_t(e.extents[2].startBlock) * kBlock / 512);
    std::string got = Extract(*p, frag, ExtractStatus::Partial);
    ASSERT_EQ(got.size(), good.size());
    EXPECT_EQ(got.substr(2 * kBlock + 512), good.substr(2 * kBlock + 512));
    EXPECT_EQ(got.substr(2 * kBlock, 512), std::string(512, '\0'));
}

TEST_F(HfsGen, UnknownCompressionIsReportedNotRecovered) {
    // The inline file's decmpfs header names type 3; make it LZVN (7).
    std::vector<std::uint8_t> b = bytes;
    const std::string magic = "fpmc";
    auto at = std::search(b.begin(), b.end(), magic.begin(), magic.end());
    ASSERT_NE(at, b.end());
    ASSERT_EQ(at[4], 3);
    at[4] = 7;
    auto p = Parse(b);
    Extract(*p, Find(*p, "inline.txt"), ExtractStatus::Failed);
    EXPECT_EQ(p->LastProblem(), "compression type 7 is not recovered");
}

TEST_F(HfsGen, RefusesWhatIsNotHfsPlus) {
    struct Case {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"signature", 1024, 'X'},
        {"block size not a power of two", 1024 + 42, 0x11},
        {"catalog node size 256", kCatalogHeader + 14 + 18, 0x01},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = bytes;
        b[c.at] = c.value;
        if (c.at == kCatalogHeader + 14 + 18) b[c.at + 1] = 0x00;
        auto p = Parse(b, RecoveryMode::Standard, false);
        EXPECT_EQ(p->FirstChild(p->Root()), kNoRow) << c.what;
    }
}

TEST_F(HfsGen, DamagedTreesEndWithoutAHang) {
    auto clean = Parse(bytes);
    const std::size_t all = OurView(*clean).size();
    const std::uint32_t firstLeaf = ByteView(bytes).Be32(kCatalogHeader + 14 + 10);
    const std::size_t nodeBlocks[] = {6, 7, 8, 9, 20, 21, 22, 23};
    const std::size_t leaf = nodeBlocks[firstLeaf] * kBlock;
    RowId dir = Find(*clean, "dir");
    RowId priv = Find(*clean, "^^^^HFS+ Private Data");
    ASSERT_NE(dir, kNoRow);
    ASSERT_NE(priv, kNoRow);

    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
        std::size_t atLeast;  // rows still listed
    };
    const Case cases[] = {
        {"a leaf linking to itself", [&](auto& b) { Put32(b, leaf, firstLeaf); }, 1},
        {"total nodes 2^32 - 1", [&](auto& b) { Put32(b, kCatalogHeader + 14 + 22, 0xFFFFFFFF); }, all},
        {"an offset past the node", [&](auto& b) { b[leaf + kBlock - 2] = 0xFF; b[leaf + kBlock - 1] = 0xF0; }, 1},
        {"a folder whose parent is its child",
         [&](auto& b) {
             Put32(b, KeyAt(2, "dir") + 2, static_cast<std::uint32_t>(priv));
             std::size_t k = KeyAt(2, std::string(4, '\0') + "HFS+ Private Data");
             Put32(b, k + 2, static_cast<std::uint32_t>(dir));
         },
         4},
        {"an overflow record adding no blocks",
         [&](auto& b) {
             for (std::size_t i = 0; i < 64; i += 8) Put32(b, 3 * kBlock + 14 + 12 + i + 4, 0);
         },
         all},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = bytes;
        c.spoil(b);
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            auto p = Parse(b, mode);
            auto listed = OurView(*p);
            EXPECT_GE(listed.size(), c.atLeast) << c.what;
            EXPECT_LE(listed.size(), all + 8) << c.what;
            EXPECT_LE(p->CountFiles(p->Root()), listed.size()) << c.what;
            if (std::string(c.what) == "an overflow record adding no blocks") {
                std::string part = Extract(*p, Find(*p, "fragmented.bin"), ExtractStatus::Partial);
                EXPECT_EQ(part.size(), 8 * kBlock) << "written as far as its known blocks go";
            }
            if (std::string(c.what) == "a folder whose parent is its child" && mode == RecoveryMode::Deep) {
                bool cut = false;
                for (const auto& [path, l] : OurView(*p))
                    cut |= path.rfind("ORPHAN_ENTRY/", 0) == 0 && path.size() > 4 && path.substr(path.size() - 4) == "/dir";
                EXPECT_TRUE(cut) << "the loop is cut under the orphan folder";
            }
        }
    }
}

TEST(HfsFixture, UtilLinuxSuperblockImageEndsCleanly) {
    std::string root = test::FixturesRoot();
    std::string packed = root + "/util-linux/images-fs/hfsplus.img.xz";
    if (root.empty() || !fs::exists(packed)) GTEST_SKIP() << "fixtures absent";
    test::TempDir tmp;
    std::string image = (tmp / "hfsplus.img").string();
    ASSERT_EQ(std::system(("xz -dc '" + packed + "' > '" + image + "'").c_str()), 0);
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        FileReader reader;
        ASSERT_TRUE(reader.Open(image));
        RecordingPrompter prompter;
        HfsPlusParser p(LinksFor(reader, prompter));
        EXPECT_TRUE(p.Scan(mode)) << "the volume header and catalog are whole";
        // fls lists nothing but the metadata files.
        std::size_t listed = 0;
        for (const auto& [path, l] : OurView(p)) listed += path != "ORPHAN_ENTRY";
        EXPECT_EQ(listed, 0u);
    }
    // Plain HFS (signature 'BD') is another file system.
    std::string hfs = root + "/util-linux/images-fs/hfs.img.xz";
    if (!fs::exists(hfs)) return;
    std::string plain = (tmp / "hfs.img").string();
    ASSERT_EQ(std::system(("xz -dc '" + hfs + "' > '" + plain + "'").c_str()), 0);
    FileReader reader;
    ASSERT_TRUE(reader.Open(plain));
    RecordingPrompter prompter;
    HfsPlusParser p(LinksFor(reader, prompter));
    EXPECT_FALSE(p.Scan(RecoveryMode::Deep));
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

class LastStatus final : public ProgressSink {
public:
    void SetRange(std::int64_t, std::int64_t) override {}
    void SetPosition(std::int64_t) override {}
    void Report(const Event& event) override {
        std::lock_guard lock(mutex_);
        last_ = event.step;
    }
    Step Last() {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    std::mutex mutex_;
    Step last_ = Step::None;
};

TEST(HfsScanJob, EndsWithWorkDoneOrWorkAborted) {
    std::string image = test::ImagePath("hfsplus-gen");
    if (image.empty()) GTEST_SKIP() << "image not committed";
    struct Case {
        RecoveryMode mode;
        bool spoil;
        Step status;
        ScanOutcome outcome;
    };
    const Case cases[] = {
        {RecoveryMode::Standard, false, Step::ScanDone, ScanOutcome::Completed},
        {RecoveryMode::Deep, false, Step::ScanDone, ScanOutcome::Completed},
        {RecoveryMode::Standard, true, Step::ScanAborted, ScanOutcome::Aborted},
        {RecoveryMode::Deep, true, Step::ScanAborted, ScanOutcome::Aborted},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = Bytes(image);
        if (c.spoil) bytes[1024] = 'X';
        ScanSession session;
        session.reader = std::make_unique<MemoryReader>(bytes);
        session.selectedVolume.fileSystem = "HFS+";
        session.selectedVolume.sizeText = "1  MB";
        session.recoveryMode = c.mode;
        LastStatus progress;
        RecordingPrompter prompter;
        ScanJob job(session, progress, prompter);
        ASSERT_TRUE(job.Start());
        job.Wait();
        EXPECT_EQ(progress.Last(), c.status);
        EXPECT_EQ(job.Outcome(), c.outcome);
        if (!c.spoil) {
            EXPECT_NE(job.Parser()->FirstChild(job.Parser()->Root()), kNoRow);
        }
    }
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

TEST(HfsMutations, SpoiledTreesNeverCrashAndExtractionEnds) {
    std::string image = test::ImagePath("hfsplus-gen");
    if (image.empty()) GTEST_SKIP() << "image not committed";
    const std::vector<std::uint8_t> clean = Bytes(image);
    // The B-tree blocks: extents 2-3, attributes 4-5, catalog 6-9 and 20-23.
    const std::size_t treeBlocks[] = {2, 3, 4, 5, 6, 7, 8, 9, 20, 21, 22, 23};
    for (std::uint8_t fill : {0x00, 0x01, 0x0E, 0xFF}) {
        for (std::size_t stride : {5u, 13u, 61u}) {
            std::vector<std::uint8_t> b = clean;
            for (std::size_t block : treeBlocks)
                for (std::size_t i = block * 4096 + 1; i < (block + 1) * 4096; i += stride) b[i] = fill;
            for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
                MemoryReader reader(b);
                RecordingPrompter prompter;
                HfsPlusParser p(LinksFor(reader, prompter));
                p.Scan(mode);
                test::TempDir out;
                OutputWriter writer(out.path().string());
                SaveSummary saved = p.SaveFolder(p.Root(), writer, writer.Root());
                EXPECT_LE(saved.files, p.RowCount()) << int(fill) << "/" << stride;
            }
        }
    }
}

}  // namespace
}  // namespace tarnwell
