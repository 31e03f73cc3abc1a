// The command line's recover and the wizard's save run one save plan: on the
// same volume they write the same tree, byte for byte and name for name, and
// report every file alike, clashes, deleted files and unreadable bytes included.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "scan/ScanJob.h"
#include "support/FaultyReader.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using test::Slurp;

// Every folder ("name/") and file below root, with a file's bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) tree[rel + "/"] = "";
        else tree[rel] = Slurp(e.path());
    }
    return tree;
}

// The N lines recover prints below "N names changed to fit the output folder:".
std::vector<std::string> RenamedLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::size_t left = 0;
    for (std::string line; std::getline(in, line);) {
        if (left > 0) {
            lines.push_back(line.substr(2));
            --left;
        } else if (line.find(" names changed to fit the output folder:") != std::string::npos) {
            left = std::stoul(line);
        }
    }
    return lines;
}

// A FAT16 volume with an empty folder, a nested file, a deleted file whose
// recovered name clashes with a live one ("_.txt"), and a file with a
// pattern to find its data by.
std::string MakeVolume(const fs::path& dir) {
    if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null && command -v mdel >/dev/null") != 0)
        return {};
    fs::create_directories(dir / "t/docs");
    fs::create_directories(dir / "t/empty");
    fs::create_directories(dir / "t/deep/er");
    std::ofstream(dir / "t/docs/a.txt") << "first\n";
    std::ofstream(dir / "t/docs/_.txt") << "under\n";
    std::ofstream(dir / "t/deep/er/file.txt") << "nested\n";
    std::string pattern;
    for (int i = 0; i < 700; ++i) pattern += "pattern-" + std::to_string(100000 + i) + "|";
    std::ofstream(dir / "t/bad.bin") << pattern;
    const std::string image = (dir / "made.img").string();
    const std::string make = "mkfs.fat -F 16 -C '" + image + "' 16384 >/dev/null 2>&1 && export MTOOLS_SKIP_CHECK=1 && "
                             "mcopy -s -i '" + image + "' '" + (dir / "t").string() + "'/* :: && mdel -i '" + image +
                             "' ::docs/a.txt";
    return std::system(make.c_str()) == 0 ? image : std::string();
}

