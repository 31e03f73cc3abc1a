// The NTFS advanced scan with both boot sectors gone: the picked cluster size
// is the one the MFT is read with, and lists handed over from an earlier
// search are used as they are.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "advanced/TableFinder.h"
#include "core/ByteView.h"
#include "device/MemoryReader.h"
#include "fs/FileSystemRegistry.h"
#include "support/ImageListing.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

struct Listing {
    bool scanned = false;
    std::map<std::string, std::string> files;  // path -> bytes
};

Listing Advanced(const std::vector<std::uint8_t>& bytes, const AdvancedChoice& pick) {
    MemoryReader reader(bytes);
    RecordingPrompter prompter;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = "NTFS";
    links.volume.sectorCount = reader.deviceSectorCount();
    links.advanced = pick;
    auto parser = MakeParser("NTFS", links);
    Listing out;
    out.scanned = parser && parser->Scan(RecoveryMode::Advanced);
    if (!out.scanned) return out;
    for (const auto& [path, listed] : test::ListParser(*parser)) {
        // $Boot's bytes are the boot sector the tests zero.
        if (listed.folder || listed.deleted || path == "$Boot") continue;
        out.files[path] = test::ExtractedBytes(*parser, listed.row);
    }
    return out;
}

TEST(NtfsAdvancedScan, ReadsTheMftWithThePickedClusterSize) {
    const std::string path = test::ImagePath("ntfs-4k");
    if (path.empty()) GTEST_SKIP() << "image not committed";
    test::UnchangedGuard unchanged(path);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const Listing intact = Advanced(bytes, AdvancedChoice{});
    ASSERT_TRUE(intact.scanned);
    ASSERT_GT(intact.files.size(), 3u);
    const std::uint64_t mftAt = ByteView(bytes).Le64(48) * 4096;

    std::memset(bytes.data(), 0, 512);
    std::memset(bytes.data() + (bytes.size() / 512 - 1) * 512, 0, 512);  // the backup at the volume's end
    MemoryReader reader(bytes);
    const std::vector<std::uint32_t> sizes =
        ClusterSizeList(TableKind::Ntfs, ReadBootHint(VolumeView(reader), bytes.size(), TableKind::Ntfs));
    auto index = [&](std::uint32_t n) {
        return static_cast<int>(std::find(sizes.begin(), sizes.end(), n) - sizes.begin());
    };
    ASSERT_LT(index(8), static_cast<int>(sizes.size()));

    AdvancedChoice right;
    right.cluster = index(8);  // 4 KiB
    const Listing found = Advanced(bytes, right);
    ASSERT_TRUE(found.scanned);
    EXPECT_TRUE(found.files == intact.files);

    // Half the size: every cluster number lands at half its offset.
    AdvancedChoice wrong;
    wrong.cluster = index(4);
    const Listing misread = Advanced(bytes, wrong);
    EXPECT_FALSE(misread.scanned && misread.files == intact.files);

    // The lists of an earlier search, as the advanced page hands them over,
    // are taken as they are: no search, and their indices.
    auto lists = std::make_shared<TableCandidates>();
    lists->clusterSizes = sizes;
    lists->tables = {0, mftAt};
    AdvancedChoice handed = right;
    handed.found = lists;
    handed.table = 1;
    const Listing fromList = Advanced(bytes, handed);
    ASSERT_TRUE(fromList.scanned);
    EXPECT_TRUE(fromList.files == intact.files);
    handed.table = 0;
    EXPECT_FALSE(Advanced(bytes, handed).scanned) << "position 0 holds no $MFT";
}

}  // namespace
}  // namespace tarnwell
