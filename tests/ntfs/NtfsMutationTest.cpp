// Damaged MFTs: random bytes of a real volume's records overwritten. Whatever
// they say, a scan ends, the tree walk from the root ends, and extraction ends.

#include <gtest/gtest.h>

#include <random>

#include "ntfs/NtfsTestSupport.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

TEST(NtfsMutation, ScansAndExtractionsOfDamagedRecordsEnd) {
    auto image = test::LoadImage("ntfs-512");
    if (!image) GTEST_SKIP();
    const std::vector<std::uint8_t> clean = image->Bytes();
    const std::uint64_t mft = ByteView(clean).Le64(48) * 512;
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        std::vector<std::uint8_t> bytes = clean;
        // Records 0 to 79, headers and attributes alike.
        std::uniform_int_distribution<std::uint64_t> at(mft, mft + 80 * 1024 - 1);
        for (int k = 0; k < 300; ++k) bytes[at(random)] = static_cast<std::uint8_t>(random());
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            auto v = test::ScanReader(std::make_unique<MemoryReader>(bytes), mode);
            EXPECT_LE(v->paths.size(), v->parser->RowCount()) << "round " << round << ": a row listed twice";
            test::TempDir out;
            int extracted = 0;
            for (const auto& [path, row] : v->paths) {
                if (v->parser->Info(row).folder || ++extracted > 40) continue;
                test::ExtractTo(*v->parser, row, out);
            }
        }
    }
}

}  // namespace
}  // namespace tarnwell
