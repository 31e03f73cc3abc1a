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
    std::string end;  // the last thing the user is told
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
    EXPECT_EQ(prompter.informed.back(), c.end);
    EXPECT_EQ(report.failed, c.failed);
    EXPECT_EQ(report.partial, c.partialCount);
    EXPECT_EQ(report.stopped, c.stop);
}

INSTANTIATE_TEST_SUITE_P(
    Saves, SaveEnd,
    ::testing::Values(
        Case{"whole", {}, {}, false, "work done", 0, 0},
        Case{"partial", {"b.jpg"}, {}, false, "Saving ended: 2 of 3 files written whole, 1 partial, 0 failed.", 0, 1},
        Case{"failed",
             {},
             {"c.jpg"},
             false,
             "Saving ended: 2 of 3 files written whole, 0 partial, 1 failed.\nc.jpg: no data could be read",
             1,
             0},
        Case{"stopped", {}, {}, true, "Saving stopped: 0 of 3 files written whole, 0 partial, 0 failed.", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// One file saved by a double click says so when it is not whole, whatever the
// kind of volume.
TEST(SaveOneFile, APartOrNothingOfTheFileIsSaid) {
    struct One {
        const char* name;
        bool tellPath;
        ExtractStatus status;
        std::string told;  // empty: nothing
    };
    test::TempDir out;
    const std::string dumped = "file is dumped in path  :  " + out.path().string() + "/";
    const One cases[] = {
        {"whole.jpg", false, ExtractStatus::Ok, ""},
        {"whole2.jpg", true, ExtractStatus::Ok, dumped + "whole2.jpg   "},
        {"gap.jpg", false, ExtractStatus::Partial,
         "The file gap.jpg was saved partly: some of its data could not be read and stands as zeros."},
        {"gap2.jpg", true, ExtractStatus::Partial,
         dumped + "gap2.jpg   \nThe file gap2.jpg was saved partly: some of its data could not be read and stands as zeros."},
        {"gone.jpg", true, ExtractStatus::Failed, "The file gone.jpg could not be saved: gone.jpg: no data could be read"},
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
        if (cases[i].told.empty())
            EXPECT_TRUE(prompter.informed.empty());
        else
            EXPECT_EQ(prompter.informed, std::vector<std::string>{cases[i].told});
    }
}

}  // namespace
}  // namespace tarnwell
