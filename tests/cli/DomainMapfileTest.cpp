#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <map>

#include "device/DdrescueMap.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::Slurp;

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

bool HaveDdrescue() { return std::system("command -v ddrescue >/dev/null 2>&1") == 0; }

std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[std::filesystem::relative(e.path(), root).string()] = Slurp(e.path());
    return files;
}

// The README's round trip: the domain of a recovery, a rescue of that domain
// only, and a recovery from the rescued image behind its mapfile. ddrescue
// stops writing where the domain ends, so the image is shorter than the
// card; the rest is unread, and the files of the domain come out whole.
TEST(DomainMapfile, ARescueOfTheDomainRecoversTheSameFiles) {
    if (!HaveDdrescue()) GTEST_SKIP() << "ddrescue is not installed";
    std::string card = test::ImagePath("fat32-card");
    if (card.empty()) GTEST_SKIP();
    test::UnchangedGuard unchanged(card);
    test::TempDir dir;
    const std::string domain = (dir / "domain.map").string(), image = (dir / "rescued.img").string(),
                      mapfile = (dir / "rescued.map").string();
    auto first = test::RunCli({"recover", card, "--path", "DCIM", "--domain-out", domain, "--out", (dir / "o1").string()});
    ASSERT_EQ(first.exitCode, 0) << first.err;

    std::string rescue = "ddrescue -q -m '" + domain + "' '" + card + "' '" + image + "' '" + mapfile + "'";
    ASSERT_EQ(std::system(rescue.c_str()), 0) << rescue;
    ASSERT_LT(std::filesystem::file_size(image), std::filesystem::file_size(card))
        << "the rescue leaves the image short, as a real one does";

    auto second = test::RunCli({"recover", image, "--mapfile", mapfile, "--path", "DCIM", "--out", (dir / "o2").string()});
    EXPECT_TRUE(second.exitCode == 0 || second.exitCode == 1) << second.exitCode << second.err;
    auto before = FilesBelow(dir / "o1"), after = FilesBelow(dir / "o2");
    ASSERT_GE(before.size(), 4u);
    EXPECT_EQ(after, before) << "every file of the domain, byte for byte";

    // The whole volume from the same image: what lies outside the domain is
    // unread, reported, and exits 1.
    auto whole = test::RunCli({"recover", image, "--mapfile", mapfile, "--out", (dir / "o3").string()});
    EXPECT_EQ(whole.exitCode, 1) << whole.err;
    EXPECT_NE(whole.err.find("sectors could not be read"), std::string::npos) << whole.err;
    for (const auto& [name, bytes] : before) EXPECT_EQ(Slurp(dir / "o3/DCIM" / name), bytes) << name;
}

}  // namespace
}  // namespace tarnwell
