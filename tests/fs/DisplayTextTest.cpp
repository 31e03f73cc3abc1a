#include <gtest/gtest.h>

#include "core/DisplayText.h"

namespace tarnwell {
namespace {

TEST(DisplayText, Sizes) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 Bytes"},
        {1023, "1023 Bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5ULL << 40, "5120.00 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatSizeText(c.bytes), c.text) << c.bytes;
}

// The command line's sizes: binary units, and a value just under a unit's end
// shown in the next unit, never as "1024.00".
TEST(DisplayText, BinarySizes) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KiB"},
        {15444, "15.08 KiB"},
        {1048575, "1.00 MiB"},
        {1048576, "1.00 MiB"},
        {130023424, "124.00 MiB"},
        {1073741823, "1.00 GiB"},
        {15633408ULL * 512, "7.45 GiB"},
        {5ULL << 40, "5.00 TiB"},
        {~0ULL, "16.00 EiB"},
    };
    for (const auto& c : cases) EXPECT_EQ(BinarySizeText(c.bytes), c.text) << c.bytes;
}

TEST(DisplayText, TwelveHourClock) {
    struct Case {
        int hour, minute;
        const char* text;
    };
    const Case cases[] = {
        {0, 10, "03/07/2024  12:10 AM"},  // midnight hour
        {1, 0, "03/07/2024  01:00 AM"},
        {11, 59, "03/07/2024  11:59 AM"},
        {12, 30, "03/07/2024  12:30 PM"},  // noon hour
        {13, 5, "03/07/2024  01:05 PM"},
        {23, 59, "03/07/2024  11:59 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDateTimeText(2024, 3, 7, c.hour, c.minute), c.text) << c.hour << ":" << c.minute;
    EXPECT_EQ(FormatDateTimeText(1980, 1, 1, 0, 0), "01/01/1980  12:00 AM");
    EXPECT_EQ(FormatDateText(2024, 12, 31), "12/31/2024 ");
}

TEST(DisplayText, VolumeSizeTextCountsWholeMiB) {
    EXPECT_EQ(MiBSizeText(100ULL << 20), "100  MB");
    EXPECT_EQ(MiBSizeText((100ULL << 20) + 1048575), "100  MB");
    EXPECT_EQ(MiBSizeText(512, "   "), "0   MB");
}

}  // namespace
}  // namespace tarnwell
