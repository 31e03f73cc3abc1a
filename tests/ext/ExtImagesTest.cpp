// The ext parser against images made by mke2fs and debugfs (and one by the
// kernel), checked against The Sleuth Kit's view of each.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "ExtTestSupport.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kImages = {"ext2-1k",    "ext2-rev0",   "ext3-4k",     "ext4",
                                          "ext4-1k-punched", "ext4-32bit", "ext4-inline", "ext4-metabg",
                                          "ext4-64k",   "ext4-kernel"};

using test::Slurp;

class ExtImage : public ::testing::TestWithParam<std::string> {};

// Every name fls lists is listed under the same path with the same deleted
// mark and kind; nothing is listed live that fls does not list live.
TEST_P(ExtImage, ListsWhatFlsLists) {
    std::string path = ImagePath(GetParam());
    if (path.empty()) GTEST_SKIP() << GetParam() << " is not committed";
    UnchangedGuard guard(path);
    ScannedImage img = ScanImage(path);
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    auto fls = ReadFls(GetParam());
    ASSERT_FALSE(fls.empty());
    std::set<std::string> flsLive;
    for (const FlsLine& f : fls) {
        auto it = listed.find(f.path);
        ASSERT_NE(it, listed.end()) << f.path;
        EXPECT_EQ(it->second.deleted, f.deleted) << f.path;
        EXPECT_EQ(it->second.folder, f.type == 'd') << f.path;
        const ExtEntry* row = img.ext().Row(it->second.id);
        if (f.inode != 0) {
            EXPECT_EQ(row->key + 1, f.inode) << f.path;
        }
        if (!f.deleted) flsLive.insert(f.path);
    }
    for (const auto& [p, l] : listed)
        if (!l.deleted && !l.orphan && p != "ORPHAN_ENTRY") {
            EXPECT_TRUE(flsLive.count(p)) << "listed live: " << p;
        }
}

// The bytes of every file icat was asked for, deleted ones included.
TEST_P(ExtImage, ExtractsIcatsBytes) {
    std::string path = ImagePath(GetParam());
    if (path.empty()) GTEST_SKIP() << GetParam() << " is not committed";
    UnchangedGuard guard(path);
    ScannedImage img = ScanImage(path);
    ASSERT_TRUE(img.scanned);
    auto listed = ListAll(*img.parser);
    auto icat = ReadIcat(GetParam());
    if (icat.empty()) GTEST_SKIP() << "icat could not read this image's files";
    for (const IcatLine& want : icat) {
        if (want.size > (256u << 20)) continue;  // the one over 4 GiB has its own test
        auto it = listed.find(want.path);
        ASSERT_NE(it, listed.end()) << want.path;
        CksumSink sink;
        ExtractStatus status = img.parser->ExtractData(it->second.id, sink);
        EXPECT_NE(status, ExtractStatus::WriteFailed) << want.path;
        EXPECT_EQ(sink.size, want.size) << want.path;
        EXPECT_EQ(sink.Value(), want.crc) << want.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, ExtImage, ::testing::ValuesIn(kImages),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n) if (c == '-') c = '_';
                             return n;
                         });

struct Opened {
    std::string path;
    ScannedImage img;
    std::map<std::string, Listed> listed;
};

Opened Open(const std::string& name) {
    Opened o;
    o.path = ImagePath(name);
    if (o.path.empty()) return o;
    o.img = ScanImage(o.path);
    if (o.img.scanned) o.listed = ListAll(*o.img.parser);
    return o;
}

