#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

namespace {
constexpr std::size_t kChunkOutput = 4096;

// Decodes the tokens of one compressed chunk; false on a damaged token.
bool DecodeChunk(ByteView in, std::uint8_t* out, std::size_t room, std::size_t& produced) {
    std::size_t i = 0;
    produced = 0;
    while (i < in.size()) {
        std::uint8_t flags = in.U8(i++);
        for (int bit = 0; bit < 8 && i < in.size(); ++bit) {
            if ((flags & (1u << bit)) == 0) {
                if (produced >= room) return false;
                out[produced++] = in.U8(i++);
                continue;
            }
            if (!in.Has(i, 2)) return false;
            std::uint16_t token = in.Le16(i);
            i += 2;
            if (produced == 0) return false;  // nothing to refer back to
            // The split between distance and length moves with the position:
            // 4 distance bits up to 16 bytes of output, one more per doubling.
            std::size_t d = produced - 1;
            int shift = 0;
            while (d >= 16) {
                d >>= 1;
                ++shift;
            }
            std::size_t distance = (token >> (12 - shift)) + 1u;
            std::size_t length = (token & (0x0FFFu >> shift)) + 3u;
            if (distance > produced) return false;
            for (std::size_t k = 0; k < length; ++k) {
                if (produced >= room) return false;
                out[produced] = out[produced - distance];
                ++produced;
            }
        }
    }
    return true;
}
}  // namespace

bool DecompressLznt1(Lznt1Block& block) {
    ByteView in = block.input;
    block.produced = 0;
    std::size_t i = 0;
    while (i + 1 < in.size()) {
        std::uint16_t header = in.Le16(i);
        if (header == 0) return false;  // the end of the compressed data
        std::size_t size = (header & 0x0FFFu) + 1u;
        if (!in.Has(i + 2, size)) return true;  // a truncated chunk
        ByteView data = in.Sub(i + 2, size);
        i += 2 + size;
        // Pad the previous chunk's short output to its 4096-byte slot.
        std::size_t start = block.produced;
        std::size_t room = std::min(kChunkOutput, block.capacity - start);
        std::size_t made = 0;
        if ((header & 0x8000u) == 0) {
            made = std::min(size, room);
            std::memcpy(block.output + start, data.data(), made);
            if (made < size) {
                block.produced = start + made;
                return true;
            }
        } else if (!DecodeChunk(data, block.output + start, room, made)) {
            block.produced = start + made;
            return true;
        }
        block.produced = start + made;
        if (i + 1 < in.size() && in.Le16(i) != 0) {
            std::size_t slotEnd = std::min(start + kChunkOutput, block.capacity);
            std::memset(block.output + block.produced, 0, slotEnd - block.produced);
            block.produced = slotEnd;
            if (block.produced >= block.capacity) return true;  // more chunks than the block holds
        }
    }
    return false;
}

}  // namespace tarnwell
