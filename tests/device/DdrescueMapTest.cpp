#include <gtest/gtest.h>

#include <algorithm>

#include "device/DdrescueMap.h"
#include "device/MemoryReader.h"

namespace tarnwell {
namespace {

const char* kMap =
    "# Mapfile. Created by GNU ddrescue version 1.27\n"
    "# current_pos  current_status  current_pass\n"
    "0x00001000     +               1\n"
    "#      pos        size  status\n"
    "0x00000000  0x00001000  +\n"
    "0x00001000  0x00000400  -\n"
    "0x00001400  0x00000200  ?\n"
    "0x00001600  0x0000EA00  +\n";

TEST(DdrescueMap, ParsesBlocksAndRefusesMalformedLinesByNumber) {
    std::string error;
    auto map = ParseDdrescueMap(kMap, error);
    ASSERT_TRUE(map) << error;
    EXPECT_EQ(map->blocks.size(), 4u);
    EXPECT_EQ(map->Size(), 0x10000u);
    std::uint64_t until = 0;
    EXPECT_TRUE(map->Finished(0x800, until));
    EXPECT_EQ(until, 0x1000u);
    EXPECT_FALSE(map->Finished(0x1200, until));

    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"0 +\n0 0x100 +\n0x200 0x100 +\n", "line 3: the block does not begin where the previous one ended"},
        {"0 +\n0 0x100 x\n", "line 2: expected \"pos size status\" with status one of ?*/-+"},
        {"0 +\n0 0 +\n", "line 2: a block of size 0"},
        {"garbage\n", "line 1: expected \"current_pos current_status [current_pass]\""},
        {"0 +\n", "line 1: the mapfile holds no blocks"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseDdrescueMap(c.text, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(MappedReader, UnfinishedAreasReadAsZerosWithoutTouchingTheSource) {
    std::string error;
    auto map = ParseDdrescueMap(kMap, error);
    ASSERT_TRUE(map);
    auto memory = std::make_unique<MemoryReader>(std::vector<std::uint8_t>(0x10000, 0xAB));
    auto recorder = std::make_unique<RecordingReader>(std::move(memory));
    RecordingReader* seen = recorder.get();
    MappedReader reader(std::move(recorder), *map);
    std::vector<std::uint8_t> buf(0x2000, 0x11);
    EXPECT_FALSE(reader.ReadAt(0x0800, buf.data(), buf.size()));
    EXPECT_EQ(reader.FailedSectors(), 3u) << "the bad and the untried sectors";
    for (std::size_t i = 0; i < buf.size(); ++i) {
        bool unfinished = 0x0800 + i >= 0x1000 && 0x0800 + i < 0x1600;
        ASSERT_EQ(buf[i], unfinished ? 0 : 0xAB) << i;
    }
    // The source saw the finished sectors only.
    std::string domain = seen->DomainMapfile();
    auto touched = ParseDdrescueMap(domain, error);
    ASSERT_TRUE(touched) << error << domain;
    std::vector<std::pair<std::uint64_t, char>> blocks;
    for (const auto& b : touched->blocks) blocks.emplace_back(b.position, b.status);
    EXPECT_EQ(blocks, (std::vector<std::pair<std::uint64_t, char>>{
                          {0, '?'}, {0x0800, '+'}, {0x1000, '?'}, {0x1600, '+'}, {0x2800, '?'}}));
}

// ddrescue leaves its image short when the rescue ends before the device: the
// map gives the size, and the bytes past the image are unread, not an error.
TEST(MappedReader, AnImageShorterThanItsMapReadsPastItsEndAsUnreadable) {
    std::string error;
    auto map = ParseDdrescueMap("0 +\n0 0x1000 +\n0x1000 0x1000 ?\n0x2000 0x2000 +\n", error);
    ASSERT_TRUE(map) << error;
    // The image ends inside the second finished block.
    MappedReader reader(std::make_unique<MemoryReader>(std::vector<std::uint8_t>(0x2400, 0xAB)), *map);
    EXPECT_EQ(reader.fileLength(), 0x4000u);
    struct Case {
        std::uint64_t at, count;
        std::uint64_t present;  // bytes of 0xAB at the front
        std::uint64_t lost;     // bytes counted unreadable
    };
    const Case cases[] = {
        {0x0000, 0x1000, 0x1000, 0},      // finished and in the image
        {0x2000, 0x0400, 0x0400, 0},      // finished, up to the image's end
        {0x2200, 0x0400, 0x0200, 0x200},  // finished, straddling the image's end
        {0x3000, 0x1000, 0, 0x1000},      // finished, past the image's end
        {0x3E00, 0x0400, 0, 0x400},       // past the end of the map too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        std::vector<std::uint8_t> buf(c.count, 0x11);
        const std::uint64_t before = reader.UnreadableBytes();
        EXPECT_EQ(reader.ReadAt(static_cast<std::int64_t>(c.at), buf.data(), buf.size()), c.lost == 0);
        EXPECT_EQ(std::count(buf.begin(), buf.end(), 0xAB), static_cast<std::ptrdiff_t>(c.present));
        EXPECT_EQ(std::count(buf.begin(), buf.end(), 0x00), static_cast<std::ptrdiff_t>(c.count - c.present));
        EXPECT_EQ(reader.UnreadableBytes() - before, c.lost);
    }
    EXPECT_EQ(reader.FailedSectors(), 1u + 8 + 2);
}

TEST(RecordingReader, TheDomainCoversExactlyTheSectorsRead) {
    RecordingReader reader(std::make_unique<MemoryReader>(std::vector<std::uint8_t>(1 << 20)));
    std::vector<std::uint8_t> buf(4096);
    reader.ReadAt(1000, buf.data(), 10);     // inside sector 1
    reader.ReadAt(4096, buf.data(), 4096);   // sectors 8 to 15
    reader.ReadAt(8192, buf.data(), 512);    // touching the last range
    EXPECT_EQ(reader.BytesRecorded(), 512u + 4096 + 512);
    std::string error;
    auto map = ParseDdrescueMap(reader.DomainMapfile(), error);
    ASSERT_TRUE(map) << error;
    EXPECT_EQ(map->Size(), 1u << 20);
    std::vector<std::pair<std::uint64_t, char>> blocks;
    for (const auto& b : map->blocks) blocks.emplace_back(b.position, b.status);
    EXPECT_EQ(blocks, (std::vector<std::pair<std::uint64_t, char>>{
                          {0, '?'}, {512, '+'}, {1024, '?'}, {4096, '+'}, {8704, '?'}}));
}

}  // namespace
}  // namespace tarnwell
