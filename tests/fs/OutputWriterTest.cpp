#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "core/FileTime.h"
#include "core/Sha256.h"
#include "fs/OutputWriter.h"
#include "fs/SavePlan.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

TEST(OutputWriter, SafeNames) {
    struct Case {
        std::string raw, safe;
    };
    const std::vector<Case> cases = {
        {"IMG_0001.JPG", "IMG_0001.JPG"},
        {"a/b", "a_b"},
        {"../../x", ".._.._x"},
        {".", "_"},
        {"..", "__"},
        {"", "_"},
        {std::string("nul\0in", 6), "nul_in"},
        {"tab\there\x7F", "tab_here_"},
        {"caf\xE9.txt", "caf\xEF\xBF\xBD.txt"},  // a Latin-1 byte is not UTF-8
        {"Grüße.txt", "Grüße.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(OutputWriter::SafeName(c.raw), c.safe) << c.raw;

    std::string longName(300, 'x');
    longName += ".jpeg";
    std::string cut = OutputWriter::SafeName(longName);
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg") << "the extension survives shortening";
    std::string wide;
    for (int i = 0; i < 200; ++i) wide += "é";  // 400 bytes
    EXPECT_LE(OutputWriter::SafeName(wide).size(), 255u);
    EXPECT_EQ(OutputWriter::SafeName(OutputWriter::SafeName(wide)), OutputWriter::SafeName(wide))
        << "no UTF-8 sequence is split";

    EXPECT_EQ(OutputWriter::NumberedName("photo.jpg", 2), "photo (2).jpg");
    EXPECT_EQ(OutputWriter::NumberedName("README", 3), "README (3)");
    EXPECT_EQ(OutputWriter::NumberedName(".profile", 2), ".profile (2)");
    EXPECT_EQ(OutputWriter::NumberedName(cut, 12).size(), 255u);
}

TEST(OutputWriter, SameNamesAllSurviveAndNothingLeavesTheRoot) {
    test::TempDir dir;
    OutputWriter writer((dir / "out").string());
    ASSERT_FALSE(writer.Problem());
    auto dcim = writer.MakeFolder(writer.Root(), "DCIM");
    auto dcim2 = writer.MakeFolder(writer.Root(), "DCIM");
    auto up = writer.MakeFolder(writer.Root(), "..");
    ASSERT_TRUE(dcim && dcim2 && up);
    EXPECT_EQ(dcim->relativePath, "DCIM");
    EXPECT_EQ(dcim2->relativePath, "DCIM (2)");
    EXPECT_EQ(up->relativePath, "__");

    for (const char* content : {"live", "deleted"}) {
        auto f = writer.CreateFile(*dcim, "IMG_0001.JPG");
        ASSERT_TRUE(f);
        ASSERT_TRUE(f->Write(content, std::strlen(content)));
        EXPECT_TRUE(writer.FinishFile(std::move(f), {}));
    }
    auto evil = writer.CreateFile(*up, "../../escape.txt");
    ASSERT_TRUE(evil);
    EXPECT_EQ(evil->RelativePath(), "__/.._.._escape.txt");
    EXPECT_TRUE(writer.FinishFile(std::move(evil), {}));

    auto slurp = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(slurp(dir / "out/DCIM/IMG_0001.JPG"), "live");
    EXPECT_EQ(slurp(dir / "out/DCIM/IMG_0001 (2).JPG"), "deleted");
    EXPECT_EQ(writer.FilesWritten(), 3u);
    EXPECT_EQ(writer.FilesFailed(), 0u);
    EXPECT_EQ(writer.BytesWritten(), 11u);
    // Nothing at all was made beside the output folder.
    std::vector<std::string> outside;
    for (const auto& e : fs::directory_iterator(dir.path())) outside.push_back(e.path().filename().string());
    EXPECT_EQ(outside, std::vector<std::string>{"out"});
}

TEST(OutputWriter, SetsTimesUtcAndLocal) {
    test::TempDir dir;
    OutputWriter writer((dir / "out").string());
    auto f = writer.CreateFile(writer.Root(), "a.txt");
    ASSERT_TRUE(f);
    OutputTimes t;
    t.modified = FileTime::Utc(CivilToSeconds(2024, 6, 1, 11, 1, 0));
    t.accessed = FileTime::Utc(CivilToSeconds(2024, 6, 2, 0, 0, 0));
    ASSERT_TRUE(writer.FinishFile(std::move(f), t));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, CivilToSeconds(2024, 6, 1, 11, 1, 0));
    EXPECT_EQ(st.st_atime, CivilToSeconds(2024, 6, 2, 0, 0, 0));

    // A local time is read in the machine's zone.
    auto g = writer.CreateFile(writer.Root(), "b.txt");
    OutputTimes local;
    local.modified = FileTime::Local(CivilToSeconds(2024, 1, 15, 8, 30, 0));
    ASSERT_TRUE(writer.FinishFile(std::move(g), local));
    ASSERT_EQ(::stat((dir / "out/b.txt").c_str(), &st), 0);
    std::tm parts{};
    time_t m = st.st_mtime;
    localtime_r(&m, &parts);
    EXPECT_EQ(parts.tm_year + 1900, 2024);
    EXPECT_EQ(parts.tm_hour, 8);
    EXPECT_EQ(parts.tm_min, 30);
}

TEST(OutputWriter, CountsWhatCannotBeWritten) {
    test::TempDir dir;
    dir.Write("plainfile", "x");
    OutputWriter blocked((dir / "plainfile/out").string());
    ASSERT_TRUE(blocked.Problem());
    EXPECT_NE(blocked.Problem()->find(std::strerror(ENOTDIR)), std::string::npos) << *blocked.Problem();

    // A folder the writer made that vanishes, or is swapped for a link to
    // elsewhere, under it: the file fails and nothing is written through the link.
    struct Case {
        const char* what;
        std::function<void(const fs::path& folder)> change;
    };
    const std::vector<Case> cases = {
        {"vanished", [](const fs::path& f) { fs::remove(f); }},
        {"link", [&dir](const fs::path& f) {
             fs::remove(f);
             fs::create_directories(dir / "elsewhere");
             fs::create_directory_symlink(dir / "elsewhere", f);
         }},
    };
    for (const auto& c : cases) {
        OutputWriter writer((dir / ("out-" + std::string(c.what))).string());
        auto sub = writer.MakeFolder(writer.Root(), "gone");
        ASSERT_TRUE(sub) << c.what;
        c.change(dir / ("out-" + std::string(c.what)) / "gone");
        EXPECT_FALSE(writer.CreateFile(*sub, "x.txt")) << c.what;
        EXPECT_EQ(writer.FilesFailed(), 1u) << c.what;
        ASSERT_EQ(writer.Errors().size(), 1u) << c.what;
        EXPECT_NE(writer.Errors()[0].find("gone/x.txt"), std::string::npos) << c.what;
    }
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

// Nothing exists until the first folder or file goes in: a refused or empty
// run leaves no trace, and the missing parents are made with the root.
TEST(OutputWriter, MakesNothingBeforeTheFirstFolder) {
    test::TempDir dir;
    dir.Write("image.img", std::string(4096, '\0'));
    {
        OutputWriter writer((dir / "a/b/out").string());
        EXPECT_FALSE(writer.Problem());
        EXPECT_FALSE(writer.RefuseSource((dir / "image.img").string())) << "an image not attached is never written to";
        EXPECT_EQ(writer.Root().relativePath, "");
    }
    EXPECT_FALSE(fs::exists(dir / "a"));
    OutputWriter writer((dir / "a/b/out").string());
    auto f = writer.CreateFile(writer.Root(), "x.txt");
    ASSERT_TRUE(f);
    EXPECT_TRUE(writer.FinishFile(std::move(f), {}));
    EXPECT_TRUE(fs::is_regular_file(dir / "a/b/out/x.txt"));
}

// Raises the soft limit of open files for a scope, and puts it back.
class FileLimit {
public:
    explicit FileLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        ok_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(OutputWriter, OpenHandlesDoNotGrowWithTheTree) {
    constexpr int kLimit = 64, kWide = 150, kDeep = 150;
    test::TempDir dir;
    SilentPrompter quiet;
    ParserLinks links;
    links.prompter = &quiet;
    test::FakeParser parser(links);
    for (int i = 0; i < kWide; ++i) parser.Add(parser.Add(0, "wide" + std::to_string(i), true), "f.txt", false, "w");
    RowId at = 0;
    for (int i = 0; i < kDeep; ++i) {
        at = parser.Add(at, "d", true);
        parser.Add(at, "f" + std::to_string(i) + ".txt", false, "d");
        parser.Add(at, "g.txt", false, "g");  // a second file after the folder's first child
    }
    parser.Scan(RecoveryMode::Standard);

    OutputWriter writer((dir / "out").string());
    SaveSummary saved;
    {
        FileLimit limit(kLimit);
        ASSERT_TRUE(limit.ok());
        std::size_t before = OpenDescriptors();
        saved = parser.SaveFolder(parser.Root(), writer, writer.Root());
        EXPECT_LE(OpenDescriptors(), before + OutputWriter::kOpenFolders + 2);
    }  // the checks below walk the tree with handles of their own
    EXPECT_EQ(saved.files, static_cast<std::uint64_t>(kWide + 2 * kDeep));
    EXPECT_EQ(writer.FilesFailed(), 0u) << (writer.Errors().empty() ? "" : writer.Errors()[0]);
    EXPECT_EQ(writer.FilesWritten(), static_cast<std::uint64_t>(kWide + 2 * kDeep));
    std::size_t onDisk = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
        if (e.is_regular_file()) ++onDisk;
    EXPECT_EQ(onDisk, static_cast<std::size_t>(kWide + 2 * kDeep));
    fs::path deepest = dir / "out";
    for (int i = 0; i < kDeep; ++i) deepest /= "d";
    EXPECT_TRUE(fs::is_regular_file(deepest / ("f" + std::to_string(kDeep - 1) + ".txt")));
    EXPECT_TRUE(fs::is_regular_file(deepest / "g.txt"));
}

// A parser whose files are written as scripts of data and holes, and that
// can run a hook between two pieces (to stop a save mid-file).
class ScriptedParser : public test::FakeParser {
public:
    struct Piece {
        std::string data;        // written when not empty
        std::uint64_t hole = 0;  // else a hole of this many bytes
        std::uint64_t unreadable = 0;
    };
    using FakeParser::FakeParser;
    std::map<RowId, std::vector<Piece>> scripts;
    std::map<RowId, ExtractStatus> statuses;
    std::function<void(std::size_t piece)> between;

    ExtractStatus ExtractData(RowId row, FileSink& sink) override {
        auto it = scripts.find(row);
        if (it == scripts.end()) return FakeParser::ExtractData(row, sink);
        for (std::size_t i = 0; i < it->second.size(); ++i) {
            if (between) between(i);
            const Piece& p = it->second[i];
            bool ok = p.unreadable > 0 ? sink.WriteUnreadable(p.unreadable)
                      : p.data.empty() ? sink.WriteHole(p.hole)
                                       : sink.Write(p.data.data(), p.data.size());
            if (!ok) return ExtractStatus::WriteFailed;
        }
        auto s = statuses.find(row);
        return s == statuses.end() ? ExtractStatus::Ok : s->second;
    }
};

using test::Slurp;

TEST(OutputWriter, HolesStayHoles) {
    constexpr std::uint64_t kTiB = std::uint64_t{1} << 40;
    constexpr std::size_t kMiB = 1 << 20;
    struct Case {
        const char* name;
        std::vector<ScriptedParser::Piece> pieces;
        bool hashing;
        std::uint64_t size;
        std::string expected;  // the bytes, for the small cases
    };
    const std::vector<Case> cases = {
        {"tib.bin", {{"", kTiB}}, false, kTiB, ""},
        {"middle.bin", {{"head"}, {"", kMiB}, {"tail"}}, true, kMiB + 8, "head" + std::string(kMiB, '\0') + "tail"},
        {"end.bin", {{"data"}, {"", kMiB}}, true, kMiB + 4, "data" + std::string(kMiB, '\0')},
        {"start.bin", {{"", kMiB}, {"x"}}, true, kMiB + 1, std::string(kMiB, '\0') + "x"},
    };
    test::TempDir dir;
    SilentPrompter quiet;
    ParserLinks links;
    links.prompter = &quiet;
    for (const auto& c : cases) {
        ScriptedParser parser(links);
        RowId row = parser.Add(0, c.name, false);
        parser.scripts[row] = c.pieces;
        parser.Scan(RecoveryMode::Standard);
        OutputWriter writer((dir / "out").string());
        writer.SetHashing(c.hashing);
        EXPECT_EQ(parser.ExtractFile(row, writer, writer.Root()), ExtractStatus::Ok) << c.name;
        auto done = writer.TakeFinished();
        ASSERT_TRUE(done && done->ok) << c.name;
        EXPECT_EQ(done->bytes, c.size) << c.name;
        struct stat st {};
        ASSERT_EQ(::stat((dir / "out" / c.name).c_str(), &st), 0) << c.name;
        EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), c.size) << c.name;
        // A hole costs no blocks: only the bytes written take room.
        EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, 128u * 1024) << c.name;
        if (c.expected.empty()) continue;
        EXPECT_EQ(Slurp(dir / "out" / c.name), c.expected) << c.name;
        Sha256 sha;
        sha.Update(c.expected.data(), c.expected.size());
        EXPECT_EQ(done->sha256, sha.HexDigest()) << c.name << ": the digest covers the hole's zeros";
    }
}