TEST(ExtExtraction, FilesLandWithTheirBytesAndTimes) {
    struct Case {
        std::string image, file, content;
        std::int64_t mtime;
        long nanoseconds;
    };
    const std::vector<Case> cases = {
        {"ext2-1k", "hello.txt", Gen("hello", 100), CivilToSeconds(2024, 6, 1, 11, 1, 0), 0},
        {"ext2-1k", "docs/deep/deeper/leaf.txt", Gen("hello", 100), CivilToSeconds(1999, 12, 31, 23, 59, 58), 0},
        {"ext4", "hello.txt", Gen("hello", 100), CivilToSeconds(2024, 6, 1, 11, 1, 0), 500000000},
        {"ext4", "Grüße/naïve café.txt", Gen("small", 3000), 1700000000, 0},
        {"ext2-rev0", "folder/medium.txt", Gen("medium", 300000), 1700000000, 0},
        {"ext4-kernel", "hello.txt", Gen("hello", 100), CivilToSeconds(2024, 6, 1, 11, 1, 0), 0},
    };
    for (const Case& c : cases) {
        Opened o = Open(c.image);
        if (o.path.empty()) continue;
        UnchangedGuard guard(o.path);
        ASSERT_TRUE(o.img.scanned) << c.image;
        auto it = o.listed.find(c.file);
        ASSERT_NE(it, o.listed.end()) << c.image << ": " << c.file;
        TempDir out;
        OutputWriter writer(out.path().string());
        EXPECT_EQ(o.img.parser->ExtractFile(it->second.id, writer, writer.Root()), ExtractStatus::Ok);
        fs::path written = out / fs::path(c.file).filename().string();
        EXPECT_TRUE(Slurp(written) == c.content) << c.image << ": " << c.file;
        struct stat st {};
        ASSERT_EQ(::stat(written.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, c.mtime) << c.image << ": " << c.file;
        EXPECT_EQ(st.st_mtim.tv_nsec, c.nanoseconds) << c.image << ": " << c.file;
    }
}

TEST(ExtExtraction, SavesAFolderTreeWithEveryFile) {
    Opened o = Open("ext3-4k");
    if (o.path.empty()) GTEST_SKIP();
    auto docs = o.listed.find("docs");
    ASSERT_NE(docs, o.listed.end());
    EXPECT_EQ(o.img.parser->CountFiles(docs->second.id), 3u);
    TempDir out;
    OutputWriter writer(out.path().string());
    SaveSummary s = o.img.parser->SaveFolder(docs->second.id, writer, writer.Root());
    EXPECT_EQ(s.files, 3u);
    EXPECT_EQ(Slurp(out / "small.txt"), Gen("small", 3000));
    EXPECT_TRUE(Slurp(out / "medium.txt") == Gen("medium", 300000));
    EXPECT_EQ(Slurp(out / "deep/deeper/leaf.txt"), Gen("hello", 100));
    EXPECT_EQ(writer.FilesFailed(), 0u);
}

TEST(ExtEntries, LinksDevicesAndHardLinks) {
    for (const std::string image : {"ext2-1k", "ext4", "ext4-64k"}) {
        Opened o = Open(image);
        if (o.path.empty()) continue;
        ASSERT_TRUE(o.img.scanned);
        auto& p = *o.img.parser;
        auto target = [&](const std::string& name) {
            StringSink sink;
            auto it = o.listed.find(name);
            if (it == o.listed.end()) return std::string("<missing>");
            p.ExtractData(it->second.id, sink);
            return sink.bytes;
        };
        EXPECT_EQ(target("fast-link"), "docs/small.txt") << image;
        EXPECT_EQ(target("slow-link"),
                  "/a-long-target/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"
                  "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/docs/small.txt")
            << image;
        // Devices and FIFOs are listed as files and never read.
        for (const char* special : {"fifo", "null-device"}) {
            auto it = o.listed.find(special);
            ASSERT_NE(it, o.listed.end()) << image << ": " << special;
            EXPECT_FALSE(it->second.folder);
            EXPECT_EQ(target(special), "") << special;
        }
        // Both names of the hard link, one inode.
        auto a = o.listed.find("docs/small.txt"), b = o.listed.find("hard-link.txt");
        ASSERT_NE(a, o.listed.end());
        ASSERT_NE(b, o.listed.end());
        EXPECT_EQ(o.img.ext().Row(a->second.id)->key, o.img.ext().Row(b->second.id)->key);
        EXPECT_EQ(target("hard-link.txt"), Gen("small", 3000));
        EXPECT_EQ(o.listed.count("."), 0u) << "dot entries are not rows";
    }
}

TEST(ExtEntries, DeletedFolderAndItsFiles) {
    for (const std::string image : {"ext2-1k", "ext3-4k", "ext4"}) {
        Opened o = Open(image);
        if (o.path.empty()) continue;
        for (const char* name : {"gone", "gone/inside.txt", "gone/other.txt", "deleted.txt",
                                 "many/entry-with-a-long-name-30.txt"}) {
            auto it = o.listed.find(name);
            ASSERT_NE(it, o.listed.end()) << image << ": " << name;
            EXPECT_TRUE(it->second.deleted) << image << ": " << name;
        }
        // debugfs leaves a deleted file's block map or extents in place, as icat reads them.
        StringSink sink;
        o.img.parser->ExtractData(o.listed["gone/inside.txt"].id, sink);
        EXPECT_EQ(sink.bytes, Gen("small", 3000)) << image;
        EXPECT_FALSE(o.listed["many/entry-with-a-long-name-29.txt"].deleted);
    }
}

// Holes are zeros at their places; the file is exactly its size.
TEST(ExtExtraction, SparseFilesKeepTheirShape) {
    struct Case {
        std::string image, file;
    };
    for (const Case& c : std::vector<Case>{{"ext2-1k", "sparse.bin"}, {"ext3-4k", "sparse.bin"}}) {
        Opened o = Open(c.image);
        if (o.path.empty()) continue;
        StringSink sink;
        EXPECT_EQ(o.img.parser->ExtractData(o.listed[c.file].id, sink), ExtractStatus::Ok);
        std::string want(70 * 1048576 + 4096, '\0');
        for (std::size_t at : {std::size_t{0}, std::size_t{102400}, std::size_t{2097152}, std::size_t{70 * 1048576}})
            want.replace(at, 4096, Gen("at" + std::to_string(at), 4096));
        ASSERT_EQ(sink.bytes.size(), want.size()) << c.image;
        EXPECT_TRUE(sink.bytes == want) << c.image;
    }
}

// A sink that keeps the non-zero pieces of a huge, mostly empty file.
class SparseSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t n) override {
        auto p = static_cast<const char*>(data);
        for (std::size_t i = 0; i < n; i += 4096) {
            std::size_t len = std::min<std::size_t>(4096, n - i);
            bool zero = true;
            for (std::size_t k = 0; k < len && zero; ++k) zero = p[i + k] == 0;
            if (!zero) pieces[size + i].assign(p + i, len);
        }
        size += n;
        return true;
    }
    std::uint64_t size = 0;
    std::map<std::uint64_t, std::string> pieces;
};

