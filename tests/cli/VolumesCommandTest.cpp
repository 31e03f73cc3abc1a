#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/VolumeChoice.h"
#include "device/FileReader.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

using test::Lines;

// A copy of a committed image with its first sectors zeroed.
std::string ZeroedCopy(const test::TempDir& dir, const std::string& image, std::size_t sectors) {
    std::string copy = (dir / (image + "-zeroed.img")).string();
    std::filesystem::copy_file(test::ImagePath(image), copy);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    std::string zeros(sectors * 512, '\0');
    f.write(zeros.data(), std::streamsize(zeros.size()));
    return copy;
}

TEST(VolumesCommand, TableScanTextAndJson) {
    std::string img = test::ImagePath("mbr-mixed");
    ASSERT_FALSE(img.empty());
    test::UnchangedGuard guard(img);
    auto text = test::RunCli({"volumes", img});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 6u) << text.out;
    EXPECT_EQ(lines[0].substr(0, 6), "VOLUME");
    EXPECT_NE(lines[0].find("FILE_SYSTEM"), std::string::npos);
    EXPECT_NE(lines[0].find("VOLUME_SIZE"), std::string::npos);
    EXPECT_NE(lines[0].find("START_SECTOR"), std::string::npos);
    std::istringstream row(lines[3]);
    std::string index, fs, mib, unit, start;
    row >> index >> fs >> mib >> unit >> start;
    EXPECT_EQ(index, "3");
    EXPECT_EQ(fs, "NTFS");
    EXPECT_EQ(mib + " " + unit, "8.00 MiB");
    EXPECT_EQ(start, "94208");
    EXPECT_EQ(lines[4].substr(0, 16), "4        ext4   ");
    EXPECT_EQ(lines[5].substr(0, 16), "5        exFAT  ");
    EXPECT_EQ(text.err, "");  // the wizard's status texts stay in the wizard

    auto json = test::RunCli({"volumes", img, "--json"});
    EXPECT_EQ(json.exitCode, 0);
    auto rows = JsonLines(json.out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1], nlohmann::json::parse(R"({"index": 2, "name": "partition 5", "fs": "fat32",
        "start_sector": 22528, "sectors": 69632, "sector_size": 512, "size": 35651584, "found_by": "ebr"})"));
    EXPECT_EQ(rows[3]["fs"], "ext4");
    EXPECT_EQ(rows[4]["found_by"], "mbr");
    EXPECT_EQ(rows[4]["fs"], "exfat");
}

TEST(VolumesCommand, AdvancedScanOfAZeroedDisk) {
    test::TempDir dir;
    std::string img = ZeroedCopy(dir, "gpt-mixed", 34);
    auto table = test::RunCli({"volumes", img});  // the backup GPT header still tells
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_EQ(Lines(table.out).size(), 4u) << table.out;

    std::string mbr = ZeroedCopy(dir, "mbr-mixed", 1);
    auto none = test::RunCli({"volumes", mbr});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(Lines(none.out).size(), 1u);  // the header alone
    EXPECT_NE(none.err.find("no volumes found"), std::string::npos);
    EXPECT_EQ(JsonLines(test::RunCli({"volumes", mbr, "--advanced", "--json"}).out).size(), 5u);

    auto r = test::RunCli({"volumes", img, "--advanced", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto rows = JsonLines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    EXPECT_EQ(rows[0]["fs"], "fat32");
    EXPECT_EQ(rows[1]["start_sector"], 73728);
    EXPECT_EQ(rows[2]["fs"], "ext4");
    EXPECT_EQ(rows[2]["found_by"], "scan");
    EXPECT_EQ(r.err, "");  // no bar and no phases on a file

    auto ranged = test::RunCli({"volumes", img, "--advanced", "--range", "70000:80000", "--json"});
    ASSERT_EQ(JsonLines(ranged.out).size(), 1u) << ranged.out;
    auto kept = test::RunCli({"volumes", img, "--advanced", "--keep-size", "--json"});
    EXPECT_GT(JsonLines(kept.out).size(), 3u);  // backup boot sectors as well
}

TEST(VolumesCommand, BadUsage) {
    std::string img = test::ImagePath("mbr-mixed");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"volumes", img, "--keep-size"},
             {"volumes", img, "--range", "1:2"},
             {"volumes", img, "--advanced", "--range", "9:3"},
             {"volumes", img, "--advanced", "--range", "x:3"},
             {"volumes", "/nonexistent/disk.img"},
             {"volumes"}}) {
        auto r = test::RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.back() << ": " << r.err;
    }
}

// Ctrl-C during a long search stops it; the rows found stay printed.
TEST(VolumesCommand, InterruptKeepsTheRowsFound) {
    test::TempDir dir;
    std::string img = (dir / "big.img").string();
    {
        std::filesystem::copy_file(ZeroedCopy(dir, "mbr-mixed", 1), img);
        std::filesystem::resize_file(img, 64ULL << 30);  // sparse: long to read, nothing on disk
    }
    std::string out = (dir / "out").string(), err = (dir / "err").string();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::string cli = test::CliPath();
        ::execl(cli.c_str(), cli.c_str(), "volumes", img.c_str(), "--advanced", "--json", (char*)nullptr);
        ::_exit(127);
    }
    // Wait for the last volume of the copied disk, then interrupt.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::size_t seen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream f(out);
        std::stringstream s;
        s << f.rdbuf();
        seen = Lines(s.str()).size();
        if (seen >= 5) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 1) << "a stopped run is not a finished one";
    std::ifstream f(out), g(err);
    std::stringstream o, e;
    o << f.rdbuf();
    e << g.rdbuf();
    EXPECT_EQ(JsonLines(o.str()).size(), 5u);
    EXPECT_NE(e.str().find("stopped"), std::string::npos) << e.str();
}

// ---- choosing the volume a command works on -------------------------------------

cli::VolumeChoice Choose(const std::string& path, cli::VolumeOptions o) {
    SilentPrompter quiet;
    FileReader reader(quiet);
    EXPECT_TRUE(reader.Open(path)) << path;
    return cli::ChooseVolume(reader, o);
}

TEST(VolumeChoice, ByRowStartOrWholeSource) {
    std::string mbr = test::ImagePath("mbr-mixed");
    cli::VolumeOptions o;
    o.volumeIndex = 3;
    auto c = Choose(mbr, o);
    ASSERT_TRUE(c.volume) << c.error;
    EXPECT_EQ(c.volume->fileSystem, "NTFS");
    EXPECT_EQ(c.volume->startSector, 94208);
    EXPECT_EQ(c.volume->sectorCount, 16384u);

    o.volumeIndex = 9;
    c = Choose(mbr, o);
    EXPECT_FALSE(c.volume);
    EXPECT_NE(c.error.find("5  exFAT"), std::string::npos) << c.error;

    cli::VolumeOptions whole;
    c = Choose(mbr, whole);  // an MBR disk is no volume: the user must pick one
    EXPECT_FALSE(c.volume);
    EXPECT_NE(c.error.find("--volume N"), std::string::npos);
    EXPECT_NE(c.error.find("4  ext4"), std::string::npos) << c.error;

    c = Choose(test::ImagePath("sample-card"), whole);
    ASSERT_TRUE(c.volume) << c.error;
    EXPECT_EQ(c.volume->fileSystem, "FAT32");
    EXPECT_EQ(c.volume->startSector, 0);
    EXPECT_EQ(c.volume->foundBy, FoundBy::WholeSource);

    cli::VolumeOptions start;
    start.startSector = 112640;
    c = Choose(mbr, start);
    ASSERT_TRUE(c.volume) << c.error;
    EXPECT_EQ(c.volume->fileSystem, "ext4");
    EXPECT_EQ(c.volume->sectorCount, 16384u);
    start.startSector = 5;
    EXPECT_FALSE(Choose(mbr, start).volume);
    start.fsKind = "fat32";
    start.sizeMiB = 2;
    c = Choose(mbr, start);
    ASSERT_TRUE(c.volume);
    EXPECT_EQ(c.volume->fileSystem, "FAT32");
    EXPECT_EQ(c.volume->sectorCount, 4096u);
}

// --fs names the parser; within the ext and HFS+ families the volume keeps its
// own finer name, any other --fs value is taken as given.
TEST(VolumeChoice, FsOptionNamesTheVolume) {
    std::string mbr = test::ImagePath("mbr-mixed");
    ASSERT_FALSE(mbr.empty());
    struct Case {
        std::int64_t start;
        int volume;
        const char* fs;
        const char* name;
    };
    const Case cases[] = {
        {112640, 0, "ext", "ext4"},  {112640, 0, "ext2", "ext2"}, {0, 4, "ext", "ext4"},
        {131072, 0, "exfat", "exFAT"}, {0, 5, "fat32", "FAT32"}, {2048, 0, "hfsplus", "HFS+"},
    };
    for (const Case& k : cases) {
        cli::VolumeOptions o;
        if (k.volume) o.volumeIndex = k.volume;
        else o.startSector = k.start;
        o.fsKind = k.fs;
        auto c = Choose(mbr, o);
        ASSERT_TRUE(c.volume) << k.fs << ": " << c.error;
        EXPECT_EQ(c.volume->fileSystem, k.name) << k.fs << " at " << k.start << k.volume;
    }
}

TEST(VolumeChoice, AnUnknownRowIsRefused) {
    test::TempDir dir;
    std::string img = (dir / "lvm.img").string();
    std::vector<char> d(64 * 512, 0);
    d[0x1BE + 4] = char(0x8E);  // Linux LVM: nothing we parse
    d[0x1BE + 8] = 8;
    d[0x1BE + 12] = 16;
    d[510] = char(0x55);
    d[511] = char(0xAA);
    std::ofstream(img, std::ios::binary).write(d.data(), std::streamsize(d.size()));
    cli::VolumeOptions o;
    o.volumeIndex = 1;
    auto c = Choose(img, o);
    EXPECT_FALSE(c.volume);
    EXPECT_EQ(c.error, "can not parse unknown volume");
}

}  // namespace
}  // namespace tarnwell
