#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "device/FileReader.h"
#include "device/MemoryReader.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

// An image whose every sector starts with its own number.
std::vector<std::uint8_t> NumberedSectors(std::uint32_t sectors, std::size_t tail = 0) {
    std::vector<std::uint8_t> bytes(sectors * kSectorSize + tail, 0x5A);
    for (std::uint32_t s = 0; s < sectors; ++s)
        for (int i = 0; i < 4; ++i) bytes[s * kSectorSize + i] = static_cast<std::uint8_t>(s >> (8 * i));
    return bytes;
}

std::uint32_t SectorNumber(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

std::string WriteImage(const test::TempDir& dir, const std::vector<std::uint8_t>& bytes) {
    std::string path = (dir / "disk.img").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(FileReader, ImageFileSectorCountIsLengthOverSectorSize) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(9, 300));
    RecordingPrompter prompter;
    FileReader reader(prompter);
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.fileLength(), 9 * 512u + 300);
    EXPECT_EQ(reader.deviceSectorCount(), 9u);
    EXPECT_FALSE(reader.IsBlockDevice());
    EXPECT_TRUE(prompter.informed.empty());
}

// Bytes past the end are as lost as a refused sector: zeros, counted in bytes
// and in the sectors they fall in, so a file reaching past a short image is
// never taken for whole.
TEST(FileReader, ReadPastTheEndDeliversWhatIsThereThenCountedZeros) {
    test::TempDir dir;
    auto bytes = NumberedSectors(2, 100);  // 1124 bytes: the third sector is cut short
    std::string path = WriteImage(dir, bytes);
    test::UnchangedGuard unchanged(path);
    struct Case {
        std::int64_t offset;
        std::size_t count;
        std::size_t present;  // bytes the file holds there
        std::uint64_t sectors;  // sectors touched by the missing part
    };
    const Case cases[] = {
        {0, 1024, 1024, 0},         // wholly inside
        {512, 612, 612, 0},         // up to the last byte exactly
        {512, 1024, 612, 1},        // straddling the end inside one sector
        {1024, 512, 100, 1},        // the cut sector itself
        {0, 4096, 1124, 6},         // straddling the end over several sectors
        {1 << 20, 1024, 0, 2},      // wholly beyond the end
        {1124, 1, 0, 1},            // the first byte past the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " count " + std::to_string(c.count));
        FileReader reader;
        ASSERT_TRUE(reader.Open(path));
        std::vector<std::uint8_t> buf(c.count, 0xAA);
        EXPECT_EQ(reader.ReadAt(c.offset, buf.data(), buf.size()), c.present == c.count);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + c.present, bytes.begin() + c.offset));
        EXPECT_TRUE(std::all_of(buf.begin() + c.present, buf.end(), [](auto b) { return b == 0; }))
            << "no stale bytes";
        EXPECT_EQ(reader.UnreadableBytes(), c.count - c.present);
        EXPECT_EQ(reader.FailedSectors(), c.sectors);
    }
}

// A source cut short while it is being read (an image still being copied, a
// file truncated by another program): what went reads as counted zeros, the
// reader moves on and what is left is still read.
TEST(FileReader, ASourceThatShrinksUnderTheReaderIsCountedUnreadable) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(64));
    FileReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::vector<std::uint8_t> buf(4 * 512, 0xAA);
    ASSERT_TRUE(reader.ReadAt(40 * 512, buf.data(), buf.size()));
    EXPECT_EQ(SectorNumber(buf.data()), 40u);

    ASSERT_EQ(::truncate(path.c_str(), 32 * 512), 0);
    EXPECT_EQ(reader.fileLength(), 64u * 512) << "the size it was opened with";
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_FALSE(reader.ReadAt(30 * 512, buf.data(), buf.size()));
    EXPECT_EQ(SectorNumber(buf.data()), 30u);
    EXPECT_EQ(SectorNumber(buf.data() + 512), 31u);
    EXPECT_TRUE(std::all_of(buf.begin() + 1024, buf.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.UnreadableBytes(), 1024u);
    EXPECT_EQ(reader.FailedSectors(), 2u);

    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_FALSE(reader.ReadAt(34 * 512, buf.data(), buf.size()));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.UnreadableBytes(), 1024u + 2048);
    EXPECT_EQ(reader.FailedSectors(), 6u);
    ASSERT_TRUE(reader.ReadAt(5 * 512, buf.data(), 512));
    EXPECT_EQ(SectorNumber(buf.data()), 5u) << "what is left is still read";
}

