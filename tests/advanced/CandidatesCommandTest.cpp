// `tarnwell candidates` on damaged copies of the committed images.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

// A copy of image with count bytes zeroed at each of the offsets.
fs::path DamagedCopy(const test::TempDir& dir, const std::string& image, std::vector<std::uint64_t> offsets,
                     std::size_t count) {
    fs::path copy = dir / (image + ".img");
    fs::copy_file(test::ImagePath(image), copy);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> zeros(count, 0);
    for (std::uint64_t at : offsets) {
        f.seekp(static_cast<std::streamoff>(at));
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    return copy;
}

TEST(AdvancedCandidatesCommand, ListsTablesWithTheirPositionsWhenBothBootSectorsAreGone) {
    if (test::ImagePath("fat32-card").empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(test::ImagePath("fat32-card"));
    test::TempDir dir;
    fs::path copy = DamagedCopy(dir, "fat32-card", {0, 6 * 512}, 512);
    // fat32-card: 32 reserved sectors, 524 sectors per FAT (its mkfs.fat script).
    auto r = test::RunCli({"candidates", copy.string(), "--start", "0", "--fs", "fat32", "--json", "--max", "-1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["boot"], "none");
    EXPECT_EQ(j["fs"], "fat32");
    ASSERT_EQ(j["tables"].size(), 2u);
    EXPECT_EQ(j["tables"][0]["name"], "FAT32 table 0");
    EXPECT_EQ(j["tables"][0]["position"], 32 * 512);
    EXPECT_EQ(j["tables"][1]["position"], (32 + 524) * 512);
    EXPECT_EQ(j["cluster_sizes"][0], 2);
}

TEST(AdvancedCandidatesCommand, TheirIndicesLeadListToAnExFatWithoutBootSectors) {
    if (test::ImagePath("exfat-128k").empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(test::ImagePath("exfat-128k"));
    test::TempDir dir;
    fs::path copy = DamagedCopy(dir, "exfat-128k", {0, 12 * 512}, 512);
    auto c = test::RunCli({"candidates", copy.string(), "--start", "0", "--fs", "exfat", "--json"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    auto j = nlohmann::json::parse(c.out);
    EXPECT_EQ(j["fs"], "exfat");
    ASSERT_FALSE(j["heaps"].empty());
    EXPECT_EQ(j["heaps"][0]["name"], "heap 0");
    EXPECT_EQ(j["heaps"][0]["position"], 2u << 20) << "placed by the root's bitmap and up-case entries";
    auto text = test::RunCli({"candidates", copy.string(), "--start", "0", "--fs", "exfat"});
    EXPECT_EQ(text.out.find("FAT64"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("exFAT table 0"), std::string::npos) << text.out;
    int shift = -1;
    for (std::size_t i = 0; i < j["cluster_sizes"].size(); ++i)
        if (j["cluster_sizes"][i] == 8) shift = static_cast<int>(i);  // 128 KiB
    ASSERT_GE(shift, 0);
    auto r = test::RunCli({"list", copy.string(), "--start", "0", "--fs", "exfat", "--mode", "advanced", "--cluster",
                           std::to_string(shift), "--heap", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("photos/one.jpg"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("big.bin"), std::string::npos) << r.out;
}

TEST(AdvancedCandidatesCommand, RefusesAKindWithoutAFinder) {
    if (test::ImagePath("ext4").empty()) GTEST_SKIP() << "image not committed";
    auto r = test::RunCli({"candidates", test::ImagePath("ext4")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("advanced mode"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not ext4"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarnwell
