// The advanced mode's table and heap finders over a volume held in memory, for
// each table kind; the first byte picks how many candidates to keep.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "advanced/TableFinder.h"
#include "device/MemoryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    if (size == 0) return 0;
    int maximum = data[0] % 8;  // 0 stands for the default
    MemoryReader reader(std::vector<std::uint8_t>(data + 1, data + size));
    for (TableKind kind : {TableKind::Fat12, TableKind::Fat16, TableKind::Fat32, TableKind::ExFat, TableKind::Ntfs}) {
        TableFinder finder(VolumeView(reader), size - 1, kind, NoProgress());
        TableCandidates found = finder.Find(maximum);
        ClusterSizeList(kind, found.boot);
        if (size >= 9) {
            MatchesTableSignature(kind, data + 1);
            MatchesHeapSignature(data + 1);
        }
    }
    return 0;
}
