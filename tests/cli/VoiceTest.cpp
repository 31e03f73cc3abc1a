// The command line's own voice: with stderr not a terminal a run leaves at
// most its one-line summary there, never the wizard's status or box texts;
// -q leaves only errors, -v names each phase of the work.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::Lines;

// Pieces of the wizard's sentences the engine used to print.
const char* const kWizardWords[] = {
    "Scanning processing done", "button", "vector", "Maintaining", "searched file", "Selected Drive",
    "Finding ", "parsing ", "found FAT", "found NTFS", "Processing", "saving File", "work done",
    "Tree Structure", "invalid handle", "partition selected", "Scanned Partitions", "MFT ENTRY",
};

TEST(CliVoice, EachCommandLeavesAtMostASummaryLineOnAFile) {
    test::TempDir dir;
    std::vector<std::vector<std::string>> runs;
    int n = 0;
    for (const char* image : {"sample-card", "fat16-stick", "ntfs-512", "ext4", "exfat-4k", "hfsplus-gen"}) {
        std::string path = test::ImagePath(image);
        if (path.empty()) continue;
        const std::string out = (dir / ("out" + std::to_string(n++))).string();
        runs.push_back({"list", path});
        runs.push_back({"search", path, "."});
        // Its report lists the names it changed, one a line, after the summary.
        runs.push_back({"recover", path, "--out", out});
        if (std::string(image).rfind("ext", 0) != 0 && std::string(image).rfind("hfs", 0) != 0)
            runs.push_back({"candidates", path});
    }
    for (const char* image : {"mbr-mixed", "gpt-mixed"}) {
        std::string path = test::ImagePath(image);
        if (path.empty()) continue;
        runs.push_back({"volumes", path});
        runs.push_back({"volumes", path, "--advanced"});
        runs.push_back({"list", path, "--volume", "2"});
    }
    if (std::string card = test::ImagePath("sample-card"); !card.empty())
        runs.push_back({"carve", card, "--out", (dir / "carved").string()});
    if (runs.empty()) GTEST_SKIP() << "no test images";
    for (const auto& args : runs) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        SCOPED_TRACE(shown);
        auto r = test::RunCli(args);
        EXPECT_LE(r.exitCode, 1) << r.err;
        auto lines = Lines(r.err);
        if (args[0] == "recover")
            lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("  ", 0) == 0 || l.find("names changed") != std::string::npos; }), lines.end());
        EXPECT_LE(lines.size(), 1u) << r.err;
        for (const char* words : kWizardWords) EXPECT_EQ(r.err.find(words), std::string::npos) << words << "\n" << r.err;
    }
}

TEST(CliVoice, QuietLeavesErrorsAndVerboseNamesThePhases) {
    std::string fat32 = test::ImagePath("sample-card");
    if (fat32.empty()) GTEST_SKIP() << "no test images";

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> err;  // stderr, line by line
    };
    const Case cases[] = {
        {{"-q", "list", fat32}, 0, {}},
        {{"list", fat32, "--quiet"}, 0, {}},
        // The kind asked, not the parser's, and the kind the boot sector holds.
        {{"-q", "list", fat32, "--fs", "fat12"}, 2, {"error: not a FAT12 file system (the boot sector is FAT32); see --fs"}},
        {{"list", fat32, "--fs", "fat16"}, 2, {"error: not a FAT16 file system (the boot sector is FAT32); see --fs"}},
        // A parser that finds nothing it can read still leaves a reason.
        {{"list", fat32, "--fs", "ntfs"}, 2, {"error: no readable NTFS file system at sector 0; see --fs"}},
        {{"list", fat32, "--fs", "ext"}, 2, {"error: not an ext2/ext3/ext4 file system"}},
        {{"list", fat32, "--mode", "deep", "-q"}, 2,
         {"error: --mode deep: not available for FAT32 volumes"}},
        {{"list", fat32, "-v"}, 0,
         {"tarnwell: reading records", "tarnwell: building the tree", "tarnwell: finishing"}},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown);
        auto r = test::RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(Lines(r.err), c.err) << r.err;
    }
    // Both at once is a usage error that names them.
    auto both = test::RunCli({"list", fat32, "-q", "-v"});
    EXPECT_EQ(both.exitCode, 2);
    EXPECT_NE(both.err.find("--quiet"), std::string::npos) << both.err;
}

}  // namespace
}  // namespace tarnwell
