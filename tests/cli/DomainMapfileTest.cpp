#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/DdrescueMap.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The domain of a recovery covers the chosen file's bytes and far less than the card.
TEST(DomainMapfile, CoversTheChosenFilesSectors) {
    std::string card = test::ImagePath("sample-card");
    if (card.empty()) GTEST_SKIP();
    test::TempDir dir;
    std::string domain = (dir / "domain.map").string();
    auto r = test::RunCli({"recover", card, "--out", (dir / "out").string(), "--path", "DCIM/100CANON/IMG_0004.JPG",
                           "--domain-out", domain});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string error;
    auto map = ParseDdrescueMap(Slurp(domain), error);
    ASSERT_TRUE(map) << error;
    EXPECT_EQ(map->Size(), std::filesystem::file_size(card));
    std::string photo = Slurp(dir / "out/IMG_0004.JPG");
    ASSERT_EQ(photo.size(), 15454u);
    std::size_t at = Slurp(card).find(photo);
    ASSERT_NE(at, std::string::npos) << "the photo lies whole in the card";
    std::uint64_t until = 0, rescued = 0;
    EXPECT_TRUE(map->Finished(at, until));
    EXPECT_GE(until, at + photo.size()) << "the whole file is in the domain";
    for (const auto& b : map->blocks)
        if (b.status == '+') rescued += b.size;
    EXPECT_LT(rescued, map->Size() / 8) << "the domain is what the run read, not the card";
}

}  // namespace
}  // namespace tarnwell
