// The output side under stress: a full output disk ends with a failure count
// and exit status 1, never a clean summary or a file cut short; an output
// folder that cannot be written stops the run at once;
// names the target cannot hold (hostile bytes, clashes of case on a
// case-insensitive file system, characters FAT refuses) are made safe, every
// file survives, and each changed name is reported.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "fs/OutputWriter.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

// A file system mounted for one test, unmounted (and its loop device freed) after.
class Mount {
public:
    // mkfs and mount commands are run by the shell; "" when the machine refuses.
    static std::unique_ptr<Mount> Tmpfs(const fs::path& at, const std::string& options) {
        fs::create_directories(at);
        if (::geteuid() != 0 || ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) return nullptr;
        return std::unique_ptr<Mount>(new Mount(at, ""));
    }
    // An exFAT volume through FUSE over a loop device: case-insensitive, and
    // it refuses the characters Windows refuses.
    static std::unique_ptr<Mount> ExFat(const fs::path& image, const fs::path& at) {
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) return nullptr;
        fs::create_directories(at);
        std::string q = "'" + image.string() + "'";
        if (std::system(("truncate -s 8M " + q + " && mkfs.exfat " + q + " >/dev/null 2>&1").c_str()) != 0) return nullptr;
        std::string loop;
        if (FILE* p = ::popen(("losetup -f --show " + q + " 2>/dev/null").c_str(), "r")) {
            char buffer[64] = {};
            if (std::fgets(buffer, sizeof buffer, p)) loop = buffer;
            ::pclose(p);
        }
        while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
        if (loop.empty()) return nullptr;
        auto m = std::unique_ptr<Mount>(new Mount(at, loop));
        if (std::system(("timeout 20 mount.exfat-fuse " + loop + " '" + at.string() + "' >/dev/null 2>&1").c_str()) != 0) {
            m->mounted_ = false;
            return nullptr;
        }
        return m;
    }
    ~Mount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
        if (!loop_.empty()) std::system(("losetup -d " + loop_ + " 2>/dev/null").c_str());
    }

private:
    Mount(fs::path at, std::string loop) : at_(std::move(at)), loop_(std::move(loop)) {}
    fs::path at_;
    std::string loop_;
    bool mounted_ = true;
};

struct Summary {
    unsigned long long whole = 0, partial = 0, failed = 0;
};

Summary ParseSummary(const std::string& out) {
    Summary s;
    std::size_t at = out.find(": ");
    if (at != std::string::npos)
        std::sscanf(out.c_str() + at, ": %llu files written whole, %llu partial, %llu failed", &s.whole, &s.partial,
                    &s.failed);
    return s;
}

TEST(OutputSide, FullOutputDiskEndsWithFailuresAndStatusOne) {
    std::string image = test::ImagePath("fat32-card");
    if (image.empty()) GTEST_SKIP() << "fat32-card is not committed";
    test::TempDir dir;
    auto small = Mount::Tmpfs(dir / "small", "size=64k");
    if (!small) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    test::UnchangedGuard unchanged(image);
    auto r = test::RunCli({"recover", image, "--out", (dir / "small/out").string()});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    Summary s = ParseSummary(r.out);
    EXPECT_GT(s.failed, 0u) << r.out;
    EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
}

