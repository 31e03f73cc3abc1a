// --start and --size-mib beyond the source: refused with the option and its
// value named, before any byte offset is formed from them.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "cli/VolumeChoice.h"
#include "device/FileReader.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

constexpr std::int64_t kStickSectors = 32 * 2048;  // fat16-stick is 32 MiB

struct RangeCase {
    const char* what;
    std::optional<std::int64_t> start;
    std::optional<std::int64_t> sizeMiB;
    const char* refusal;  // the start of the message; nullptr when accepted
};

class VolumeRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(VolumeRange, StartAndSizePastTheEndAreRefused) {
    const RangeCase& c = GetParam();
    std::string image = test::ImagePath("fat16-stick");
    ASSERT_FALSE(image.empty());
    FileReader reader;
    ASSERT_TRUE(reader.Open(image));
    cli::VolumeOptions o;
    o.startSector = c.start;
    o.sizeMiB = c.sizeMiB;
    o.fsKind = "fat16";
    cli::VolumeChoice choice = cli::ChooseVolume(reader, o);
    if (c.refusal == nullptr) {
        EXPECT_TRUE(choice.volume.has_value()) << choice.error;
        return;
    }
    EXPECT_FALSE(choice.volume.has_value());
    EXPECT_EQ(choice.error.rfind(c.refusal, 0), 0u) << choice.error;
    EXPECT_NE(choice.error.find("the source holds 65536 sectors"), std::string::npos) << choice.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeRange,
    ::testing::Values(
        RangeCase{"WholeStick", 0, 32, nullptr},
        RangeCase{"LastSector", kStickSectors - 1, std::nullopt, nullptr},
        RangeCase{"LastMiB", kStickSectors - 2048, 1, nullptr},
        RangeCase{"PartMiBAtTheEnd", kStickSectors - 100, 1, nullptr},
        RangeCase{"StartAtTheEnd", kStickSectors, std::nullopt, "--start 65536 is past the end of the source"},
        RangeCase{"StartWhoseByteOffsetOverflows", std::int64_t{1} << 54, std::nullopt,
                  "--start 18014398509481984 is past the end"},
        RangeCase{"LargestStart", INT64_MAX, 1, "--start 9223372036854775807 is past the end"},
        RangeCase{"SizeOneMiBTooLong", 0, 33, "--size-mib 33 runs past the end of the source"},
        RangeCase{"SizeFromALaterStart", kStickSectors - 2048, 2, "--size-mib 2 runs past the end"},
        RangeCase{"SizeWhoseSectorsOverflow", 0, std::int64_t{1} << 60, "--size-mib 1152921504606846976 runs past"}),
    [](const auto& info) { return std::string(info.param.what); });

// On a disk of 4096-byte sectors --start counts in them, and so do the bounds.
TEST(VolumeRange, StartCountsInTheSourcesOwnSectors) {
    std::string image = test::ImagePath("gpt-4kn");
    ASSERT_FALSE(image.empty());
    FileReader reader;
    ASSERT_TRUE(reader.Open(image));
    constexpr std::int64_t kSectors = 290 * 256;  // 290 MiB of 4 KiB sectors
    struct Case {
        std::int64_t start;
        std::optional<std::int64_t> sizeMiB;
        const char* refusal;  // nullptr: accepted, and the volume found there is this
        const char* fs;
    };
    for (const Case& c : {
             Case{256, std::nullopt, nullptr, "FAT32"},
             Case{66816, std::nullopt, nullptr, "NTFS"},
             Case{70912, 13, nullptr, "ext4"},
             Case{70912, 14, "--size-mib 14 runs past the end of the source: the source holds 74240 sectors of 4096 bytes", nullptr},
             Case{kSectors, std::nullopt, "--start 74240 is past the end of the source: the source holds 74240 sectors of 4096 bytes", nullptr},
         }) {
        SCOPED_TRACE(c.start);
        cli::VolumeOptions o;
        o.startSector = c.start;
        o.sizeMiB = c.sizeMiB;
        cli::VolumeChoice choice = cli::ChooseVolume(reader, o);
        if (c.refusal != nullptr) {
            EXPECT_FALSE(choice.volume.has_value());
            EXPECT_EQ(choice.error.rfind(c.refusal, 0), 0u) << choice.error;
            continue;
        }
        ASSERT_TRUE(choice.volume.has_value()) << choice.error;
        EXPECT_EQ(choice.volume->fileSystem, c.fs);
        EXPECT_EQ(choice.volume->sectorSize, 4096u);
        EXPECT_EQ(choice.volume->StartByte(), std::uint64_t(c.start) * 4096);
    }
}

// A disk that is not one volume is refused with its volumes listed as `volumes`
// shows them: the file system's name, the size with a unit, the start in the
// disk's own sectors.
TEST(VolumeRange, TheRefusalListsTheVolumesWithTheirSizes) {
    std::string image = test::ImagePath("gpt-4kn");
    ASSERT_FALSE(image.empty());
    FileReader reader;
    ASSERT_TRUE(reader.Open(image));
    cli::VolumeChoice choice = cli::ChooseVolume(reader, cli::VolumeOptions{});
    ASSERT_FALSE(choice.volume.has_value());
    EXPECT_EQ(choice.error,
              "the source does not begin with a volume; pick one with --volume N:\n"
              "  1  FAT32  260.00 MiB  start sector 256\n"
              "  2  NTFS  8.00 MiB  start sector 66816\n"
              "  3  exFAT  8.00 MiB  start sector 68864\n"
              "  4  ext4  8.00 MiB  start sector 70912\n");
}

// The command line refuses them as bad usage, with the message on stderr.
TEST(VolumeRangeCli, RecoverAndListExitTwoNamingTheOption) {
    std::string image = test::ImagePath("fat16-stick");
    ASSERT_FALSE(image.empty());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list", image, "--start", "18014398509481984"},
             {"list", image, "--start", "0", "--size-mib", "4096"},
             {"carve", image, "--start", "18014398509481984"},
             {"carve", image, "--start", "0", "--size-mib", "4096"},
         }) {
        auto r = test::RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args[2] << " " << args[3] << ": " << r.err;
        EXPECT_NE(r.err.find(args.size() > 4 ? "--size-mib 4096" : "--start 18014398509481984"), std::string::npos)
            << r.err;
    }
}

}  // namespace
}  // namespace tarnwell
