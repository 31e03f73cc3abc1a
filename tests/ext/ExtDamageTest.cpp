// Damaged and unusual volumes: hand-made faults in copies of the committed
// images, and the public damaged images of e2fsprogs. None may hang or crash
// the parser, or make its tree loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "device/MemoryReader.h"
#include "ExtTestSupport.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> LoadImage(const std::string& name) {
    std::string path = ImagePath(name);
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Offset of the directory entry naming name (with the file-type byte type).
std::size_t FindEntry(const std::vector<std::uint8_t>& bytes, const std::string& name, std::uint8_t type) {
    std::string needle;
    needle += static_cast<char>(name.size());
    needle += static_cast<char>(type);
    needle += name;
    auto it = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
    if (it == bytes.end()) return std::string::npos;
    return static_cast<std::size_t>(it - bytes.begin()) - 6;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

ScannedImage ScanBytes(std::vector<std::uint8_t> bytes, ProgressSink* progress = nullptr, Prompter* prompter = nullptr) {
    return ScanReader(std::make_unique<MemoryReader>(std::move(bytes)), progress, prompter);
}

// Walks, lists, counts and extracts everything: the tree must be finite.
void ExerciseAll(FileSystemParser& p, const std::string& what) {
    std::uint64_t visited = 0;
    auto listed = ListAll(p, &visited);
    EXPECT_LE(visited, p.RowCount()) << what << ": a row was reached twice";
    p.CountFiles(p.Root());
    for (const auto& [path, l] : listed) {
        p.FormatTimes(l.id);
        p.FormatSize(l.id);
        if (l.folder || p.Info(l.id).size > (64u << 20)) continue;
        CksumSink sink;
        ExtractStatus status = p.ExtractData(l.id, sink);
        // A regular file comes out at its size, whatever could be read of it.
        const ExtEntry* row = static_cast<ExtParser&>(p).Row(l.id);
        if ((row->mode & 0xF000) == 0x8000 && status != ExtractStatus::Failed) {
            EXPECT_EQ(sink.size, p.Info(l.id).size) << what << ": " << path;
        }
    }
}

TEST(ExtDamage, RecordLengthPastTheBlockEndsOnlyThatBlock) {
    auto bytes = LoadImage("ext2-1k");
    if (bytes.empty()) GTEST_SKIP();
    std::size_t e = FindEntry(bytes, "small.txt", 1);
    ASSERT_NE(e, std::string::npos);
    Put16(bytes, e + 4, 0x7FFC);
    ScannedImage img = ScanBytes(std::move(bytes));
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    EXPECT_TRUE(listed.count("docs/deep/deeper/leaf.txt")) << "entries before the bad one stay";
    EXPECT_FALSE(listed.count("docs/small.txt"));
    EXPECT_TRUE(listed.count("many/entry-with-a-long-name-60.txt")) << "other folders are untouched";
    ExerciseAll(*img.parser, "rec_len past the block");
}

TEST(ExtDamage, FolderNamingItsAncestor) {
    auto bytes = LoadImage("ext2-1k");
    if (bytes.empty()) GTEST_SKIP();
    std::size_t leaf = FindEntry(bytes, "leaf.txt", 1);
    std::size_t docs = FindEntry(bytes, "docs", 2);
    ASSERT_NE(leaf, std::string::npos);
    ASSERT_NE(docs, std::string::npos);
    const std::uint32_t docsInode = bytes[docs] | bytes[docs + 1] << 8 | bytes[docs + 2] << 16;
    Put32(bytes, leaf, docsInode);
    bytes[leaf + 7] = 2;

    {
        ScannedImage img = ScanBytes(bytes);
        ASSERT_TRUE(img.scanned);
        auto listed = ListAll(*img.parser);
        ASSERT_TRUE(listed.count("docs/deep/deeper/leaf.txt"));
        EXPECT_TRUE(listed["docs/deep/deeper/leaf.txt"].folder);
        EXPECT_EQ(img.parser->FirstChild(listed["docs/deep/deeper/leaf.txt"].id), kNoRow)
            << "a second name of a folder carries no children";
        EXPECT_TRUE(listed.count("docs/medium.txt"));
        ExerciseAll(*img.parser, "ancestor");
    }

    // With the root's own entry gone, the folders form a loop that reaches no
    // root: it is cut, and everything in it lands under ORPHAN_ENTRY.
    Put32(bytes, docs, 0);
    ScannedImage img = ScanBytes(bytes);
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    bool found = false;
    for (const auto& [path, l] : listed)
        if (path.find("medium.txt") != std::string::npos && path.rfind("ORPHAN_ENTRY/", 0) == 0) found = l.orphan;
    EXPECT_TRUE(found) << "the looped folders' files are under ORPHAN_ENTRY";
    ExerciseAll(*img.parser, "loop");
    TempDir out;
    OutputWriter writer(out.path().string());
    SaveSummary s = img.parser->SaveFolder(img.parser->Root(), writer, writer.Root());
    EXPECT_GT(s.files, 0u);
}

TEST(ExtDamage, LoopingExtentTree) {
    auto bytes = LoadImage("ext4-1k-punched");
    if (bytes.empty()) GTEST_SKIP();
    RowId row;
    std::size_t inodeAt;
    {
        ScannedImage img = ScanBytes(bytes);
        ASSERT_TRUE(img.scanned);
        row = ListAll(*img.parser).at("two-mib.bin").id;
        const ExtEntry* e = img.ext().Row(row);
        inodeAt = e->tableBlock * 1024 + e->indexInGroup * img.ext().superblock().inodeSize;
    }
    // i_block: header with depth 2, index entries naming depth-1 nodes.
    std::size_t root = inodeAt + 40;
    ASSERT_EQ(bytes[root] | bytes[root + 1] << 8, 0xF30A);
    ASSERT_EQ(bytes[root + 6], 2);
    std::uint32_t node = bytes[root + 16] | bytes[root + 17] << 8 | bytes[root + 18] << 16;
    std::size_t n = static_cast<std::size_t>(node) * 1024;
    ASSERT_EQ(bytes[n] | bytes[n + 1] << 8, 0xF30A);
    Put32(bytes, n + 12 + 4, node);  // its first child is itself

    ScannedImage img = ScanBytes(bytes);
    ASSERT_TRUE(img.scanned);
    CksumSink sink;
    EXPECT_EQ(img.parser->ExtractData(row, sink), ExtractStatus::Partial);
    EXPECT_EQ(sink.size, 2097152u);
}

TEST(ExtDamage, UnreadableSectorBecomesZerosInPlace) {
    std::string path = ImagePath("ext2-1k");
    if (path.empty()) GTEST_SKIP();
    auto bytes = LoadImage("ext2-1k");
    std::string marker = "medium 00000100 ";
    auto it = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(it, bytes.end());
    std::uint64_t sector = static_cast<std::uint64_t>(it - bytes.begin()) / 512;
    auto reader = std::make_unique<MemoryReader>();
    ASSERT_TRUE(reader->Open(path));
    reader->MarkBad(sector);
    ScannedImage img = ScanReader(std::move(reader));
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    StringSink sink;
    EXPECT_EQ(img.parser->ExtractData(listed.at("docs/medium.txt").id, sink), ExtractStatus::Partial);
    EXPECT_EQ(img.ext().UnreadableBlocks(), 1u);
    std::string want = Gen("medium", 300000);
    std::size_t at = want.find(marker) / 512 * 512;
    std::fill_n(want.begin() + static_cast<std::ptrdiff_t>(at), 512, '\0');
    EXPECT_TRUE(sink.bytes == want) << "only the bad sector is zeros; nothing shifts";
}

TEST(ExtDamage, UnnamedDeletedInodeGoesUnderOrphanEntry) {
    auto bytes = LoadImage("ext2-1k");
    if (bytes.empty()) GTEST_SKIP();
    std::size_t e = FindEntry(bytes, "deleted.txt", 1);
    ASSERT_NE(e, std::string::npos);
    const std::uint32_t inode = bytes[e] | bytes[e + 1] << 8 | bytes[e + 2] << 16;
    bytes[e + 6] = 0;  // the name wiped, as the kernel does
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(e + 8), 11, 0);
    ScannedImage img = ScanBytes(std::move(bytes));
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    std::string orphan = "ORPHAN_ENTRY/OrphanFile-" + std::to_string(inode);
    ASSERT_TRUE(listed.count(orphan));
    EXPECT_TRUE(listed[orphan].deleted);
    EXPECT_TRUE(listed[orphan].orphan);
    EXPECT_FALSE(listed["ORPHAN_ENTRY"].deleted);
    StringSink sink;
    img.parser->ExtractData(listed[orphan].id, sink);
    EXPECT_TRUE(sink.bytes == Gen("medium", 300000));
}

