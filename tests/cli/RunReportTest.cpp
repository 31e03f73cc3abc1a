#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using test::Slurp;

// sha256sum's digest of a file, the oracle for the report's.
std::string Sha256Sum(const fs::path& file) {
    std::string cmd = "sha256sum '" + file.string() + "'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return {};
    char digest[65] = {0};
    std::size_t got = std::fread(digest, 1, 64, pipe);
    ::pclose(pipe);
    return got == 64 ? std::string(digest, 64) : std::string();
}

json ReadReport(const fs::path& p) { return json::parse(Slurp(p)); }

class ReportOnTheCard : public ::testing::Test {
protected:
    void SetUp() override {
        card = test::ImagePath("sample-card");
        if (card.empty()) GTEST_SKIP();
    }
    test::CommandResult Recover(const fs::path& out, const fs::path& report, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"recover", card, "--out", out.string(), "--report", report.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::RunCli(args);
    }
    std::string card;
    test::TempDir dir;
};

// Every file written is in the report once, with the digest sha256sum gives it.
TEST_F(ReportOnTheCard, DescribesEveryWrittenFile) {
    test::UnchangedGuard unchanged(card);
    auto r = Recover(dir / "out", dir / "report.json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json report = ReadReport(dir / "report.json");

    EXPECT_EQ(report["tool"]["name"], "tarnwell");
    EXPECT_EQ(report["source"]["path"], card);
    EXPECT_EQ(report["source"]["size"], fs::file_size(card));
    EXPECT_EQ(report["source"]["kind"], "raw");
    EXPECT_EQ(report["volume"]["file_system"], "FAT32");
    EXPECT_EQ(report["options"]["mode"], "standard");

    std::map<std::string, json> byOutput;
    for (const json& f : report["files"]) byOutput[f["output"].get<std::string>()] = f;
    std::size_t onDisk = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
        if (!entry.is_regular_file()) continue;
        ++onDisk;
        std::string rel = fs::relative(entry.path(), dir / "out").string();
        ASSERT_TRUE(byOutput.count(rel)) << rel << " is missing from the report";
        const json& f = byOutput[rel];
        EXPECT_EQ(f["sha256"], Sha256Sum(entry.path())) << rel;
        EXPECT_EQ(f["written"], entry.file_size()) << rel;
        EXPECT_EQ(f["size"], entry.file_size()) << rel;
        EXPECT_EQ(f["status"], "ok") << rel;
        EXPECT_EQ(f["unreadable_bytes"], 0) << rel;
        EXPECT_NE(std::find(f["times_set"].begin(), f["times_set"].end(), "modified"), f["times_set"].end()) << rel;
    }
    EXPECT_EQ(onDisk, byOutput.size());
    EXPECT_EQ(report["summary"]["files"], onDisk);
    EXPECT_EQ(report["summary"]["ok"], onDisk);
    // The deleted photo is there under its own path, marked.
    bool sawDeleted = false;
    for (const json& f : report["files"])
        if (f["path"] == "DCIM/100CANON/_MG_0003.JPG") sawDeleted = f["deleted"].get<bool>();
    EXPECT_TRUE(sawDeleted);
}

// Two runs over the same input differ only in their time stamps (and where they wrote).
TEST_F(ReportOnTheCard, IsTheSameForTheSameInput) {
    std::vector<json> reports;
    for (std::string run : {"1", "2"}) {
        auto r = Recover(dir / ("out" + run), dir / ("report" + run + ".json"), {"--path", "DCIM"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        json report = ReadReport(dir / ("report" + run + ".json"));
        EXPECT_FALSE(report["started"].get<std::string>().empty());
        EXPECT_FALSE(report["finished"].get<std::string>().empty());
        report.erase("started");
        report.erase("finished");
        report["options"].erase("out");
        reports.push_back(report);
    }
    EXPECT_EQ(reports[0], reports[1]);
    std::vector<std::string> paths;
    for (const json& f : reports[0]["files"]) paths.push_back(f["path"]);
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
    EXPECT_EQ(paths.front(), "DCIM/100CANON/IMG_0001.JPG") << "paths are the volume's, from its root";
}

// A file with areas the rescue did not finish: partial, with exactly the bytes
// of it that lay there, and the digest of what was written (zeros included).
TEST_F(ReportOnTheCard, CountsTheUnreadableBytesOfEachFile) {
    const std::string photoPath = "DCIM/100CANON/IMG_0004.JPG";
    auto whole = test::RunCli({"recover", card, "--out", (dir / "whole").string(), "--path", photoPath});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    std::string photo = Slurp(dir / "whole/IMG_0004.JPG");
    ASSERT_EQ(photo.size(), 15454u);
    std::string image = Slurp(card);
    std::size_t at = image.find(photo);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(at % 512, 0u);

    // Two bad areas: 1024 bytes inside the photo, and the sector that holds
    // its last 94 bytes and 418 of slack.
    struct Bad {
        std::uint64_t from, size;
    };
    const Bad bad[] = {{at + 1024, 1024}, {at + 15360, 512}};
    std::string map = "# hand-written\n0x0 +\n";
    std::uint64_t pos = 0;
    char line[96];
    for (const Bad& b : bad) {
        std::snprintf(line, sizeof line, "0x%llx 0x%llx +\n0x%llx 0x%llx -\n", (unsigned long long)pos,
                      (unsigned long long)(b.from - pos), (unsigned long long)b.from, (unsigned long long)b.size);
        map += line;
        pos = b.from + b.size;
    }
    std::snprintf(line, sizeof line, "0x%llx 0x%llx +\n", (unsigned long long)pos,
                  (unsigned long long)(image.size() - pos));
    map += line;
    dir.Write("card.map", map);

    auto r = Recover(dir / "out", dir / "report.json", {"--mapfile", (dir / "card.map").string()});
    EXPECT_EQ(r.exitCode, 1) << "unreadable sectors are errors: " << r.err;
    EXPECT_NE(r.err.find(photoPath + ": 1118 of its 15454 bytes were unreadable"), std::string::npos) << r.err;
    json report = ReadReport(dir / "report.json");
    std::size_t seen = 0;
    for (const json& f : report["files"]) {
        fs::path written = dir / "out" / f["output"].get<std::string>();
        EXPECT_EQ(f["sha256"], Sha256Sum(written)) << f["path"];
        if (f["path"] != photoPath) {
            EXPECT_EQ(f["status"], "ok") << f["path"];
            EXPECT_EQ(f["unreadable_bytes"], 0) << f["path"];
            continue;
        }
        ++seen;
        EXPECT_EQ(f["status"], "partial");
        EXPECT_EQ(f["unreadable_bytes"], 1024 + 94);
        EXPECT_EQ(f["written"], 15454);
        EXPECT_NE(f["reason"].get<std::string>().find("1118 bytes unreadable"), std::string::npos) << f["reason"];
        std::string got = Slurp(written);
        EXPECT_EQ(got.substr(1024, 1024), std::string(1024, '\0'));
        EXPECT_EQ(got.substr(0, 1024), photo.substr(0, 1024));
    }
    EXPECT_EQ(seen, 1u);
    EXPECT_EQ(report["summary"]["partial"], 1);
    EXPECT_EQ(report["summary"]["unreadable_bytes"], 1118);
    EXPECT_EQ(report["summary"]["unreadable_sectors"], 3);
    EXPECT_EQ(report["options"]["mapfile"], (dir / "card.map").string());
}

TEST_F(ReportOnTheCard, AReportThatCannotBeWrittenIsAnError) {
    auto r = Recover(dir / "out", dir / "no-such-folder" / "report.json");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write the report"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarnwell
