// The output side under stress: a full output disk and a read-only output
// folder end with a failure count and exit status 1, never a clean summary;
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
#include <set>

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

TEST(OutputSide, ReadOnlyOutputFolderEndsWithFailuresAndStatusOne) {
    std::string image = test::ImagePath("fat16-stick");
    if (image.empty()) GTEST_SKIP() << "fat16-stick is not committed";
    test::TempDir dir;
    fs::path out = dir / "locked";
    std::unique_ptr<Mount> readOnly;
    if (::geteuid() == 0) {
        readOnly = Mount::Tmpfs(out, "size=64k,mode=0755");
        if (!readOnly || ::mount(nullptr, out.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    } else {
        fs::create_directories(out);
        fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    }
    auto r = test::RunCli({"recover", image, "--out", out.string()});
    if (!readOnly) fs::permissions(out, fs::perms::owner_all);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    Summary s = ParseSummary(r.out);
    EXPECT_EQ(s.whole, 0u) << r.out;
    EXPECT_GT(s.failed, 0u) << r.out;
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
