#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

class DrivesCommand : public ::testing::Test {
protected:
    test::TempDir dir;
    std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> a = {"drives",
                                      "--sys-block", (dir / "sys/block").string(),
                                      "--sys-class-block", (dir / "sys/class/block").string(),
                                      "--dev", (dir / "dev").string(),
                                      "--mountinfo", (dir / "mountinfo").string()};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    void SetUp() override {
        dir.Write("sys/block/sdb/size", "15633408\n");
        dir.Write("sys/block/sdb/removable", "1\n");
        dir.Write("sys/block/sdb/device/vendor", "SanDisk\n");
        dir.Write("sys/block/sdb/device/model", "Cruzer\n");
        dir.Write("sys/class/block/sdb1/size", "204800\n");
        dir.Write("mountinfo", "30 22 8:17 / /media/card rw - exfat /dev/sdb1 rw\n");
    }
};

TEST_F(DrivesCommand, JsonListsBothGroups) {
    auto r = test::RunCli(Args({"--json"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["group"], "physical");
    EXPECT_EQ(lines[0]["number"], 0);
    EXPECT_EQ(lines[0]["device"], "/dev/sdb");
    EXPECT_EQ(lines[0]["name"], "SanDisk Cruzer");
    EXPECT_EQ(lines[0]["size"], 15633408ULL * 512);
    EXPECT_EQ(lines[0]["removable"], true);
    EXPECT_EQ(lines[0]["readable"], false);
    EXPECT_EQ(lines[1]["group"], "volume");
    EXPECT_EQ(lines[1]["mount_point"], "/media/card");
    EXPECT_EQ(lines[1]["fs"], "exfat");
    EXPECT_EQ(lines[1]["size"], 204800ULL * 512);
    EXPECT_NE(r.err.find("disk group"), std::string::npos) << "says how to get access";
}

TEST_F(DrivesCommand, TextShowsGroupHeadings) {
    auto r = test::RunCli(Args({}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("PHYSICAL DRIVES:"), std::string::npos);
    EXPECT_NE(r.out.find("VOLUMES:"), std::string::npos);
    EXPECT_NE(r.out.find("SanDisk Cruzer"), std::string::npos);
    EXPECT_NE(r.out.find("/media/card"), std::string::npos);
    EXPECT_NE(r.out.find("7.45 GiB"), std::string::npos) << r.out;  // 15633408 sectors
    EXPECT_NE(r.out.find("exFAT    100.00 MiB"), std::string::npos) << r.out;
}

TEST(Cli, BadUsageExitsWithTwo) {
    EXPECT_EQ(test::RunCli({}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"no-such-command"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"drives", "--bogus"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--help"}).exitCode, 0);
}

}  // namespace
}  // namespace tarnwell
