// LZNT1 decoding of one compression block.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    for (std::size_t capacity : {std::size_t(4096), std::size_t(65536)}) {
        std::vector<std::uint8_t> out(capacity);
        Lznt1Block block;
        block.input = ByteView(data, size);
        block.output = out.data();
        block.capacity = capacity;
        DecompressLznt1(block);
    }
    return 0;
}