class Statuses final : public ProgressSink {
public:
    void SetRange(std::int64_t, std::int64_t) override {}
    void SetPosition(std::int64_t) override {}
    void Report(const Event& event) override { said.push_back(event); }
    bool Has(Step step, std::int64_t count = 0, std::int64_t total = 0) const {
        return std::any_of(said.begin(), said.end(),
                           [&](const Event& e) { return e.step == step && e.count == count && e.total == total; });
    }
    std::vector<Event> said;
};

TEST(ExtScan, StatusTextsAndRefusal) {
    auto bytes = LoadImage("ext2-1k");
    if (bytes.empty()) GTEST_SKIP();
    Statuses progress;
    RecordingPrompter prompter;
    ScannedImage img = ScanBytes(bytes, &progress, &prompter);
    ASSERT_TRUE(img.scanned);
    EXPECT_TRUE(progress.Has(Step::ExtGroup, 1, 2));
    EXPECT_TRUE(progress.Has(Step::ExtGroup, 2, 2));
    for (Step s : {Step::ClearingRows, Step::ParentChild, Step::RootEntries})
        EXPECT_TRUE(progress.Has(s)) << int(s);
    EXPECT_TRUE(prompter.informed.empty());
    EXPECT_EQ(img.parser->Info(img.parser->Root()).name, "ROOT");

    // Not ext at all: refused, and the user is told.
    std::vector<std::uint8_t> zeros(1 << 20, 0);
    RecordingPrompter refused;
    ScannedImage none = ScanBytes(zeros, nullptr, &refused);
    EXPECT_FALSE(none.scanned);
    ASSERT_EQ(refused.informed.size(), 1u);
    EXPECT_EQ(refused.informed[0].step, Step::NotThisFileSystem);
    EXPECT_EQ(refused.informed[0].kind, "ext");
}

TEST(ExtScan, PermissionText) {
    auto bytes = LoadImage("ext2-1k");
    if (bytes.empty()) GTEST_SKIP();
    ScannedImage img = ScanBytes(bytes);
    auto listed = ListAll(*img.parser);
    EXPECT_EQ(img.parser->FormatTimes(listed.at("docs").id).attributes, "-OE-OR-GE-GR-UE-UW-UR");
    EXPECT_EQ(img.parser->FormatTimes(listed.at("hello.txt").id).attributes, "-OR-GR-UW-UR");
    EXPECT_EQ(img.parser->FormatSize(listed.at("docs/medium.txt").id), "292.97 KB");
}

// Random bytes changed in the metadata of small volumes: every run must end
// with a finite tree and files of their stated size.
TEST(ExtDamage, RandomMetadataMutations) {
    for (const std::string name : {"ext2-1k", "ext4-inline", "ext4-1k-punched"}) {
        auto original = LoadImage(name);
        if (original.empty()) continue;
        std::uint64_t state = 0x9E3779B97F4A7C15ULL;
        auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return state;
        };
        const std::size_t area = std::min<std::size_t>(original.size(), 600 * 1024);
        for (int round = 0; round < 40; ++round) {
            auto bytes = original;
            for (int k = 0; k < 40; ++k) bytes[1024 + next() % (area - 1024)] = static_cast<std::uint8_t>(next());
            ScannedImage img = ScanBytes(std::move(bytes));
            if (img.scanned) ExerciseAll(*img.parser, name + " round " + std::to_string(round));
        }
    }
}

// The public damaged images: each must end, with a finite tree.
TEST(ExtDamage, PublicDamagedImages) {
    std::string root = FixturesRoot();
    if (root.empty()) GTEST_SKIP() << "no fixtures folder";
    std::vector<fs::path> images;
    for (const char* folder : {"e2fsprogs", "util-linux"}) {
        fs::path dir = fs::path(root) / folder;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (name == "image.gz" || name == "image.bz2" ||
                (std::string(folder) == "util-linux" && name.find("ext") != std::string::npos &&
                 name.size() > 7 && name.substr(name.size() - 7) == ".img.xz"))
                images.push_back(entry.path());
        }
    }
    std::sort(images.begin(), images.end());
    ASSERT_FALSE(images.empty());
    TempDir dir;
    int scanned = 0;
    for (const fs::path& packed : images) {
        std::string ext = packed.extension().string();
        const char* tool = ext == ".gz" ? "gzip" : ext == ".bz2" ? "bzip2" : "xz";
        fs::path raw = dir / "image";
        std::string cmd = std::string(tool) + " -dc '" + packed.string() + "' > '" + raw.string() + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) continue;
        std::string what = fs::relative(packed, root).string();
        ScannedImage img = ScanImage(raw.string());
        if (img.scanned) {
            ++scanned;
            ExerciseAll(*img.parser, what);
        }
        fs::remove(raw);
    }
    EXPECT_GT(scanned, 100);
}

}  // namespace
}  // namespace tarnwell::test
