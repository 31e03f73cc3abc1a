#pragma once
// LZNT1, the compression of NTFS compressed files (MS-XCA 2.5): a compression
// block is a sequence of chunks, each with a 16-bit header (bits 0-11: data
// length - 1; bit 15: compressed) holding at most 4096 bytes of output.

#include <cstddef>
#include <cstdint>

#include "core/ByteView.h"

namespace tarnwell {

struct Lznt1Block {
    ByteView input;
    std::uint8_t* output = nullptr;
    std::size_t capacity = 0;  // the compression block's size in bytes
    std::size_t produced = 0;
};

// Decodes one compression block into block.output. A chunk that yields less
// than 4096 bytes and is followed by another is padded with zeros, as NTFS
// writes it. Returns true when the input was damaged or did not fit; the bytes
// produced until then stay.
bool DecompressLznt1(Lznt1Block& block);

}  // namespace tarnwell