// A file that could not be written whole is removed and counted as failed
// once, with the reason; what the output accepted is not left under its name.
TEST(OutputWriter, AFileNotWrittenWholeIsRemoved) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        const char* name;
        std::vector<ScriptedParser::Piece> pieces;
        ExtractStatus parserSays;
        ExtractStatus expected;
        const char* reason;
    };
    const std::vector<Case> cases = {
        // More than the process may write (RLIMIT_FSIZE below): the write itself fails.
        {"too-big.bin", {{std::string(200000, 'b')}}, ExtractStatus::Ok, ExtractStatus::WriteFailed,
         std::strerror(EFBIG)},
        // Sizes no file system holds: past the largest offset, or wrapping.
        {"huge-hole.bin", {{"x"}, {"", kMax / 2}}, ExtractStatus::Ok, ExtractStatus::WriteFailed,
         std::strerror(EFBIG)},
        {"wrapping.bin", {{"x"}, {"", kMax}}, ExtractStatus::Ok, ExtractStatus::WriteFailed, std::strerror(EFBIG)},
        {"no-data.bin", {{"\0\0"}}, ExtractStatus::Failed, ExtractStatus::Failed, "no data could be read"},
    };
    test::TempDir dir;
    SilentPrompter quiet;
    ParserLinks links;
    links.prompter = &quiet;
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 65536;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (const auto& c : cases) {
        ScriptedParser parser(links);
        RowId row = parser.Add(0, c.name, false);
        parser.scripts[row] = c.pieces;
        parser.statuses[row] = c.parserSays;
        parser.Scan(RecoveryMode::Standard);
        OutputWriter writer((dir / "out").string());
        EXPECT_EQ(parser.ExtractFile(row, writer, writer.Root()), c.expected) << c.name;
        EXPECT_FALSE(fs::exists(dir / "out" / c.name)) << c.name << " was left behind";
        EXPECT_EQ(writer.FilesFailed(), 1u) << c.name;
        EXPECT_EQ(writer.FilesWritten(), 0u) << c.name;
        ASSERT_EQ(writer.Errors().size(), 1u) << c.name;
        EXPECT_NE(writer.Errors()[0].find(c.reason), std::string::npos) << writer.Errors()[0];
        auto done = writer.TakeFinished();
        ASSERT_TRUE(done) << c.name;
        EXPECT_FALSE(done->ok);
        EXPECT_EQ(done->error, c.reason);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    // Given up on without FinishFile: not the file either.
    OutputWriter writer((dir / "out").string());
    auto dropped = writer.CreateFile(writer.Root(), "dropped.bin");
    ASSERT_TRUE(dropped && dropped->Write("abc", 3));
    dropped.reset();
    EXPECT_FALSE(fs::exists(dir / "out/dropped.bin"));
}

