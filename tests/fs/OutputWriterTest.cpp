#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <cstring>
#include <fstream>

#include "fs/FileTime.h"
#include "fs/OutputWriter.h"
#include "support/TempDir.h"

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
    EXPECT_TRUE(blocked.Problem());

    OutputWriter writer((dir / "out").string());
    auto sub = writer.MakeFolder(writer.Root(), "gone");
    ASSERT_TRUE(sub);
    fs::remove(dir / "out/gone");  // the folder vanishes under the writer
    EXPECT_FALSE(writer.CreateFile(*sub, "x.txt"));
    EXPECT_EQ(writer.FilesFailed(), 1u);
    ASSERT_EQ(writer.Errors().size(), 1u);
    EXPECT_NE(writer.Errors()[0].find("gone/x.txt"), std::string::npos);
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
