#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "device/FileReadSeek.h"
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

TEST(FileReadSeek, ImageFileSectorCountIsLengthOverSectorSize) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(9, 300));
    RecordingPrompter prompter;
    FileReadSeek reader(prompter);
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.fileLength(), 9 * 512u + 300);
    EXPECT_EQ(reader.deviceSectorCount(), 9u);
    EXPECT_FALSE(reader.IsBlockDevice());
    EXPECT_TRUE(prompter.informed.empty());
}

TEST(FileReadSeek, ReadPastTheEndDeliversWhatIsThereThenZeros) {
    test::TempDir dir;
    auto bytes = NumberedSectors(2, 100);
    std::string path = WriteImage(dir, bytes);
    test::UnchangedGuard unchanged(path);
    FileReadSeek reader;
    ASSERT_TRUE(reader.Open(path));

    std::vector<std::uint8_t> buf(1024, 0xAA);
    ASSERT_TRUE(reader.Seek(512, 0));
    EXPECT_FALSE(reader.Read(buf.data(), buf.size()));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 612, bytes.begin() + 512));
    EXPECT_TRUE(std::all_of(buf.begin() + 612, buf.end(), [](auto b) { return b == 0; }));

    // Entirely beyond the end: all zeros, no stale bytes.
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_FALSE(reader.ReadAt(1 << 20, buf.data(), buf.size()));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.FailedSectors(), 0u) << "the end of a file is not a bad sector";
}

TEST(FileReadSeek, BaseOffsetAddressesTheVolume) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(4096));
    FileReadSeek reader;
    ASSERT_TRUE(reader.Open(path));
    reader.SetBaseOffset(2048 * 512);

    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader.Seek(0, 0));
    ASSERT_TRUE(reader.Read(sector.data(), sector.size()));
    EXPECT_EQ(SectorNumber(sector.data()), 2048u);
    ASSERT_TRUE(reader.Read(sector.data(), sector.size()));
    EXPECT_EQ(SectorNumber(sector.data()), 2049u) << "Read moves the position";

    ASSERT_TRUE(reader.ReadAt(10 * 512, sector.data(), sector.size()));
    EXPECT_EQ(SectorNumber(sector.data()), 2058u);
    EXPECT_EQ(reader.Position(), 2050 * 512) << "ReadAt leaves the position alone";

    EXPECT_FALSE(reader.Seek(-2049 * 512, 0));
}

TEST(FileReadSeek, OpenFailuresSayInvalidHandle) {
    test::TempDir dir;
    for (std::string path : {(dir / "missing.img").string(), dir.path().string()}) {
        RecordingPrompter prompter;
        FileReadSeek reader(prompter);
        EXPECT_FALSE(reader.Open(path)) << path;
        ASSERT_EQ(prompter.informed.size(), 1u);
        EXPECT_EQ(prompter.informed[0], "invalid handle ...");
        EXPECT_FALSE(reader.LastError().empty());
        EXPECT_EQ(reader.deviceSectorCount(), 0u);
        std::vector<std::uint8_t> buf(512, 0xAA);
        EXPECT_FALSE(reader.Read(buf.data(), buf.size()));
    }
}

// The descriptor the reader holds must be read-only, whatever the user's rights.
TEST(FileReadSeek, HoldsTheSourceOpenForReadingOnly) {
    test::TempDir dir;
    std::string path = WriteImage(dir, NumberedSectors(8));
    FileReadSeek reader;
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
    ASSERT_TRUE(reader.Seek(512, 0));
    EXPECT_FALSE(reader.Read(buf.data(), buf.size()));
    EXPECT_EQ(reader.FailedSectors(), 2u);
    for (std::uint32_t s = 1; s < 9; ++s) {
        const std::uint8_t* p = buf.data() + (s - 1) * 512;
        if (s == 3 || s == 5)
            EXPECT_TRUE(std::all_of(p, p + 512, [](auto b) { return b == 0; })) << "sector " << s;
        else
            EXPECT_EQ(SectorNumber(p), s) << "sectors around a bad one are still read";
    }
    EXPECT_EQ(reader.Position(), 9 * 512) << "a failed read does not stall a sequential reader";

    // A read inside one bad sector, not aligned to it.
    std::vector<std::uint8_t> piece(100, 0xAA);
    EXPECT_FALSE(reader.ReadAt(3 * 512 + 7, piece.data(), piece.size()));
    EXPECT_TRUE(std::all_of(piece.begin(), piece.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(reader.FailedSectors(), 3u);
    reader.ResetFailedSectors();
    EXPECT_EQ(reader.FailedSectors(), 0u);
}

}  // namespace
}  // namespace tarnwell
