#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::Lines;

class OnTheCard : public ::testing::Test {
protected:
    void SetUp() override {
        card = test::ImagePath("sample-card");
        if (card.empty()) GTEST_SKIP();
    }
    std::string card;
};

TEST_F(OnTheCard, SearchFindsNamesWithTheirPaths) {
    test::UnchangedGuard unchanged(card);
    struct Case {
        std::string pattern;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {"img_000[12]", {"DCIM/100CANON/IMG_0001.JPG", "DCIM/100CANON/IMG_0002.JPG"}},
        {"_mg|NOTES", {"DCIM/100CANON/_MG_0003.JPG", "DCIM/100CANON/_MG_0006.JPG", "MISC/notes.txt"}},
        {"\\.png$", {}},
    };
    for (const auto& c : cases) {
        auto r = test::RunCli({"search", card, c.pattern, "--json"});
        ASSERT_EQ(r.exitCode, 0) << c.pattern << r.err;
        std::vector<std::string> paths;
        for (const auto& line : Lines(r.out)) paths.push_back(nlohmann::json::parse(line)["path"]);
        EXPECT_EQ(paths, c.paths) << c.pattern;
        EXPECT_NE(r.err.find(std::to_string(c.paths.size()) + " found"), std::string::npos) << r.err;
    }
    auto bad = test::RunCli({"search", card, "("});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("not a regular expression: ("), std::string::npos) << bad.err;
}

TEST_F(OnTheCard, BodyfileLinesAreWhatMactimeReads) {
    auto r = test::RunCli({"list", card, "--bodyfile"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 12u);
    // MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime
    bool sawDeleted = false;
    for (const auto& line : lines) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 10) << line;
        sawDeleted |= line.find("/DCIM/100CANON/_MG_0003.JPG (deleted)|") != std::string::npos;
    }
    EXPECT_TRUE(sawDeleted);
    EXPECT_NE(r.out.find("0|/MISC/notes.txt|"), std::string::npos);
    if (std::system("command -v mactime >/dev/null 2>&1") != 0) GTEST_SKIP() << "mactime not installed";
    test::TempDir dir;
    dir.Write("body.txt", r.out);
    std::string cmd = "TZ=UTC mactime -b '" + (dir / "body.txt").string() + "' -d > '" + (dir / "timeline").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(dir / "timeline");
    std::string timeline((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(timeline.find("Sat Jun 01 2024 11:01:00,15444,m"), std::string::npos) << timeline;
}

}  // namespace
}  // namespace tarnwell
