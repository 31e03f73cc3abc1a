// The carving engine with the default types over a volume held in memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/Carver.h"
#include "carve/DefaultSignatures.h"
#include "device/MemoryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    static const std::vector<SignatureRecord> types = ParseSignatureFile(DefaultSignatureFileBytes()).records;
    MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
    for (bool keep : {false, true}) {
        Carver engine;
        engine.keepPartial = keep;
        engine.AddSignatures(types);
        engine.CarveVolume(VolumeView(reader, 0, size), NoProgress(), nullptr, {});
    }
    return 0;
}
