// The carving engine with the default types over a volume held in memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/MemoryReader.h"
#include "raw/DefaultSignatures.h"
#include "raw/myJpg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    static const std::vector<SignatureRecord> types = ParseSignatureFile(DefaultSignatureFileBytes()).records;
    MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
    for (bool keep : {false, true}) {
        myJpg engine;
        engine.keepPartial = keep;
        engine.AddSignatures(types);
        engine.CarveVolume(reader, size, NoProgress(), nullptr, {});
    }
    return 0;
}
