// How a save from the results ends: "work done" only when every file was
// written whole; a stop, a partial or a failed file is said with the counts.

#include <gtest/gtest.h>

#include <ostream>
#include <set>

#include "scan/SaveFlow.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

// Rows named in partial are written with a gap; rows named in missing have no data.
class GappyParser final : public test::FakeParser {
public:
    using FakeParser::FakeParser;
    std::set<std::string> partial, missing;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override {
        const std::string name = Info(row).name;
        if (missing.count(name)) return ExtractStatus::Failed;
        ExtractStatus status = FakeParser::ExtractData(row, sink);
        if (status == ExtractStatus::Ok && partial.count(name)) return sink.WriteUnreadable(4), ExtractStatus::Partial;
        return status;
    }
};

struct Case {
    const char* name;
    std::set<std::string> partial, missing;
    bool stop;
    std::int64_t whole;              // the last event the user is told: files written whole
    std::vector<std::string> lines;  // and the errors it lists
    Outcome outcome;
    std::uint64_t failed, partialCount;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SaveEnd : public ::testing::TestWithParam<Case> {};

TEST_P(SaveEnd, TheLastMessageCountsWhatWasNotWrittenWhole) {
    const Case& c = GetParam();
    NullProgress progress;
    RecordingPrompter prompter;
    ParserLinks links;
    links.progress = &progress;
    links.prompter = &prompter;
    GappyParser parser(links);
    RowId folder = parser.Add(0, "DCIM", true);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) parser.Add(folder, name, false, "data");
    parser.partial = c.partial;
    parser.missing = c.missing;
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
    parser.stopFlag = c.stop;

    test::TempDir out;
    SaveRequest request;
    request.outputFolder = out.path().string();
    request.folder = folder;
    SaveReport report = RunSave(parser, request, prompter, progress);
    ASSERT_FALSE(prompter.informed.empty());
    const Event& end = prompter.informed.back();
    EXPECT_EQ(end.step, Step::SaveEnded);
    EXPECT_EQ(end.count, c.whole);
    EXPECT_EQ(end.total, 3);
    EXPECT_EQ(end.lines, c.lines);
    EXPECT_EQ(OutcomeOf(end), c.outcome);
    EXPECT_EQ(report.failed, c.failed);
    EXPECT_EQ(report.partial, c.partialCount);
    EXPECT_EQ(report.stopped, c.stop);
}

INSTANTIATE_TEST_SUITE_P(
    Saves, SaveEnd,
    ::testing::Values(
        Case{"whole", {}, {}, false, 3, {}, Outcome::Done, 0, 0},
        Case{"partial", {"b.jpg"}, {}, false, 2, {}, Outcome::Warning, 0, 1},
        Case{"failed", {}, {"c.jpg"}, false, 2, {"c.jpg: no data could be read"}, Outcome::Warning, 1, 0},
        Case{"stopped", {}, {}, true, 0, {}, Outcome::Stopped, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// One file saved by a double click says so when it is not whole, whatever the
// kind of volume.
TEST(SaveOneFile, APartOrNothingOfTheFileIsSaid) {
    struct One {
        const char* name;
        bool tellPath;
        ExtractStatus status;
        Step told;           // None: nothing
        std::string detail;  // the path told, or why it was not saved
        std::int64_t partial;
    };
    test::TempDir out;
    const std::string dumped = out.path().string() + "/";
    const One cases[] = {
        {"whole.jpg", false, ExtractStatus::Ok, Step::None, "", 0},
        {"whole2.jpg", true, ExtractStatus::Ok, Step::FileSaved, dumped + "whole2.jpg", 0},
        {"gap.jpg", false, ExtractStatus::Partial, Step::FileSaved, "", 1},
        {"gap2.jpg", true, ExtractStatus::Partial, Step::FileSaved, dumped + "gap2.jpg", 1},
        {"gone.jpg", true, ExtractStatus::Failed, Step::FileNotSaved, "gone.jpg: no data could be read", 0},
    };
    NullProgress progress;
    ParserLinks links;
    links.progress = &progress;
    GappyParser parser(links);
    std::vector<RowId> rows;
    for (const One& c : cases) rows.push_back(parser.Add(0, c.name, false, "data"));
    parser.partial = {"gap.jpg", "gap2.jpg"};
    parser.missing = {"gone.jpg"};
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        RecordingPrompter prompter;
        EXPECT_EQ(SaveOneFile(parser, rows[i], out.path().string(), "", prompter, cases[i].tellPath), cases[i].status);
        if (cases[i].told == Step::None) {
            EXPECT_TRUE(prompter.informed.empty());
            continue;
        }
        ASSERT_EQ(prompter.informed.size(), 1u);
        const Event& told = prompter.informed[0];
        EXPECT_EQ(told.step, cases[i].told);
        EXPECT_EQ(told.name, cases[i].name);
        EXPECT_EQ(told.detail, cases[i].detail);
        EXPECT_EQ(told.partial, cases[i].partial);
    }
}

}  // namespace
}  // namespace tarnwell