// An output folder that cannot be written stops the run before the scan,
// with the real reason, and nothing is made.
TEST(OutputSide, UnusableOutputFolderStopsAtOnce) {
    std::string image = test::ImagePath("fat16-stick");
    if (image.empty()) GTEST_SKIP() << "fat16-stick is not committed";
    test::TempDir dir;
    dir.Write("plainfile", "x");
    std::unique_ptr<Mount> readOnly;
    if (::geteuid() == 0) {
        readOnly = Mount::Tmpfs(dir / "ro", "size=64k,mode=0755");
        if (readOnly && ::mount(nullptr, (dir / "ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            readOnly.reset();
    }
    struct Case {
        std::string out;
        std::string reason;
        bool needsReadOnlyMount, needsNonRoot;
    };
    const std::vector<Case> cases = {
        {"ro", std::strerror(EROFS), true, false},           // an existing folder on a read-only mount
        {"ro/new/out", std::strerror(EROFS), true, false},   // a new one below it
        {"plainfile/out", std::strerror(ENOTDIR), false, false},
        {"locked/out", std::strerror(EACCES), false, true},  // root may write anywhere
    };
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    int ran = 0;
    for (const auto& c : cases) {
        if ((c.needsReadOnlyMount && !readOnly) || (c.needsNonRoot && ::geteuid() == 0)) continue;
        ++ran;
        auto r = test::RunCli({"recover", image, "--out", (dir / c.out).string()});
        EXPECT_EQ(r.exitCode, 2) << c.out << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.out << ": " << r.err;
        EXPECT_EQ(r.out.find("Recovered into"), std::string::npos) << c.out << ": the run went on\n" << r.out;
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(dir / "locked"));
    if (readOnly) {
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
    }
    if (ran < 2) GTEST_SKIP() << "only " << ran << " of the cases can run here";
}

// A FAT16 image holding the files of tree (mkfs.fat and mtools); false when they are missing.
bool MakeFatImage(const fs::path& image, unsigned kib, const fs::path& tree) {
    if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") != 0) return false;
    std::string make = "mkfs.fat -F 16 -C '" + image.string() + "' " + std::to_string(kib) +
                       " >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" + image.string() + "' '" +
                       tree.string() + "'/* ::";
    return std::system(make.c_str()) == 0;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

// Files larger than the room left on the output disk: none stays cut short
// under its name; each is counted as failed, with the reason in the report.
TEST(OutputSide, FilesTheOutputDiskCannotHoldAreNotLeftCut) {
    test::TempDir dir;
    const std::map<std::string, std::size_t> sizes = {
        {"a small.txt", 3000}, {"Emilie & Zoe .jpg", 773422}, {"big.bin", 1500000}, {"bigger.bin", 3000000}};
    unsigned seed = 1;
    for (const auto& [name, size] : sizes) dir.Write("tree/" + name, RandomBytes(size, seed++));
    ASSERT_TRUE(fs::exists(dir / "tree/big.bin"));
    if (!MakeFatImage(dir / "fat.img", 16384, dir / "tree")) GTEST_SKIP() << "dosfstools or mtools missing";
    auto small = Mount::Tmpfs(dir / "small", "size=1m");
    if (!small) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    auto r = test::RunCli({"recover", (dir / "fat.img").string(), "--out", (dir / "small/out").string(), "--report",
                           (dir / "report.json").string()});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    Summary s = ParseSummary(r.out);
    EXPECT_GE(s.failed, 2u) << r.out;
    EXPECT_EQ(s.whole + s.failed, sizes.size()) << r.out;
    std::size_t kept = 0;
    for (const auto& e : fs::directory_iterator(dir / "small/out")) {
        std::string name = e.path().filename().string();
        ASSERT_TRUE(sizes.count(name)) << name;
        EXPECT_EQ(fs::file_size(e.path()), sizes.at(name)) << name << " is left cut short";
        ++kept;
    }
    EXPECT_EQ(kept, s.whole);
    std::ifstream in(dir / "report.json");
    auto report = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    std::size_t failed = 0;
    for (const auto& f : report["files"]) {
        if (f["status"] != "failed") continue;
        ++failed;
        EXPECT_TRUE(f["output"].is_null()) << f.dump();
        EXPECT_EQ(f["reason"], std::string("could not be written: ") + std::strerror(ENOSPC)) << f.dump();
    }
    EXPECT_EQ(failed, s.failed);
    EXPECT_EQ(report["summary"]["failed"], s.failed);
}

// A folder that cannot be made (here: no inodes left) is one error for its
// subtree; its files fail without another try, and no numbered twin appears.
TEST(OutputSide, AFolderThatCannotBeMadeIsOneFailure) {
    test::TempDir dir;
    for (const char* f : {"DIR/one.txt", "DIR/two.txt", "DIR/three.txt", "DIR/SUB/four.txt"}) dir.Write(std::string("tree/") + f, f);
    if (!MakeFatImage(dir / "fat.img", 16384, dir / "tree")) GTEST_SKIP() << "dosfstools or mtools missing";
    // Room for the output folder and nothing else.
    auto tiny = Mount::Tmpfs(dir / "tiny", "size=1m,nr_inodes=2");
    if (!tiny) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    auto r = test::RunCli({"recover", (dir / "fat.img").string(), "--out", (dir / "tiny/out").string(), "--report",
                           (dir / "report.json").string()});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    Summary s = ParseSummary(r.out);
    EXPECT_EQ(s.failed, 4u) << r.out;
    std::size_t mentions = 0;
    for (std::size_t at = r.err.find("DIR"); at != std::string::npos; at = r.err.find("DIR", at + 1)) ++mentions;
    EXPECT_EQ(mentions, 1u) << r.err;
    EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "tiny/out"));
    std::ifstream in(dir / "report.json");
    auto report = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    ASSERT_EQ(report["files"].size(), 4u);
    for (const auto& f : report["files"]) {
        EXPECT_EQ(f["status"], "failed") << f.dump();
        EXPECT_EQ(f["reason"], "its folder could not be made") << f.dump();
    }
}

TEST(OutputSide, PortableNames) {
    struct Case {
        std::string safe, portable;
    };
    const std::vector<Case> cases = {
        {"plain.txt", "plain.txt"},
        {"a:b*c?.txt", "a_b_c_.txt"},
        {"quote\"<pipe|>\\.doc", "quote__pipe___.doc"},
        {"trailing dot.", "trailing dot_"},
        {"spaces  ", "spaces__"},
        {"NUL", "NUL_"},
        {"con.txt", "con_.txt"},
        {"com1.tar.gz", "com1_.tar.gz"},
        {"CONSOLE.txt", "CONSOLE.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(OutputWriter::PortableName(c.safe), c.portable) << c.safe;
    std::string longName = std::string(250, 'y') + ".jpeg";
    std::string cut = OutputWriter::PortableName(longName);
    EXPECT_LE(cut.size(), 143u);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");
}

// Hostile names from a volume, through the same save path as every parser.
std::unique_ptr<test::FakeParser> HostileTree(SilentPrompter& quiet) {
    ParserLinks links;
    links.prompter = &quiet;
    auto p = std::make_unique<test::FakeParser>(links);
    RowId dir = p->Add(0, "..", true);
    p->Add(dir, "../../escape.txt", false, "escape");
    p->Add(0, std::string("nul\0byte", 8), false, "nul");
    p->Add(0, std::string(300, 'L') + ".txt", false, "long");
    p->Add(0, "README.TXT", false, "upper");
    p->Add(0, "readme.txt", false, "lower");
    p->Add(0, "a:b.txt", false, "colon");
    p->Add(0, "trailing.", false, "dot");
    p->Scan(RecoveryMode::Standard);
    return p;
}

std::multiset<std::string> Contents(const fs::path& root) {
    std::multiset<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path());
        out.insert(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    return out;
}

void SaveHostileTreeInto(const fs::path& out) {
    SilentPrompter quiet;
    auto parser = HostileTree(quiet);
    OutputWriter writer(out.string());
    ASSERT_FALSE(writer.Problem());
    SaveSummary saved = parser->SaveFolder(parser->Root(), writer, writer.Root());
    EXPECT_EQ(saved.files, 7u);
    EXPECT_EQ(writer.FilesFailed(), 0u) << (writer.Errors().empty() ? "" : writer.Errors()[0]);
    EXPECT_EQ(writer.FilesWritten(), 7u);
    // Every file survives, under a name of its own, inside the output folder.
    EXPECT_EQ(Contents(out), (std::multiset<std::string>{"escape", "nul", "long", "upper", "lower", "colon", "dot"}));
    for (const auto& e : fs::directory_iterator(out.parent_path()))
        EXPECT_EQ(e.path().filename(), out.filename()) << "written beside the output folder";
    // Each changed name is reported with the name it had.
    std::string report;
    for (const auto& r : writer.Renamed()) report += r + "\n";
    for (const char* was : {"(was \"..\")", "(was \"../../escape.txt\")", "(was \"nul\\x00byte\")", "LLLL.txt\")"})
        EXPECT_NE(report.find(was), std::string::npos) << was << " missing from\n" << report;
}

TEST(OutputSide, HostileNamesAreMadeSafeAndReported) {
    test::TempDir dir;
    SaveHostileTreeInto(dir / "out");
}

TEST(OutputSide, CaseInsensitiveTargetKeepsBothNamesAndRefusedCharacters) {
    test::TempDir dir;
    auto exfat = Mount::ExFat(dir / "exfat.img", dir / "mnt");
    if (!exfat) GTEST_SKIP() << "cannot mount an exFAT volume through FUSE here (needs root, /dev/fuse, a loop device)";
    fs::create_directories(dir / "mnt/holder");
    SaveHostileTreeInto(dir / "mnt/holder/out");
}

}  // namespace
}  // namespace tarnwell
