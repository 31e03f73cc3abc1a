#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

TEST(CarveCommand, CarvesTheCardsPhotosIntoCategoryFolders) {
    std::string card = test::ImagePath("sample-card");
    if (card.empty()) GTEST_SKIP();
    test::UnchangedGuard unchanged(card);
    test::TempDir out;
    auto r = test::RunCli({"carve", card, "--json", "--out", out.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        auto j = nlohmann::json::parse(line);
        EXPECT_EQ(j["type"], "jpg");
        EXPECT_EQ(j["category"], "Pictures");
        EXPECT_EQ(j["status"], "ok");
        std::string file = j["file"];
        EXPECT_EQ(file, "Pictures/" + std::to_string(j["offset"].get<long long>()) + ".jpg");
        EXPECT_EQ(fs::file_size(out / file), j["size"].get<std::uint64_t>());
    }
    EXPECT_EQ(n, 8);
    EXPECT_NE(r.err.find("8 files found, 8 written, 0 not written, 0 sectors unreadable"), std::string::npos) << r.err;
}

// A carved file the output disk cannot hold is removed, and its line says so.
TEST(CarveCommand, APhotoTheOutputDiskCannotHoldIsFailedNotCut) {
    std::string card = test::ImagePath("sample-card");
    if (card.empty()) GTEST_SKIP();
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    test::TempDir dir;
    const fs::path small = dir / "small";
    fs::create_directories(small);
    if (std::system(("mount -t tmpfs -o size=64k tmpfs '" + small.string() + "'").c_str()) != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted";
    struct Unmount {
        fs::path at;
        ~Unmount() { std::system(("umount '" + at.string() + "'").c_str()); }
    } unmount{small};
    auto r = test::RunCli({"carve", card, "--json", "--out", (small / "carved").string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::istringstream lines(r.out);
    int failed = 0, ok = 0;
    for (std::string line; std::getline(lines, line);) {
        auto j = nlohmann::json::parse(line);
        std::string file = j["file"];
        if (j["status"] == "failed") {
            ++failed;
            EXPECT_EQ(file, "");
        } else {
            ++ok;
            EXPECT_EQ(fs::file_size(small / "carved" / file), j["size"].get<std::uint64_t>()) << file;
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_EQ(failed + ok, 8);
    // Nothing under the output is shorter than what its line says: failures left no file.
    std::size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(small / "carved"))
        if (e.is_regular_file()) ++files;
    EXPECT_EQ(files, static_cast<std::size_t>(ok));
}

TEST(SignaturesCommand, AddThenListAgree) {
    test::TempDir dir;
    std::string file = (dir / "mine.txt").string();
    auto add = test::RunCli({"signatures", "add", file, "--ext", "abc", "--start", "0x41,0x42", "--end", "0x43,0x44",
                             "--approx", "4096", "--category", "Mine"});
    ASSERT_EQ(add.exitCode, 0) << add.err;
    EXPECT_EQ(add.out, "record 0 (abc) appended to " + file + "\n");
    auto bad = test::RunCli({"signatures", "add", file, "--ext", "x", "--start", ","});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err, "signature length is zero..\n");
    auto list = test::RunCli({"signatures", "list", file});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("abc   0x41,0x42"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Mine"), std::string::npos);
    EXPECT_EQ(fs::file_size(file), 171u);
    EXPECT_EQ(test::RunCli({"signatures", "list", (dir / "none").string()}).exitCode, 2);
}

}  // namespace
}  // namespace tarnwell
