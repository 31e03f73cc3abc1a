#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

// A shell command's standard output, or nothing when it failed.
std::optional<std::string> Shell(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

bool Have(const char* tool) { return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0; }

// The live files' rows of `mactime -b BODY -d -y` as "date,size,macb,name".
// Left out: deleted rows; folders (fls gives them the size of their
// allocation, the bodyfile the entry's 0); the entries fls adds that are no
// files (volume label, $FILE_NAME copies, named streams) and NTFS's system
// files; on NTFS the c of macb, the MFT entry's change time, which the rows
// here do not carry (the bodyfile writes 0 for it, as FAT has no such time);
// and where the two name a file differently on purpose: recycled files, which
// the list shows under their former names, and fat32-card's 210-character name,
// which fls cuts short.
std::set<std::string> LiveTimeline(const std::string& mactimeCsv, bool ntfs) {
    std::set<std::string> rows;
    std::istringstream in(mactimeCsv);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        // Date,Size,Type,Mode,UID,GID,Meta,"File Name": the name may hold commas.
        std::string f[7];
        std::size_t at = 0;
        for (auto& field : f) {
            std::size_t comma = line.find(',', at);
            if (comma == std::string::npos) break;
            field = line.substr(at, comma - at);
            at = comma + 1;
        }
        std::string name = line.substr(at);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
        std::string type = f[2];
        if (f[3].rfind("r/r", 0) != 0 || name.find("(deleted") != std::string::npos ||
            name.find("($FILE_NAME)") != std::string::npos || name.find("(Volume Label Entry)") != std::string::npos)
            continue;
        if (name.find("/$RECYCLE.BIN/") != std::string::npos || name.rfind("/AAAAAAAAAA", 0) == 0) continue;
        if (ntfs) {
            if (name.rfind("/$", 0) == 0 || name.find(':', name.rfind('/')) != std::string::npos) continue;
            for (char& c : type)
                if (c == 'c') c = '.';
            if (type == "....") continue;
        }
        rows.insert(f[0] + "," + f[1] + "," + type + "," + name);
    }
    return rows;
}

std::string Difference(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::string out;
    for (const auto& row : a)
        if (!b.count(row)) out += "  " + row + "\n";
    return out;
}

// mactime's timeline of our bodyfile is fls -m's for the live files.
TEST(Timeline, BodyfileGivesTheTimelineFlsGives) {
    if (!Have("mactime") || !Have("fls")) GTEST_SKIP() << "mactime and fls (sleuthkit) are needed";
    // FAT stores local time: both tools read it in one zone.
    ::setenv("TZ", "UTC", 1);
    struct Case {
        const char* image;
        bool ntfs;
    };
    for (const Case& c : {Case{"fat32-card", false}, Case{"ntfs-512", true}}) {
        std::string image = test::ImagePath(c.image);
        if (image.empty()) continue;
        test::UnchangedGuard unchanged(image);
        test::TempDir dir;
        auto list = test::RunCli({"list", image, "--bodyfile"});
        ASSERT_EQ(list.exitCode, 0) << c.image << list.err;
        dir.Write("ours.body", list.out);
        std::string q = "'" + dir.path().string() + "/";
        ASSERT_TRUE(Shell("fls -r -m / '" + image + "' > " + q + "fls.body'")) << c.image;
        auto ours = Shell("mactime -b " + q + "ours.body' -d -y");
        auto theirs = Shell("mactime -b " + q + "fls.body' -d -y");
        ASSERT_TRUE(ours && theirs) << c.image;
        auto a = LiveTimeline(*ours, c.ntfs), b = LiveTimeline(*theirs, c.ntfs);
        EXPECT_GT(b.size(), 3u) << c.image << ": the image has live files";
        EXPECT_EQ(a, b) << c.image << "\nonly ours:\n" << Difference(a, b) << "only fls:\n" << Difference(b, a);
    }
}

}  // namespace
}  // namespace tarnwell
