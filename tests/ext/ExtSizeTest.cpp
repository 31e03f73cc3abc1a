// Sizes taken from an inode that cannot be believed: a file's bytes come from
// its blocks, the rest is a hole, and what is written for a deleted or damaged
// inode never exceeds the volume. A deleted file whose map was cleared gives
// nothing at all, and says why.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "device/MemoryReader.h"
#include "ExtTestSupport.h"
#include "support/TestImages.h"

namespace tarnwell::test {
namespace {

// Keeps the data, counts holes apart; refuses data past 64 MiB, which none of
// these volumes holds, so that a size written out as data fails, not hangs.
class HoleSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t size) override {
        if (dataBytes + size > (64u << 20)) return false;
        bytes.append(static_cast<const char*>(data), size);
        dataBytes += size;
        return true;
    }
    bool WriteHole(std::uint64_t size) override {
        holeBytes += size;
        return true;
    }
    std::string bytes;
    std::uint64_t dataBytes = 0, holeBytes = 0;
};

std::vector<std::uint8_t> LoadImage(const std::string& name) {
    std::string path = ImagePath(name);
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Where the inode of path lies in the image.
std::size_t InodeOffset(const std::vector<std::uint8_t>& bytes, const std::string& path) {
    ScannedImage img = ScanReader(std::make_unique<MemoryReader>(bytes));
    if (!img.scanned) return 0;
    auto listed = ListAll(*img.parser);
    if (!listed.count(path)) return 0;
    const ExtEntry* row = img.ext().Row(listed.at(path).id);
    const auto& sb = img.ext().superblock();
    return static_cast<std::size_t>(row->tableBlock * sb.blockSize + row->indexInGroup * sb.inodeSize);
}

TEST(ExtSize, UnbelievableSizesAreHolesBoundedByTheVolume) {
    const std::vector<std::uint8_t> image = LoadImage("ext2-1k");
    if (image.empty()) GTEST_SKIP() << "ext2-1k is not committed";
    struct Case {
        const char* what;
        const char* path;
        std::function<void(std::vector<std::uint8_t>&, std::size_t)> spoil;  // given the inode's offset
        std::uint64_t listedSize;
        ExtractStatus status;
        std::string data;             // the bytes written as data
        bool volumeLong;              // data and holes together as long as the volume
        const char* problem;          // the start of LastProblem(); "" for none
    };
    const std::string medium = Gen("medium", 300000);
    const std::string hello = [&] {
        ScannedImage img = ScanReader(std::make_unique<MemoryReader>(image));
        StringSink s;
        img.parser->ExtractData(ListAll(*img.parser).at("hello.txt").id, s);
        return s.bytes;
    }();
    ASSERT_FALSE(hello.empty());
    const Case cases[] = {
        {"a live file's size past what a block map addresses", "docs/medium.txt",
         [](auto& b, std::size_t at) { Put32(b, at + 108, 0xFFFFFFFF); }, (0xFFFFFFFFull << 32) | 300000,
         ExtractStatus::Partial, medium + std::string(300032 - 300000, '\0'), true, "its size of "},
        {"a deleted file of 4 GiB with one block", "hello.txt",
         [](auto& b, std::size_t at) { Put32(b, at + 4, 0xFFFFFFFF); Put32(b, at + 20, 1); b[at + 26] = b[at + 27] = 0; },
         0xFFFFFFFFull, ExtractStatus::Partial, hello + std::string(1024 - hello.size(), '\0'), true, "its size of "},
        {"a deleted file whose map was cleared", "hello.txt",
         [](auto& b, std::size_t at) {
             Put32(b, at + 20, 1);
             b[at + 26] = b[at + 27] = 0;
             std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(at + 40), 60, 0);
         },
         hello.size(), ExtractStatus::Failed, "", false, "its block map was cleared"},
        {"a fast symlink with a high size word", "fast-link", [](auto& b, std::size_t at) { Put32(b, at + 108, 1); },
         0, ExtractStatus::Ok, "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = image;
        std::size_t at = InodeOffset(bytes, c.path);
        ASSERT_NE(at, 0u);
        c.spoil(bytes, at);
        const std::uint64_t volume = bytes.size();
        ScannedImage img = ScanReader(std::make_unique<MemoryReader>(std::move(bytes)));
        ASSERT_TRUE(img.scanned);
        auto listed = ListAll(*img.parser);
        ASSERT_TRUE(listed.count(c.path));
        RowId id = listed.at(c.path).id;
        HoleSink sink;
        EXPECT_EQ(img.parser->ExtractData(id, sink), c.status);
        EXPECT_EQ(img.parser->LastProblem().rfind(c.problem, 0), 0u) << img.parser->LastProblem();
        if (std::string(c.path) == "fast-link") {
            // The high word is no size for a symlink: the target's length is.
            EXPECT_EQ(img.parser->Info(id).size, sink.dataBytes);
            EXPECT_LT(sink.dataBytes, 60u);
            EXPECT_EQ(sink.holeBytes, 0u);
            continue;
        }
        EXPECT_EQ(img.parser->Info(id).size, c.listedSize) << "the listing keeps the size the inode gives";
        EXPECT_EQ(sink.dataBytes, c.data.size()) << "only the file's blocks are data";
        EXPECT_TRUE(sink.bytes == c.data);
        EXPECT_LE(sink.dataBytes + sink.holeBytes, volume);
        if (c.volumeLong) {
            EXPECT_EQ(sink.dataBytes + sink.holeBytes, volume);
        }
        if (c.status == ExtractStatus::Failed) {
            EXPECT_EQ(sink.dataBytes + sink.holeBytes, 0u) << "nothing is written";
        }
    }
}

}  // namespace
}  // namespace tarnwell::test