// Bytes the source could not give make the file partial, and are told.
TEST(OutputWriter, UnreadableRunsMakeAFilePartial) {
    test::TempDir dir;
    SilentPrompter quiet;
    ParserLinks links;
    links.prompter = &quiet;
    ScriptedParser parser(links);
    RowId row = parser.Add(0, "cut.bin", false);
    parser.scripts[row] = {{"abcd"}, {"", 0, 4096}};
    parser.Scan(RecoveryMode::Standard);
    OutputWriter writer((dir / "out").string());
    EXPECT_EQ(parser.ExtractFile(row, writer, writer.Root()), ExtractStatus::Partial);
    auto done = writer.TakeFinished();
    ASSERT_TRUE(done && done->ok);
    EXPECT_EQ(done->unreadable, 4096u);
    EXPECT_EQ(fs::file_size(dir / "out/cut.bin"), 4100u);
}

// A stop while a file is written: it is removed, counted neither as written
// nor as failed, and the save ends there. Either stop is heard: the writer's
// (the command line's Ctrl-C) and the parser's (the wizard's Stop).
TEST(OutputWriter, StopRemovesTheFileBeingWritten) {
    for (bool viaWriter : {true, false}) {
        SCOPED_TRACE(viaWriter ? "the writer's stop" : "the parser's stop");
        test::TempDir dir;
        SilentPrompter quiet;
        JobControl control;
        ParserLinks links;
        links.prompter = &quiet;
        ScriptedParser parser(links);
        parser.Add(0, "first.txt", false, "whole");
        RowId big = parser.Add(0, "big.bin", false);
        parser.Add(0, "after.txt", false, "never");
        parser.scripts[big] = std::vector<ScriptedParser::Piece>(100, {std::string(4096, 'z')});
        parser.Scan(RecoveryMode::Standard);
        parser.between = [&](std::size_t piece) {
            if (piece != 10) return;
            if (viaWriter)
                control.RequestStop();
            else
                parser.stopFlag = true;
        };
        OutputWriter writer((dir / "out").string());
        writer.SetStop(&control);
        SaveResult saved = SavePlan(parser, {}).Run(writer, writer.Root(), NoProgress());
        EXPECT_TRUE(saved.stopped);
        EXPECT_EQ(Slurp(dir / "out/first.txt"), "whole");
        EXPECT_FALSE(fs::exists(dir / "out/big.bin")) << "left cut short under its name";
        EXPECT_FALSE(fs::exists(dir / "out/after.txt"));
        EXPECT_EQ(writer.FilesWritten(), 1u);
        EXPECT_EQ(writer.FilesFailed(), 0u);
        EXPECT_EQ(saved.attempted, 1u);
        EXPECT_EQ(saved.failed, 0u);
        ASSERT_EQ(saved.files.size(), 2u);
        EXPECT_EQ(saved.files[1].path, "big.bin");
        EXPECT_EQ(saved.files[1].status, SavedStatus::Stopped);
        EXPECT_TRUE(saved.files[1].output.empty());
    }
}

TEST(FileTime, IsoTexts) {
    EXPECT_EQ(IsoText(FileTime::Utc(CivilToSeconds(2024, 6, 1, 11, 1, 0))), "2024-06-01T11:01:00Z");
    EXPECT_EQ(IsoText(FileTime::Local(CivilToSeconds(1980, 1, 1, 0, 0, 0))), "1980-01-01T00:00:00");
    EXPECT_EQ(IsoText(FileTime::Utc(0, 500000000)), "1970-01-01T00:00:00.5Z");
    EXPECT_EQ(IsoText(FileTime::Utc(CivilToSeconds(1601, 1, 1, 0, 0, 0))), "1601-01-01T00:00:00Z");
    EXPECT_EQ(IsoText(FileTime{}), "");
}

}  // namespace
}  // namespace tarnwell