TEST(FileReader, OpenFailuresSayInvalidHandle) {
    test::TempDir dir;
    for (std::string path : {(dir / "missing.img").string(), dir.path().string()}) {
        RecordingPrompter prompter;
        FileReader reader(prompter);
        EXPECT_FALSE(reader.Open(path)) << path;
        ASSERT_EQ(prompter.informed.size(), 1u);
        EXPECT_EQ(prompter.informed[0].step, Step::SourceNotOpened);
        EXPECT_FALSE(reader.LastError().empty());
        EXPECT_EQ(reader.deviceSectorCount(), 0u);
        std::vector<std::uint8_t> buf(512, 0xAA);
        EXPECT_FALSE(reader.ReadAt(0, buf.data(), buf.size()));
    }
}

// The descriptor the reader holds must be read-only, whatever the user's rights.
TEST(FileReader, HoldsTheSourceOpenForReadingOnly) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(8));
    FileReader reader;
    ASSERT_TRUE(reader.Open(path));
    int found = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink(fd.path(), ec);
        if (ec || target != path) continue;
        int n = std::stoi(fd.path().filename().string());
        int flags = ::fcntl(n, F_GETFL);
        EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
        ++found;
    }
    EXPECT_EQ(found, 1);
}

TEST(SectorReader, RefusedSectorsBecomeZerosAndAreCounted) {
    MemoryReader reader(NumberedSectors(16));
    reader.MarkBad(3);
    reader.MarkBad(5);
    std::vector<std::uint8_t> buf(8 * 512, 0xAA);
    EXPECT_FALSE(reader.ReadAt(512, buf.data(), buf.size()));
    EXPECT_EQ(reader.FailedSectors(), 2u);
    for (std::uint32_t s = 1; s < 9; ++s) {
        const std::uint8_t* p = buf.data() + (s - 1) * 512;
        if (s == 3 || s == 5)
            EXPECT_TRUE(std::all_of(p, p + 512, [](auto b) { return b == 0; })) << "sector " << s;
        else
            EXPECT_EQ(SectorNumber(p), s) << "sectors around a bad one are still read";
    }

    // A read inside one bad sector, not aligned to it.
    std::vector<std::uint8_t> piece(100, 0xAA);
    EXPECT_FALSE(reader.ReadAt(3 * 512 + 7, piece.data(), piece.size()));
    EXPECT_TRUE(std::all_of(piece.begin(), piece.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.FailedSectors(), 3u);
    reader.ResetFailedSectors();
    EXPECT_EQ(reader.FailedSectors(), 0u);

    // A bad sector near the end and a read running on past it: each lost
    // sector counted once, whichever way it was lost.
    reader.MarkBad(14);
    const std::uint64_t before = reader.UnreadableBytes();
    std::vector<std::uint8_t> tail(5 * 512, 0xAA);
    EXPECT_FALSE(reader.ReadAt(13 * 512, tail.data(), tail.size()));
    EXPECT_EQ(SectorNumber(tail.data()), 13u);
    EXPECT_EQ(SectorNumber(tail.data() + 2 * 512), 15u);
    EXPECT_TRUE(std::all_of(tail.begin() + 512, tail.begin() + 1024, [](auto b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(tail.begin() + 3 * 512, tail.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.FailedSectors(), 3u);
    EXPECT_EQ(reader.UnreadableBytes() - before, 3u * 512);
}

}  // namespace
}  // namespace tarnwell
