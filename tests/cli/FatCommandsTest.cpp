// `tarnwell list` and `tarnwell recover` on the FAT images: the listing of the
// CLI contract, and recovered bytes and times against The Sleuth Kit's icat
// (NAME.icat, recorded by the image script).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/FatFixture.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::string Md5(const fs::path& file) {
    std::string cmd = "md5sum '" + file.string() + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return {};
    char buf[64] = {};
    std::size_t n = std::fread(buf, 1, 32, p);
    ::pclose(p);
    return std::string(buf, n);
}

// DOS times are local: with TZ=UTC the recovered times equal TSK's seconds.
class UtcZone {
public:
    UtcZone() {
        const char* tz = std::getenv("TZ");
        if (tz) old_ = tz, had_ = true;
        ::setenv("TZ", "UTC", 1);
    }
    ~UtcZone() {
        if (had_) ::setenv("TZ", old_.c_str(), 1);
        else ::unsetenv("TZ");
    }

private:
    std::string old_;
    bool had_ = false;
};

struct IcatRow {
    bool deleted;
    std::uint64_t size, mtime, bytes;
    std::string md5, path;
};

std::vector<IcatRow> IcatRows(const std::string& name) {
    std::vector<IcatRow> rows;
    std::istringstream in(test::ReadImageFile(name + ".icat"));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() != 7) continue;
        rows.push_back({f[1] == "1", std::stoull(f[2]), std::stoull(f[3]), std::stoull(f[4]), f[5], f[6]});
    }
    return rows;
}

// Our path for a path fls gives: the same, a recycled file's recorded name,
// or (for names fls cut after 15 long-name slots) the one name of that folder
// that begins with it.
std::string OurPath(const std::string& theirs, const std::vector<std::string>& ours) {
    if (std::find(ours.begin(), ours.end(), theirs) != ours.end()) return theirs;
    static const std::map<std::string, std::string> recycled = {
        {"$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-1001/$RX1Y2Z3.jpg",
         "$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-1001/Birthday cake.jpg"},
        {"$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-1002/$RQ7W8E9.pdf",
         "$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-1002/Tax return 2023.pdf"},
        {"$RECYCLE.BIN/$RAB12CD.txt", "$RECYCLE.BIN/plan.txt"},
    };
    if (auto it = recycled.find(theirs); it != recycled.end()) return it->second;
    std::string found;
    for (const auto& p : ours)
        if (p.size() > theirs.size() && p.rfind(theirs, 0) == 0 && p.find('/', theirs.size()) == std::string::npos)
            found = found.empty() ? p : "(ambiguous)";
    return found;
}

