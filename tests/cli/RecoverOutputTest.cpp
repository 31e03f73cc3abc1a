// What `recover` leaves in --out and what it answers: nothing at all when it
// writes nothing, every file of a tree of many folders under a low limit of
// open files, and exit status 1 when a file is only partly recovered.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

bool HaveFatTools() { return std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") == 0; }

// A FAT image of the given kind and size holding the files of tree.
bool MakeFatImage(const fs::path& image, int fatBits, unsigned kib, const fs::path& tree) {
    std::string make = "mkfs.fat -F " + std::to_string(fatBits) + " -C '" + image.string() + "' " +
                       std::to_string(kib) + " >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" +
                       image.string() + "' '" + tree.string() + "'/* ::";
    return std::system(make.c_str()) == 0;
}

TEST(RecoverOutput, NothingIsMadeWhenNothingIsWritten) {
    std::string image = test::ImagePath("fat16-stick");
    if (image.empty()) GTEST_SKIP() << "fat16-stick is not committed";
    test::TempDir dir;
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{(dir / "missing.img").string()}, 2},
        {{image, "--path", "/NoSuchDir"}, 2},
        {{image, "--volume", "9"}, 2},
        {{image, "--match", "^no file has this name$"}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"recover"};
        args.insert(args.end(), c.arguments.begin(), c.arguments.end());
        args.insert(args.end(), {"--out", (dir / "o/deeper").string()});
        auto r = test::RunCli(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments.back() << "\n" << r.out << r.err;
        EXPECT_FALSE(fs::exists(dir / "o")) << c.arguments.back() << ": --out was made";
    }
}

// Far more folders than the open-file limit: every file is written.
TEST(RecoverOutput, ThousandsOfFoldersUnderALowFileLimit) {
    if (!HaveFatTools()) GTEST_SKIP() << "dosfstools or mtools missing";
    constexpr int kFolders = 1500;
    test::TempDir dir;
    for (int i = 0; i < kFolders; ++i) dir.Write("tree/d" + std::to_string(i) + "/f.txt", std::to_string(i));
    ASSERT_TRUE(MakeFatImage(dir / "fat32.img", 32, 65536, dir / "tree"));

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);  // the command inherits it
    auto r = test::RunCli({"recover", (dir / "fat32.img").string(), "--out", (dir / "out").string()});
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(r.exitCode, 0) << r.out << r.err.substr(0, 2000);
    EXPECT_NE(r.out.find(": " + std::to_string(kFolders) + " files written whole, 0 partial, 0 failed"),
              std::string::npos)
        << r.out;
    int found = 0;
    for (int i = 0; i < kFolders; ++i) {
        std::ifstream in(dir / "out" / ("d" + std::to_string(i)) / "f.txt");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text == std::to_string(i)) ++found;
    }
    EXPECT_EQ(found, kFolders);
}

std::uint16_t Le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

// A file whose cluster chain ends before its size is partial: reported so,
// with exit status 1, though every sector could be read.
TEST(RecoverOutput, APartialFileEndsWithStatusOne) {
    if (!HaveFatTools()) GTEST_SKIP() << "dosfstools or mtools missing";
    test::TempDir dir;
    ASSERT_EQ(std::system(("mkfs.fat -F 16 -C '" + (dir / "fat16.img").string() + "' 16384 >/dev/null 2>&1").c_str()), 0);
    std::fstream img(dir / "fat16.img", std::ios::in | std::ios::out | std::ios::binary);
    std::string boot(512, '\0');
    img.read(boot.data(), 512);
    const std::size_t sectorBytes = Le16(boot, 11), cluster = sectorBytes * static_cast<unsigned char>(boot[13]);
    img.close();
    // Three clusters from the first data cluster (2), the chain then cut after the first.
    dir.Write("tree/cut.bin", std::string(3 * cluster, 'c'));
    std::string copy = "MTOOLS_SKIP_CHECK=1 mcopy -i '" + (dir / "fat16.img").string() + "' '" +
                       (dir / "tree/cut.bin").string() + "' ::";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    img.open(dir / "fat16.img", std::ios::in | std::ios::out | std::ios::binary);
    const std::size_t reserved = Le16(boot, 14), fats = static_cast<unsigned char>(boot[16]), fatSectors = Le16(boot, 22);
    for (std::size_t f = 0; f < fats; ++f) {
        img.seekp(static_cast<std::streamoff>((reserved + f * fatSectors) * sectorBytes + 2 * 2));
        img.write("\xFF\xFF", 2);
    }
    img.close();

    auto r = test::RunCli({"recover", (dir / "fat16.img").string(), "--out", (dir / "out").string(), "--report",
                           (dir / "report.json").string()});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("0 files written whole, 1 partial, 0 failed"), std::string::npos) << r.out;
    std::ifstream in(dir / "report.json");
    auto report = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    ASSERT_EQ(report["files"].size(), 1u);
    EXPECT_EQ(report["files"][0]["status"], "partial");
}

}  // namespace
}  // namespace tarnwell

namespace tarnwell {
namespace {

// A file cut by the end of a short image: the bytes past the end are counted
// once, whoever noticed them (the reader zero-fills and counts them itself).
TEST(RecoverOutput, BytesPastTheEndOfAShortImageAreCountedOnce) {
    if (std::system("command -v mke2fs >/dev/null") != 0) GTEST_SKIP() << "e2fsprogs missing";
    test::TempDir dir;
    const fs::path tree = dir / "tree", image = dir / "short.img";
    fs::create_directories(tree);
    {
        std::ofstream f(tree / "a.bin", std::ios::binary);
        for (int i = 0; i < 300; ++i) f << std::string(1024, static_cast<char>('a' + i % 26));
    }
        ASSERT_EQ(std::system(("truncate -s 4M '" + image.string() + "' && mke2fs -q -F -t ext2 -b 1024 -d '" +
                           tree.string() + "' '" + image.string() + "'")
                              .c_str()),
              0);
    // Where a.bin ends on disk, from debugfs, the peer: its last 32 data
    // blocks follow its last indirect block, so the last 20 are all data.
    FILE* pipe = ::popen(("debugfs -R 'blocks /a.bin' '" + image.string() + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::uint64_t last = 0;
    for (unsigned long long b; std::fscanf(pipe, "%llu", &b) == 1;) last = std::max<std::uint64_t>(last, b);
    ::pclose(pipe);
    ASSERT_GT(last, 20u);
    fs::resize_file(image, (last - 19) * 1024);

    const fs::path report = dir / "report.json";
    auto r = test::RunCli({"recover", image.string(), "--out", (dir / "out").string(), "--report", report.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::ifstream in(report);
    auto j = nlohmann::json::parse(in);
    ASSERT_EQ(j["files"].size(), 1u);
    EXPECT_EQ(j["files"][0]["status"], "partial");
    EXPECT_EQ(j["files"][0]["unreadable_bytes"].get<std::uint64_t>(), 20u * 1024);
    EXPECT_EQ(fs::file_size(dir / "out" / "a.bin"), 300u * 1024);
}

}  // namespace
}  // namespace tarnwell
