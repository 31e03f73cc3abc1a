// Loading a signature settings file, then carving a small fixed volume with
// whatever types it yields.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/Carver.h"
#include "device/MemoryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    SignatureFile file = ParseSignatureFile(ByteView(data, size));
    for (const auto& r : file.records) {
        SignatureRecord back;
        std::string why;
        auto again = SignatureRecord::Decode(r.Encode(), 0, why);
        (void)again;
    }
    std::vector<std::uint8_t> volume(64 * 1024);
    for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    MemoryReader reader(volume);
    Carver engine;
    engine.keepPartial = true;
    engine.AddSignatures(file.records);
    engine.CarveVolume(VolumeView(reader, 0, volume.size()), NoProgress(), nullptr, {});
    return 0;
}
