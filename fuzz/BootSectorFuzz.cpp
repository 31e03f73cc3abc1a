// Every boot-sector and volume-header test over the same bytes, at the offsets
// where each lives, and the whole-source detection that combines them.

#include <cstddef>
#include <cstdint>

#include "partition/BootSectors.h"
#include "partition/FatBootSector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    ByteView all(data, size);
    ByteView header = size > kHfsHeaderOffset ? ByteView(data + kHfsHeaderOffset, size - kHfsHeaderOffset) : ByteView();
    TestNtfsBootSector(all, false);
    TestNtfsBootSector(all, true);
    TestExFatBootSector(all);
    TestFatBootSector(all);
    if (auto fat = ParseFatBootSector(all)) {
        // The derived offsets must stay computable for whatever passed the test.
        volatile std::uint64_t sink = fat->RootDirOffset() + fat->DataOffset() + fat->VolumeBytes() + fat->ClusterSize();
        (void)sink;
    }
    TestHfsPlusHeader(header);
    TestExtSuperblock(header);
    DetectVolume(all, false);
    DetectVolume(all, true);
    HoldsPartitionTable(all);
    DetectSourceVolume(all);
    return 0;
}