struct Case {
    const char* name;
    const char* committed;  // a committed image, or null for the made volume
    bool badSector;         // one sector inside bad.bin cannot be read
    int exitCode;           // recover's: 1 when a file is not whole
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SaveBothWays : public ::testing::TestWithParam<Case> {};

TEST_P(SaveBothWays, TheWizardWritesAndReportsWhatRecoverDoes) {
    const Case& c = GetParam();
    test::TempDir dir;
    const std::string image = c.committed ? test::ImagePath(c.committed) : MakeVolume(dir.path());
    if (image.empty()) GTEST_SKIP() << "no image, or no dosfstools and mtools";
    test::UnchangedGuard unchanged(image);

    std::vector<std::string> cli{"recover", image, "--out", (dir / "cli").string(), "--report",
                                 (dir / "cli.json").string()};
    test::FaultPlan faults;
    if (c.badSector) {
        const std::string bytes = Slurp(image);
        const std::size_t at = bytes.find("pattern-100000|");
        ASSERT_NE(at, std::string::npos);
        const std::uint64_t sector = at / 512 + 2;
        faults.badSectors = {sector};
        std::ostringstream map;
        map << "# hand-written\n0x0 +\n"
            << "0x0 0x" << std::hex << sector * 512 << " +\n"
            << "0x" << sector * 512 << " 0x200 -\n"
            << "0x" << (sector + 1) * 512 << " 0x" << bytes.size() - (sector + 1) * 512 << " +\n";
        dir.Write("bad.map", map.str());
        cli.insert(cli.end(), {"--mapfile", (dir / "bad.map").string()});
    }
    auto r = test::RunCli(cli);
    ASSERT_EQ(r.exitCode, c.exitCode) << r.err;
    const json cliReport = json::parse(Slurp(dir / "cli.json"));

    // The wizard: the same volume, scanned by the results page's job, its root saved.
    ScanSession session;
    if (c.badSector) {
        session.reader = test::OpenFaulty(image, faults);
        ASSERT_TRUE(session.reader);
        session.deviceSectorCount = session.reader->deviceSectorCount();
    } else {
        session.ResetReader();
        ASSERT_TRUE(session.OpenReader(image));
    }
    session.devicePath = image;
    session.selectedVolume.fileSystem = cliReport["volume"]["file_system"].get<std::string>();
    session.selectedVolume.startSector = cliReport["volume"]["start_sector"].get<std::int64_t>();
    session.selectedVolume.sectorCount = cliReport["volume"]["sectors"].get<std::int64_t>();
    RecordingPrompter prompter;
    NullProgress progress;
    ScanJob job(session, progress, prompter);
    ASSERT_TRUE(job.Start());
    job.Wait();
    ASSERT_EQ(job.Outcome(), ScanOutcome::Completed);
    SaveRequest request;
    request.outputFolder = (dir / "wizard").string();
    request.folder = job.Parser()->Root();
    SaveReport saved;
    ASSERT_TRUE(job.StartSave(request, [&](const SaveReport& s) { saved = s; }));
    job.Wait();
    ASSERT_TRUE(saved.ran);

    const auto cliTree = Tree(dir / "cli"), wizardTree = Tree(dir / "wizard");
    EXPECT_FALSE(cliTree.empty());
    auto names = [](const std::map<std::string, std::string>& tree) {
        std::vector<std::string> list;
        for (const auto& [name, bytes] : tree) list.push_back(name);
        return list;
    };
    EXPECT_EQ(names(wizardTree), names(cliTree));
    for (const auto& [name, bytes] : cliTree)
        if (wizardTree.count(name)) {
            EXPECT_TRUE(wizardTree.at(name) == bytes) << name << " differs";
        }
    const json wizardReport = json::parse(saved.report.ToJson());
    EXPECT_EQ(wizardReport["files"], cliReport["files"]);
    EXPECT_EQ(wizardReport["summary"], cliReport["summary"]);
    // How the volume was found is the road's own (the wizard's is a choice in a list).
    json wizardVolume = wizardReport["volume"], cliVolume = cliReport["volume"];
    wizardVolume.erase("found_by");
    cliVolume.erase("found_by");
    EXPECT_EQ(wizardVolume, cliVolume);
    EXPECT_EQ(saved.renamed, RenamedLines(r.err));
    for (const json& f : wizardReport["files"]) {
        if (!f["output"].is_null()) {
            EXPECT_EQ(f["sha256"].get<std::string>().size(), 64u) << f["path"];
        }
    }

    if (std::string(c.name) == "made") {
        EXPECT_EQ(cliTree.count("empty/"), 1u) << "an empty folder is kept";
        EXPECT_EQ(saved.renamed.size(), 1u) << "the deleted file's name clashes with the live one";
    }
    if (c.badSector) {
        EXPECT_EQ(wizardReport["summary"]["partial"], 1);
        EXPECT_EQ(wizardReport["summary"]["unreadable_bytes"], 512);
        EXPECT_EQ(prompter.informed.back().step, Step::SaveEnded);
        EXPECT_NE(OutcomeOf(prompter.informed.back()), Outcome::Done) << "a file with unreadable bytes is not a success";
        // The double click's one-file save hears the unreadable sector too.
        const auto rows = test::ListParser(*job.Parser());
        prompter.informed.clear();
        test::TempDir one;
        EXPECT_EQ(job.SaveFile(rows.at("bad.bin").row, one.path().string()), ExtractStatus::Partial);
        ASSERT_EQ(prompter.informed.size(), 1u);
        EXPECT_EQ(prompter.informed[0].step, Step::FileSaved);
        EXPECT_EQ(prompter.informed[0].name, "bad.bin");
        EXPECT_EQ(prompter.informed[0].partial, 1) << "the one-file save says it is partial";
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, SaveBothWays,
                         ::testing::Values(Case{"card", "sample-card", false, 0},
                                           Case{"stick", "fat16-stick", false, 1},  // a file with no data
                                           Case{"made", nullptr, false, 0}, Case{"made_bad", nullptr, true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwell
