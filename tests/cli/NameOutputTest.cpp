// Names from disk on a terminal and in files: control characters never reach
// the terminal or split a record, and one matcher finds the same names for
// `search` and `recover --match`.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

using test::Lines;

// Raw name on disk, and how the listing shows it.
struct Name {
    std::string raw, shown;
};
const std::vector<Name>& Names() {
    static const std::vector<Name> names = {
        {"new\nline.txt", "new\\nline.txt"},
        {"esc\x1b[31mred.txt", "esc\\x1B[31mred.txt"},
        {"tab\there.txt", "tab\\there.txt"},
        {"del\x7f.txt", "del\\x7F.txt"},
        {"bell\a.txt", "bell\\x07.txt"},
        {"csi\xc2\x9b" "2J.txt", "csi\\u009B2J.txt"},
        {"back\\slash.txt", "back\\\\slash.txt"},
        {"zo\xc3\xab.txt", "zo\xc3\xab.txt"},
        {"\xc3\xa9milie.txt", "\xc3\xa9milie.txt"},
        {"plain.txt", "plain.txt"},
    };
    return names;
}

// An ext4 image made by mke2fs from a folder whose names hold control characters.
class ControlNames : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v mke2fs >/dev/null 2>&1") != 0) return;
        dir_ = new test::TempDir();
        fs::path src = *dir_ / "src";
        fs::create_directories(src / "dir\nnl");
        for (const auto& n : Names()) std::ofstream(src / n.raw) << "x";
        std::ofstream(src / "dir\nnl" / "in.txt") << "y";
        image_ = (*dir_ / "names.img").string();
        std::string cmd = "mke2fs -q -t ext4 -d '" + src.string() + "' '" + image_ + "' 4M >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) image_.clear();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (image_.empty()) GTEST_SKIP() << "mke2fs missing";
    }
    static test::TempDir* dir_;
    static std::string image_;
};
test::TempDir* ControlNames::dir_ = nullptr;
std::string ControlNames::image_;

// No byte of a control character but the line ends themselves.
void ExpectNoControlBytes(const std::string& out) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        bool control = (c < 0x20 && c != '\n') || c == 0x7F ||
                       (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xA0);
        EXPECT_FALSE(control) << "control byte " << int(c) << " at " << i << " in:\n" << out;
    }
}

TEST_F(ControlNames, ListAndSearchShowThemEscaped) {
    test::UnchangedGuard unchanged(image_);
    auto list = test::RunCli({"list", image_});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    ExpectNoControlBytes(list.out);
    auto lines = Lines(list.out);
    // Header, lost+found, the names, the folder and its file, the summary: one line each.
    EXPECT_EQ(lines.size(), Names().size() + 5) << list.out;
    for (const auto& n : Names()) {
        auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.size() >= n.shown.size() && l.compare(l.size() - n.shown.size(), n.shown.size(), n.shown) == 0;
        });
        EXPECT_NE(at, lines.end()) << n.shown << " in\n" << list.out;
    }
    EXPECT_NE(list.out.find("  dir\\nnl/in.txt\n"), std::string::npos) << list.out;

    auto search = test::RunCli({"search", image_, "\\.txt$"});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    ExpectNoControlBytes(search.out);
    EXPECT_EQ(Lines(search.out).size(), Names().size() + 1) << search.out;
    EXPECT_NE(search.out.find("esc\\x1B[31mred.txt\n"), std::string::npos) << search.out;
}

// JSON escapes them itself: the paths come back byte for byte.
TEST_F(ControlNames, JsonKeepsThemExactly) {
    auto r = test::RunCli({"list", image_, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> paths;
    for (const auto& line : Lines(r.out)) paths.insert(nlohmann::json::parse(line)["path"].get<std::string>());
    for (const auto& n : Names()) EXPECT_TRUE(paths.count(n.raw)) << n.shown;
    EXPECT_TRUE(paths.count("dir\nnl/in.txt"));
}

// One record a line, the names as fls -m writes them.
TEST_F(ControlNames, BodyfileRecordsStayOneLineAsFlsWritesThem) {
    auto json = test::RunCli({"list", image_, "--json"});
    auto r = test::RunCli({"list", image_, "--bodyfile"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    EXPECT_EQ(lines.size(), Lines(json.out).size());
    auto names = [](const std::vector<std::string>& records) {
        std::multiset<std::string> out;
        for (const auto& line : records) {
            auto a = line.find('|'), b = line.find('|', a + 1);
            std::string name = line.substr(a + 1, b - a - 1);
            if (name.find("$OrphanFiles") == std::string::npos) out.insert(name);
        }
        return out;
    };
    for (const auto& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 10) << line;
    auto ours = names(lines);
    EXPECT_TRUE(ours.count("/new^line.txt") && ours.count("/esc^[31mred.txt") && ours.count("/dir^nl/in.txt"));
    if (std::system("command -v fls >/dev/null 2>&1") != 0) GTEST_SKIP() << "fls (sleuthkit) not installed";
    std::string out = (dir_->path() / "fls.body").string();
    ASSERT_EQ(std::system(("fls -r -m / '" + image_ + "' > '" + out + "'").c_str()), 0);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(ours, names(Lines(text.str())));
}

// On a terminal the progress bar names the file being saved: escaped too.
TEST_F(ControlNames, ProgressOnATerminalShowsThemEscaped) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) missing";
    test::TempDir out;
    std::string log = (out / "tty.log").string();
    std::string cmd = "script -qec \"'" + test::CliPath() + "' recover '" + image_ + "' --out '" +
                      (out / "o").string() + "'\" /dev/null > '" + log + "' 2>&1 </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string tty = text.str();
    ASSERT_NE(tty.find("esc\\x1B[31mred.txt"), std::string::npos) << tty;
    // The bar's own redraw is the only escape sequence.
    for (std::string bar = "\r\033[K"; tty.find(bar) != std::string::npos;) tty.erase(tty.find(bar), bar.size());
    for (char& c : tty)
        if (c == '\r') c = '\n';
    ExpectNoControlBytes(tty);
}

// What search finds, recover --match writes, whatever the case of the pattern.
TEST_F(ControlNames, RecoverMatchFindsWhatSearchFinds) {
    struct Case {
        std::string pattern;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {"ZO\xc3\x8b", {"zo\xc3\xab.txt"}},
        {"^\xc3\x89MILIE", {"\xc3\xa9milie.txt"}},
        {"PLAIN\\.TXT$", {"plain.txt"}},
        {"zoe", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        auto search = test::RunCli({"search", image_, c.pattern, "--json"});
        ASSERT_EQ(search.exitCode, 0) << search.err;
        std::vector<std::string> found;
        for (const auto& line : Lines(search.out)) found.push_back(nlohmann::json::parse(line)["path"]);
        EXPECT_EQ(found, c.files);

        test::TempDir out;
        auto r = test::RunCli({"recover", image_, "--out", (out / "o").string(), "--match", c.pattern});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> written;
        if (fs::exists(out / "o"))
            for (const auto& e : fs::recursive_directory_iterator(out / "o"))
                if (e.is_regular_file()) written.push_back(fs::relative(e.path(), out / "o").string());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, c.files) << r.out << r.err;
    }
}

}  // namespace
}  // namespace tarnwell
