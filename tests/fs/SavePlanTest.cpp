// What a save plan writes for a choice of rows: the count it asks about is
// the number of files it tries, deleted rows and a name filter hold for the
// walk and the count alike, folders are made as entered (only once they get a
// file when a filter is set), and a row chosen inside a chosen folder is
// written once.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "fs/SavePlan.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> names;
    if (!fs::exists(root)) return names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

enum Row : RowId { kDcim = 1, kA, kOld, kGone, kG, kEmpty, kNotes };

struct Case {
    const char* name;
    SaveSelection what;
    std::vector<std::string> tree;   // the output folder afterwards
    std::vector<std::string> paths;  // the volume paths of the files tried
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

SaveSelection Choose(std::vector<std::vector<RowId>> rows = {}, bool deleted = true, const char* suffix = nullptr) {
    SaveSelection s;
    s.rows = std::move(rows);
    s.includeDeleted = deleted;
    if (suffix != nullptr)
        s.nameFilter = [end = std::string(suffix)](const std::string& name) {
            return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
        };
    return s;
}

SaveSelection Below(RowId base, std::string path) {
    SaveSelection s;
    s.base = base;
    s.basePath = std::move(path);
    return s;
}

class SavePlanChoice : public ::testing::TestWithParam<Case> {};

TEST_P(SavePlanChoice, CountsAndWritesTheSameFiles) {
    const Case& c = GetParam();
    NullProgress progress;
    SilentPrompter quiet;
    ParserLinks links;
    links.progress = &progress;
    links.prompter = &quiet;
    test::FakeParser parser(links);
    ASSERT_EQ(parser.Add(0, "DCIM", true), kDcim);
    ASSERT_EQ(parser.Add(kDcim, "a.jpg", false, "A"), kA);
    ASSERT_EQ(parser.Add(kDcim, "old.jpg", false, "O", true), kOld);
    ASSERT_EQ(parser.Add(kDcim, "GONE", true, "", true), kGone);
    ASSERT_EQ(parser.Add(kGone, "g.jpg", false, "G", true), kG);
    ASSERT_EQ(parser.Add(kDcim, "EMPTY", true), kEmpty);
    ASSERT_EQ(parser.Add(0, "notes.txt", false, "N"), kNotes);
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));

    test::TempDir dir;
    OutputWriter writer((dir / "out").string());
    SavePlan plan(parser, c.what);
    const std::uint64_t count = plan.Count();
    SaveResult saved = plan.Run(writer, writer.Root(), progress);
    EXPECT_EQ(saved.planned, count);
    EXPECT_EQ(saved.attempted, count) << "the count asked about is what was tried";
    EXPECT_EQ(saved.whole, count);
    EXPECT_EQ(Tree(dir / "out"), c.tree);
    std::vector<std::string> paths;
    for (const SavedFile& f : saved.files) paths.push_back(f.path);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, c.paths);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, SavePlanChoice,
    ::testing::Values(
        Case{"everything",
             Choose(),
             {"DCIM/", "DCIM/EMPTY/", "DCIM/GONE/", "DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg", "notes.txt"},
             {"DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg", "notes.txt"}},
        Case{"no_deleted", Choose({}, false), {"DCIM/", "DCIM/EMPTY/", "DCIM/a.jpg", "notes.txt"},
             {"DCIM/a.jpg", "notes.txt"}},
        Case{"filter",
             Choose({}, true, ".jpg"),
             {"DCIM/", "DCIM/GONE/", "DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg"},
             {"DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg"}},
        Case{"filter_matching_nothing", Choose({}, true, ".png"), {}, {}},
        Case{"row_inside_a_chosen_folder",
             Choose({{kDcim, kA}, {kDcim}, {kDcim}}),
             {"DCIM/", "DCIM/EMPTY/", "DCIM/GONE/", "DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg"},
             {"DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg"}},
        Case{"deleted_row_left_out", Choose({{kDcim, kGone}, {kNotes}}, false), {"notes.txt"}, {"notes.txt"}},
        Case{"two_files_of_one_folder", Choose({{kDcim, kA}, {kDcim, kOld}}), {"DCIM/", "DCIM/a.jpg", "DCIM/old.jpg"},
             {"DCIM/a.jpg", "DCIM/old.jpg"}},
        Case{"below_a_folder",
             Below(kDcim, "DCIM"),
             {"EMPTY/", "GONE/", "GONE/g.jpg", "a.jpg", "old.jpg"},
             {"DCIM/GONE/g.jpg", "DCIM/a.jpg", "DCIM/old.jpg"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The chain of a row is found from the root, and its names make the path.
TEST(SavePlanChain, FindsTheRowsFromTheRoot) {
    ParserLinks links;
    test::FakeParser parser(links);
    RowId a = parser.Add(0, "a", true);
    RowId b = parser.Add(a, "b", true);
    RowId c = parser.Add(b, "c.txt", false, "c");
    RowId d = parser.Add(0, "d.txt", false, "d");
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
    EXPECT_EQ(ChainTo(parser, c), (std::vector<RowId>{a, b, c}));
    EXPECT_EQ(ChainTo(parser, d), (std::vector<RowId>{d}));
    EXPECT_EQ(ChainPath(parser, *ChainTo(parser, c)), "a/b/c.txt");
    EXPECT_FALSE(ChainTo(parser, parser.Root()));
}

}  // namespace
}  // namespace tarnwell
