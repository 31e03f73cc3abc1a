// Exit codes: 0 done, 1 done with errors (unreadable sectors, output that could
// not be written, a stop), 2 bad usage or a source that cannot be opened.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CardExits : public ::testing::Test {
protected:
    void SetUp() override {
        card = test::ImagePath("sample-card");
        if (card.empty()) GTEST_SKIP() << "sample-card not committed";
    }
    std::string card;
};

// Every command that prints: stdout on a full disk is an error, said on stderr.
TEST_F(CardExits, AFailedWriteToStdoutIsAnError) {
    if (!std::ifstream("/dev/full")) GTEST_SKIP() << "no /dev/full";
    test::UnchangedGuard unchanged(card);
    const std::vector<std::vector<std::string>> commands = {
        {"list", card},
        {"list", card, "--json"},
        {"list", card, "--bodyfile"},
        {"search", card, "jpg"},
        {"volumes", card},
        {"candidates", card},
        {"carve", card},
        {"drives"},
        {"--help"},
    };
    test::TempDir dir;
    for (const auto& args : commands) {
        std::string cmd = Quote(test::CliPath());
        for (const auto& a : args) cmd += " " + Quote(a);
        std::string err = (dir / "err").string();
        cmd += " >/dev/full 2>" + Quote(err) + " </dev/null";
        int status = std::system(cmd.c_str());
        std::ifstream in(err);
        std::stringstream text;
        text << in.rdbuf();
        SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[args.size() - 1] : args[0]);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << text.str();
        EXPECT_NE(text.str().find("could not write the output"), std::string::npos) << text.str();
    }
}

// A mapfile that leaves two sectors of the first FAT unread: each command that
// reads them still shows what it could, says so, and exits 1.
TEST_F(CardExits, UnreadableSectorsMakeADoneRunWithErrors) {
    test::UnchangedGuard unchanged(card);
    test::TempDir dir;
    const unsigned long long size = 64ull << 20, bad = 32 * 512;
    char map[200];
    std::snprintf(map, sizeof map, "# two bad sectors\n0x0 +\n0x0 0x%llx +\n0x%llx 0x400 -\n0x%llx 0x%llx +\n", bad,
                  bad, bad + 1024, size - bad - 1024);
    dir.Write("card.map", map);
    std::string mapfile = (dir / "card.map").string();
    struct Case {
        std::vector<std::string> args;
        std::string said;  // on stderr
        std::string out;   // on stdout
    };
    const std::vector<Case> cases = {
        {{"list", card}, "2 sectors could not be read", "IMG_0001.JPG"},
        {{"list", card, "--json"}, "2 sectors could not be read", "IMG_0001.JPG"},
        {{"search", card, "IMG_0001"}, "2 sectors could not be read", "IMG_0001.JPG"},
        {{"candidates", card}, "sectors could not be read", "TABLE"},
        {{"carve", card}, "2 sectors unreadable", ".jpg"},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"--mapfile", mapfile});
        auto r = test::RunCli(args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    // The same runs without the mapfile are clean.
    for (const auto& c : cases) {
        auto r = test::RunCli(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args[0] << r.err;
    }
}

// The pattern is checked before the source is opened, as --match is.
TEST_F(CardExits, SearchRefusesABadPatternBeforeItScans) {
    for (const std::string& source : {card, std::string("no-such-image.img")}) {
        auto r = test::RunCli({"search", source, "(unclosed"});
        EXPECT_EQ(r.exitCode, 2) << source << r.err;
        EXPECT_NE(r.err.find("not a regular expression: (unclosed"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Scanning processing done"), std::string::npos) << "scanned first: " << r.err;
        EXPECT_EQ(r.err.find("no-such-image"), std::string::npos) << "opened first: " << r.err;
    }
}

}  // namespace
}  // namespace tarnwell
