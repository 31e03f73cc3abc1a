// Every public damaged image of ../shared/fixtures opened and listed by every
// parser that claims it (by its own boot-sector test or by The Sleuth Kit's),
// in the modes the subsystem suites leave out, each in a child process with a
// time limit so that a hang fails instead of stalling the run.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "device/FileReader.h"
#include "fs/FileSystemRegistry.h"
#include "hardening/FixtureManifest.h"
#include "partition/BootSectors.h"
#include "support/GzipImage.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxRawBytes = 1ull << 30;     // sparse images beyond are left out
constexpr std::uint64_t kMaxDeepBytes = 64ull << 20;   // deep scans read the whole volume
constexpr int kSecondsPerRun = 120;                    // generous: the sanitizer build is slow

using Fixture = test::PublicFixture;

std::vector<Fixture> FixtureList() { return test::PublicFixtures(test::FixturesRoot(), kMaxRawBytes); }

// Unpacks the image into dir; the raw image's path, or empty.
std::string Unpack(const Fixture& fx, const test::TempDir& dir) {
    std::string packed = test::FixturesRoot() + "/" + fx.image;
    std::string raw = (dir / "image").string();
    std::string cmd;
    if (fx.packing == "xz") cmd = "xz -dc '" + packed + "' > '" + raw + "'";
    else if (fx.packing == "bzip2") cmd = "bzip2 -dc '" + packed + "' > '" + raw + "'";
    else if (fx.packing == "tar.xz") cmd = "tar -xJSf '" + packed + "' -C '" + dir.path().string() + "'";
    else return "";
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return "";
    if (fx.packing == "tar.xz") {
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.is_regular_file() && e.path().extension() == ".img") return e.path().string();
        return "";
    }
    return raw;
}

// Parser names (KIND names, one for the ext family) for what TSK recognised.
std::set<std::string> TskClaims(const std::string& kind) {
    std::set<std::string> out;
    for (const auto& [tsk, ours] : std::vector<std::pair<std::string, std::string>>{
             {"FAT12", "fat12"}, {"FAT16", "fat16"}, {"FAT32", "fat32"}, {"exFAT", "exfat"},
             {"NTFS", "ntfs"}, {"Ext", "ext"}, {"HFS+", "hfsplus"}})
        if (kind.find(tsk) != std::string::npos) out.insert(ours);
    return out;
}

// Whether a subsystem suite already lists this image in Standard mode.
bool StandardCoveredElsewhere(const std::string& image, const std::string& parser) {
    bool fatFolder = image.rfind("dosfstools/", 0) == 0 || image.rfind("rust-fatfs/", 0) == 0;
    if (fatFolder && parser.rfind("fat", 0) == 0) return true;
    if (parser == "ext" && (image.rfind("e2fsprogs/", 0) == 0 || image.rfind("util-linux/", 0) == 0)) return true;
    return image == "util-linux/images-fs/hfsplus.img.xz" && parser == "hfsplus";
}

// Scans and walks the whole tree, reading every file; bounded by the row count.
int ListEverything(SectorReader& reader, const std::string& parserName, RecoveryMode mode) {
    class NullSink final : public FileSink {
    public:
        bool Write(const void*, std::size_t n) override { return (written += n) < (256u << 20); }
        std::uint64_t written = 0;
    };
    SilentPrompter quiet;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &quiet;
    links.volume.fileSystem = parserName;
    links.volume.sectorCount = reader.deviceSectorCount();
    auto parser = MakeParser(parserName, links);
    if (!parser) return 3;
    if (!parser->Scan(mode)) return 0;  // refusing a damaged volume is an answer
    std::vector<RowId> pending{parser->Root()};
    std::uint64_t visited = 0;
    while (!pending.empty()) {
        RowId folder = pending.back();
        pending.pop_back();
        for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
            if (++visited > parser->RowCount() + 1) return 4;  // a row reached twice: the tree has a cycle
            EntryInfo info = parser->Info(r);
            parser->FormatTimes(r);
            parser->FormatSize(r);
            if (info.folder) {
                pending.push_back(r);
            } else {
                NullSink sink;
                parser->ExtractData(r, sink);
            }
        }
    }
    parser->CountFiles(parser->Root());
    return 0;
}

// Runs body in a child; "" when it exited 0 in time, else what went wrong.
template <class Body>
std::string InChild(Body body, int seconds) {
    pid_t child = fork();
    if (child < 0) return "fork failed";
    if (child == 0) _exit(body());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return "no answer within " + std::to_string(seconds) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) == 4) return "the tree has a cycle";
    if (WEXITSTATUS(status) != 0) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "";
}

class DamagedFixtures : public ::testing::TestWithParam<Fixture> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DamagedFixtures);

// The first bytes of the unpacked image, without unpacking the rest.
std::vector<std::uint8_t> Head(const Fixture& fx, std::size_t bytes) {
    std::string packed = "'" + test::FixturesRoot() + "/" + fx.image + "'";
    std::string cmd = fx.packing == "gzip" ? "gzip -dc " + packed
                      : fx.packing == "xz"  ? "xz -dc " + packed
                      : fx.packing == "bzip2" ? "bzip2 -dc " + packed
                                              : "tar -xJOf " + packed;
    std::vector<std::uint8_t> head(bytes, 0);
    if (FILE* p = ::popen((cmd + " 2>/dev/null | head -c " + std::to_string(bytes)).c_str(), "r")) {
        std::size_t got = std::fread(head.data(), 1, bytes, p);
        (void)got;
        ::pclose(p);
    }
    return head;
}

TEST_P(DamagedFixtures, EveryClaimingParserListsItInTime) {
    const Fixture& fx = GetParam();
    std::set<std::string> claims = TskClaims(fx.tskKind);
    if (auto m = DetectSourceVolume(Head(fx, 8192))) claims.insert(FileSystemOf(m->type).parser == ParserKind::Ext ? "ext" : KindName(m->type));
    std::vector<std::pair<std::string, RecoveryMode>> runs;
    for (const std::string& parser : claims) {
        if (!StandardCoveredElsewhere(fx.image, parser)) runs.emplace_back(parser, RecoveryMode::Standard);
        if (fx.rawBytes <= kMaxDeepBytes) runs.emplace_back(parser, RecoveryMode::Deep);
    }
    if (claims.empty()) GTEST_SKIP() << "no parser claims " << fx.image;
    if (runs.empty()) GTEST_SKIP() << "the subsystem suites cover " << fx.image;

    test::TempDir dir;
    std::unique_ptr<SectorReader> reader;
    if (fx.packing == "gzip") {
        auto gz = std::make_unique<test::GzipImage>();
        ASSERT_TRUE(gz->Open(test::FixturesRoot() + "/" + fx.image));
        reader = std::move(gz);
    } else {
        std::string raw = Unpack(fx, dir);
        ASSERT_FALSE(raw.empty()) << "cannot unpack " << fx.image;
        auto file = std::make_unique<FileReader>();
        ASSERT_TRUE(file->Open(raw));
        reader = std::move(file);
    }
    for (const auto& [parser, mode] : runs) {
        std::string problem = InChild([&, p = parser, m = mode] { return ListEverything(*reader, p, m); }, kSecondsPerRun);
        EXPECT_EQ(problem, "") << fx.image << " as " << parser << (mode == RecoveryMode::Deep ? " (deep)" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Public, DamagedFixtures, ::testing::ValuesIn(FixtureList()), [](const auto& info) {
    std::string n = info.param.image;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

}  // namespace
}  // namespace tarnwell