// Recovers the whole volume and checks every file icat gives whole.
void ExpectIcatBytes(const std::string& name, int expectedExit) {
    UtcZone utc;
    std::string image = test::ImagePath(name);
    ASSERT_FALSE(image.empty()) << name;
    test::UnchangedGuard unchanged(image);
    test::TempDir dir;
    auto list = test::RunCli({"list", image, "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::vector<std::string> paths;
    for (const auto& j : JsonLines(list.out)) paths.push_back(j["path"]);
    auto r = test::RunCli({"recover", image, "--out", (dir / "out").string()});
    EXPECT_EQ(r.exitCode, expectedExit) << r.out << r.err;

    std::vector<IcatRow> rows = IcatRows(name);
    ASSERT_FALSE(rows.empty()) << name;
    int compared = 0;
    for (const IcatRow& row : rows) {
        if (row.path.rfind("$OrphanFiles/", 0) == 0) continue;
        bool whole = row.bytes == row.size;
        if (row.deleted && !whole) continue;  // icat cannot give it either
        std::string ours = OurPath(row.path, paths);
        ASSERT_FALSE(ours.empty() || ours == "(ambiguous)") << name << ": " << row.path;
        fs::path file = dir / "out" / ours;
        ASSERT_TRUE(fs::exists(file)) << name << ": " << ours << " was not written";
        EXPECT_EQ(fs::file_size(file), row.size) << ours;
        EXPECT_EQ(Md5(file), row.md5) << name << ": " << ours;
        if (!row.deleted) {
            struct stat st {};
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_EQ(static_cast<std::uint64_t>(st.st_mtime), row.mtime) << name << ": " << ours;
        }
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(FatCommands, RecoveredBytesAndTimesMatchIcat) {
    ExpectIcatBytes("sample-card", 0);
    ExpectIcatBytes("fat12-bigcluster", 0);
    ExpectIcatBytes("fat32-card", 0);
    ExpectIcatBytes("fat32-rootmoved", 0);
    // Both hold a deleted file whose first cluster another file took over:
    // it cannot be had, which the exit code says.
    ExpectIcatBytes("fat12-floppy", 1);
    ExpectIcatBytes("fat16-stick", 1);
}

TEST(FatCommands, ListJsonFollowsTheContract) {
    std::string image = test::ImagePath("sample-card");
    auto r = test::RunCli({"list", image, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 12u);
    std::vector<std::string> paths;
    for (const auto& j : lines) paths.push_back(j["path"]);
    EXPECT_EQ(paths[0], "DCIM");
    EXPECT_EQ(paths[1], "DCIM/100CANON");
    EXPECT_EQ(paths[2], "DCIM/100CANON/IMG_0001.JPG");
    EXPECT_EQ(paths[10], "MISC");
    EXPECT_EQ(paths[11], "MISC/notes.txt");
    const auto& img1 = lines[2];
    std::vector<std::string> keys;
    std::istringstream in(r.out);
    std::string line;
    for (int i = 0; i < 3; ++i) std::getline(in, line);
    auto ordered = nlohmann::ordered_json::parse(line);
    for (auto it = ordered.begin(); it != ordered.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "type", "deleted", "orphan", "size", "created", "modified",
                                              "accessed", "attributes", "id"}));
    EXPECT_EQ(img1["type"], "file");
    EXPECT_EQ(img1["deleted"], false);
    EXPECT_EQ(img1["size"], 15444);
    EXPECT_EQ(img1["modified"], "2024-06-01T11:01:00") << "a local time has no zone";
    EXPECT_EQ(img1["attributes"], "-A");
    EXPECT_TRUE(img1["id"].is_string());
    EXPECT_EQ(lines[4]["path"], "DCIM/100CANON/_MG_0003.JPG");
    EXPECT_EQ(lines[4]["deleted"], true);
    EXPECT_EQ(lines[0]["type"], "dir");

    auto text = test::RunCli({"list", image});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("DCIM/100CANON/_MG_0003.JPG  (deleted)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("DCIM/100CANON/"), std::string::npos);
}

TEST(FatCommands, FormattedCardYieldsItsFilesWithFormatted) {
    UtcZone utc;
    std::string image = test::ImagePath("fat32-formatted");
    test::TempDir dir;
    auto plain = test::RunCli({"list", image, "--json"});
    ASSERT_EQ(plain.exitCode, 0);
    EXPECT_EQ(JsonLines(plain.out).size(), 1u) << "without --formatted, only the new file";

    auto listed = test::RunCli({"list", image, "--formatted", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    int orphans = 0;
    for (const auto& j : JsonLines(listed.out))
        if (j["orphan"] == true) ++orphans;
    EXPECT_EQ(orphans, 5);

    auto r = test::RunCli({"recover", image, "--formatted", "--out", (dir / "out").string()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::map<std::string, std::string> ours;  // md5 -> file
    for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
        if (e.is_regular_file()) ours[Md5(e.path())] = e.path().lexically_relative(dir / "out").string();
    int found = 0;
    for (const IcatRow& row : IcatRows("fat32-formatted")) {
        if (row.path.rfind("$OrphanFiles/", 0) != 0) continue;
        ASSERT_TRUE(ours.count(row.md5)) << row.path << " was not recovered";
        EXPECT_EQ(ours[row.md5].rfind("ORPHAN ENTRY/", 0), 0u) << ours[row.md5];
        ++found;
    }
    EXPECT_EQ(found, 5);
    EXPECT_TRUE(fs::exists(dir / "out/ORPHAN ENTRY/Shopping list.txt"));
    EXPECT_TRUE(fs::exists(dir / "out/NEW.TXT"));
}

TEST(FatCommands, PathMatchAndNoDeleted) {
    std::string image = test::ImagePath("sample-card");
    test::TempDir dir;
    auto one = test::RunCli({"recover", image, "--out", (dir / "a").string(), "--path", "DCIM/100CANON"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_TRUE(fs::exists(dir / "a/IMG_0001.JPG")) << "a folder's contents go straight into the output folder";
    EXPECT_TRUE(fs::exists(dir / "a/_MG_0003.JPG"));

    auto live = test::RunCli({"recover", image, "--out", (dir / "b").string(), "--no-deleted"});
    EXPECT_EQ(live.exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "b/DCIM/100CANON/IMG_0001.JPG"));
    EXPECT_FALSE(fs::exists(dir / "b/DCIM/100CANON/_MG_0003.JPG"));

    auto match = test::RunCli({"recover", image, "--out", (dir / "c").string(), "--match", "\\.txt$"});
    EXPECT_EQ(match.exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "c/MISC/notes.txt"));
    EXPECT_FALSE(fs::exists(dir / "c/DCIM")) << "folders are made only for matching files";

    auto file = test::RunCli({"recover", image, "--out", (dir / "d").string(), "--path", "misc/NOTES.TXT"});
    EXPECT_EQ(file.exitCode, 0) << file.err;
    EXPECT_TRUE(fs::exists(dir / "d/notes.txt")) << "a path is found without regard to case";

    auto missing = test::RunCli({"recover", image, "--out", (dir / "e").string(), "--path", "NOPE"});
    EXPECT_EQ(missing.exitCode, 2);
    auto badRegex = test::RunCli({"recover", image, "--out", (dir / "f").string(), "--match", "("});
    EXPECT_EQ(badRegex.exitCode, 2);
}

TEST(FatCommands, ModesItCannotRunAndSourcesThatAreNoVolume) {
    std::string image = test::ImagePath("sample-card");
    auto deep = test::RunCli({"list", image, "--mode", "deep"});
    EXPECT_EQ(deep.exitCode, 2);
    EXPECT_NE(deep.err.find("not available"), std::string::npos) << deep.err;
    // The advanced scan runs on FAT now (tests/advanced); on an intact card it lists the same folders.
    auto advanced = test::RunCli({"list", image, "--mode", "advanced"});
    EXPECT_EQ(advanced.exitCode, 0) << advanced.err;
    EXPECT_NE(advanced.out.find("DCIM/"), std::string::npos) << advanced.out;

    test::TempDir dir;
    dir.Write("zeros.img", std::string(1 << 16, '\0'));
    auto none = test::RunCli({"list", (dir / "zeros.img").string()});
    EXPECT_EQ(none.exitCode, 2);
    auto forced = test::RunCli({"list", (dir / "zeros.img").string(), "--fs", "fat32"});
    EXPECT_EQ(forced.exitCode, 2);
    EXPECT_NE(forced.err.find("error: not a FAT32 file system"), std::string::npos) << forced.err;
    auto noSource = test::RunCli({"list", (dir / "absent.img").string()});
    EXPECT_EQ(noSource.exitCode, 2);
}

TEST(FatCommands, NamesFromDiskNeverLeaveTheOutputFolder) {
    test::FatFixture f = test::FatFixture::Fat16();
    std::uint64_t at = f.RootOffset();
    std::uint32_t cluster = 10;
    for (const std::u16string& name : {std::u16string(u"../../x"), std::u16string(u"a/b"), std::u16string(u".."),
                                       std::u16string(u"/etc/passwd")}) {
        at = f.LongEntry(at, name, "NAME" + std::to_string(cluster) + "  TXT", 0x20, cluster, 3);
        f.Chain({cluster});
        f.Fill(cluster, 'z');
        ++cluster;
    }
    at = f.LongEntry(at, u"..", "DOTDOT     ", 0x10, 20, 0);  // a folder named ".."
    f.Chain({20});
    f.Dots(20, 0);
    f.LongEntry(f.ClusterOffset(20) + 64, u"../../../y", "Y       TXT", 0x20, 21, 3);
    f.Chain({21});
    test::TempDir dir;
    fs::create_directories(dir / "sandbox");
    {
        std::ofstream out(dir / "evil.img", std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    }
    auto r = test::RunCli({"recover", (dir / "evil.img").string(), "--out", (dir / "sandbox/out").string()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file()) written.push_back(e.path().lexically_relative(dir.path()).string());
    std::sort(written.begin(), written.end());
    std::vector<std::string> expected = {"evil.img",       "sandbox/out/.._.._x",           "sandbox/out/_etc_passwd",
                                         "sandbox/out/__", "sandbox/out/__ (2)/.._.._.._y", "sandbox/out/a_b"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);
}

}  // namespace
}  // namespace tarnwell
