// The partition table scan and the sector search over a disk held in memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/MemoryReader.h"
#include "partition/PartitionScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    for (bool gpt : {false, true}) {
        MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
        PartitionScanner tables;
        tables.gptFormat = gpt;
        tables.ScanPartitionTables(reader);
    }
    for (bool skip : {true, false}) {
        MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
        PartitionScanner search;
        search.skipVolumeSize = skip;
        search.ScanForVolumes(reader);
    }
    return 0;
}
