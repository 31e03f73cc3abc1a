#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "device/MemoryReader.h"
#include "device/VolumeView.h"

namespace tarnwell {
namespace {

// 64 sectors of 512 bytes, each starting with its own number.
std::vector<std::uint8_t> Numbered() {
    std::vector<std::uint8_t> bytes(64 * 512, 0x5A);
    for (std::uint32_t s = 0; s < 64; ++s) bytes[s * 512] = static_cast<std::uint8_t>(s);
    return bytes;
}

bool AllZero(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t to) {
    return std::all_of(v.begin() + from, v.begin() + to, [](auto b) { return b == 0; });
}

TEST(VolumeView, ReadsRelativeToTheVolumeAndInItsOwnSectors) {
    MemoryReader source(Numbered());
    const VolumeView volume(source, 16 * 512, 32 * 512, 4096);  // four 4 KiB sectors
    EXPECT_EQ(volume.SectorCount(), 4u);
    std::vector<std::uint8_t> b(512);
    ASSERT_TRUE(volume.ReadAt(0, b.data(), b.size()));
    EXPECT_EQ(b[0], 16);
    ASSERT_TRUE(volume.ReadSectors(2, b.data(), b.size()));
    EXPECT_EQ(b[0], 16 + 2 * 8) << "sector 2 of 4096 bytes is 8 KiB in";
    ASSERT_TRUE(volume.Sub(8 * 512).ReadAt(512, b.data(), b.size()));
    EXPECT_EQ(b[0], 16 + 9);
    EXPECT_EQ(source.FailedSectors(), 0u);
}

// Past the volume's end is as lost as past the source's: zeros, counted, so a
// file running over the end of its partition is never taken for whole.
TEST(VolumeView, BytesPastTheVolumeOrBeforeItAreZeroAndCounted) {
    struct Case {
        const char* what;
        std::uint64_t offset, length;
        std::int64_t at;
        std::size_t count, present;
    };
    for (const Case& c : {
             Case{"inside", 8 * 512, 8 * 512, 512, 1024, 1024},
             Case{"over the volume's end", 8 * 512, 8 * 512, 7 * 512, 1024, 512},
             Case{"past the volume", 8 * 512, 8 * 512, 8 * 512, 512, 0},
             Case{"before the volume", 8 * 512, 8 * 512, -512, 512, 0},
             Case{"over the source's end", 60 * 512, 0, 3 * 512, 1024, 512},
         }) {
        SCOPED_TRACE(c.what);
        MemoryReader source(Numbered());
        const VolumeView volume(source, c.offset, c.length);
        std::vector<std::uint8_t> b(c.count, 0xAA);
        EXPECT_EQ(volume.ReadAt(c.at, b.data(), b.size()), c.present == c.count);
        if (c.present > 0) EXPECT_EQ(b[0], (c.offset + std::uint64_t(c.at)) / 512);
        EXPECT_TRUE(AllZero(b, c.present, c.count));
        EXPECT_EQ(source.UnreadableBytes(), c.count - c.present);
    }
}

TEST(VolumeView, LengthZeroReachesTheSourceEndAndAvailableStopsThere) {
    MemoryReader source(Numbered());
    EXPECT_EQ(VolumeView(source, 60 * 512).length(), 4u * 512);
    const VolumeView longer(source, 60 * 512, 16 * 512);
    EXPECT_EQ(longer.length(), 16u * 512) << "the volume as recorded";
    EXPECT_EQ(longer.Available(), 4u * 512) << "what the source holds of it";
    EXPECT_EQ(VolumeView(source, 80 * 512, 512).Available(), 0u);
}

// Two volumes of one source read at once: neither moves the other's place.
TEST(VolumeView, ViewsOfOneSourceReadSideBySide) {
    MemoryReader source(Numbered());
    const VolumeView first(source, 0, 32 * 512), second(source, 32 * 512, 32 * 512);
    bool firstRight = true, secondRight = true;
    auto run = [](const VolumeView& v, std::uint8_t base, bool& right) {
        std::vector<std::uint8_t> b(512);
        for (int round = 0; round < 2000; ++round) {
            const std::uint32_t s = round % 32;
            v.ReadAt(s * 512, b.data(), b.size());
            right &= b[0] == base + s;
        }
    };
    std::thread a(run, std::cref(first), std::uint8_t(0), std::ref(firstRight));
    std::thread b(run, std::cref(second), std::uint8_t(32), std::ref(secondRight));
    a.join();
    b.join();
    EXPECT_TRUE(firstRight);
    EXPECT_TRUE(secondRight);
}

}  // namespace
}  // namespace tarnwell
