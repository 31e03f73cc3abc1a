// The readable listing speaks the user's words: the volume's file-system name
// as its features give it, and every size in binary units, for every parser.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

TEST(ListText, NamesTheVolumeAndGivesSizesWithUnits) {
    struct Case {
        const char* image;
        const char* header;  // the first line, up to the size
    };
    const Case cases[] = {
        {"sample-card", "FAT32 volume at sector 0, "}, {"fat16-stick", "FAT16 volume at sector 0, "},
        {"exfat-4k", "exFAT volume at sector 0, "},    {"ntfs-4k", "NTFS volume at sector 0, "},
        {"ext2-1k", "ext2 volume at sector 0, "},      {"ext3-4k", "ext3 volume at sector 0, "},
        {"ext4", "ext4 volume at sector 0, "},         {"hfsplus-gen", "HFS+ volume at sector 0, "},
        {"hfsx-gen", "HFSX volume at sector 0, "},
    };
    // "-*    15.08 KiB  2024-06-01 11:01:00  path": a file row's size has its unit.
    const std::regex fileRow(R"(^-[ *] +[0-9.]+ (B|KiB|MiB|GiB)  .*)");
    const std::regex folderRow(R"(^d[ *] {14}.*)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        std::string image = test::ImagePath(c.image);
        if (image.empty()) {
            ADD_FAILURE() << "image not committed";
            continue;
        }
        test::UnchangedGuard unchanged(image);
        auto r = test::RunCli({"list", image});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream in(r.out);
        std::string header, line;
        std::getline(in, header);
        EXPECT_EQ(header.substr(0, std::string(c.header).size()), c.header) << header;
        EXPECT_TRUE(std::regex_search(header, std::regex(R"(, [0-9.]+ (KiB|MiB|GiB)$)"))) << header;
        int files = 0;
        while (std::getline(in, line)) {
            if (line.empty() || (line[0] != '-' && line[0] != 'd')) continue;  // the summary
            if (line[0] == 'd') {
                EXPECT_TRUE(std::regex_match(line, folderRow)) << line;
                continue;
            }
            ++files;
            EXPECT_TRUE(std::regex_match(line, fileRow)) << line;
        }
        EXPECT_GT(files, 0) << r.out;
    }
}

}  // namespace
}  // namespace tarnwell