TEST(ExtExtraction, FileOverFourGiB) {
    Opened o = Open("ext4");
    if (o.path.empty()) GTEST_SKIP();
    auto it = o.listed.find("big.bin");
    ASSERT_NE(it, o.listed.end());
    SparseSink sink;
    EXPECT_EQ(o.img.parser->ExtractData(it->second.id, sink), ExtractStatus::Ok);
    const std::uint64_t gib = 1ULL << 30;
    EXPECT_EQ(sink.size, 5 * gib + 8192);
    std::map<std::uint64_t, std::string> want = {
        {0, Gen("head", 4096)},
        {4 * gib + 4096, Gen("middle", 4096)},
        {5 * gib, Gen("tail", 8192).substr(0, 4096)},
        {5 * gib + 4096, Gen("tail", 8192).substr(4096)},
    };
    EXPECT_EQ(sink.pieces, want);
}

TEST(ExtExtraction, FallocatedRangeAndDepthTwoExtents) {
    Opened o = Open("ext4");
    if (!o.path.empty()) {
        StringSink sink;
        EXPECT_EQ(o.img.parser->ExtractData(o.listed["fallocated.bin"].id, sink), ExtractStatus::Ok);
        std::string want = Gen("medium", 300000);
        want.resize(700000, '\0');  // unwritten extents and the holes around them read as zeros
        EXPECT_TRUE(sink.bytes == want);
    }
    Opened p = Open("ext4-1k-punched");
    if (!p.path.empty()) {
        StringSink sink;
        EXPECT_EQ(p.img.parser->ExtractData(p.listed["two-mib.bin"].id, sink), ExtractStatus::Ok);
        std::string want = Gen("two", 2097152);
        for (std::size_t b = 1; b < 2048; b += 2) std::fill_n(want.begin() + static_cast<std::ptrdiff_t>(b * 1024), 1024, '\0');
        EXPECT_TRUE(sink.bytes == want);
    }
}

TEST(ExtEntries, HtreeFolderOfTenThousand) {
    Opened o = Open("ext4");
    if (o.path.empty()) GTEST_SKIP();
    std::size_t files = 0;
    for (const auto& [path, l] : o.listed)
        if (path.rfind("htree/file-", 0) == 0 && !l.deleted) ++files;
    EXPECT_EQ(files, 9999u);
    EXPECT_TRUE(o.listed.at("htree/file-5000.txt").deleted);
    StringSink sink;
    o.img.parser->ExtractData(o.listed.at("htree/with-data.txt").id, sink);
    EXPECT_EQ(sink.bytes, Gen("hello", 100));
}

TEST(ExtSuperblock, ZeroedFirstSuperblockReadFromACopy) {
    std::string path = ImagePath("ext2-1k");
    if (path.empty()) GTEST_SKIP();
    TempDir dir;
    fs::path copy = dir / "damaged.img";
    fs::copy_file(path, copy);
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        std::string zeros(1024, '\0');
        f.seekp(1024);
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    ScannedImage img = ScanImage(copy.string());
    ASSERT_TRUE(img.scanned);
    EXPECT_EQ(img.ext().superblockOffset(), 8193u * 1024u);  // group 1 of 8192 blocks of 1 KiB
    auto listed = ListAll(*img.parser);
    for (const FlsLine& f : ReadFls("ext2-1k")) {
        auto it = listed.find(f.path);
        ASSERT_NE(it, listed.end()) << f.path;
        EXPECT_EQ(it->second.deleted, f.deleted) << f.path;
    }
}

}  // namespace
}  // namespace tarnwell::test
