#pragma once
// Copying a file's bytes from the source into a sink. What the source does
// not deliver (refused sectors, bytes past its end, also when it shrank during
// the run) comes as zeros in place, counted once, by the reader.

#include <cstdint>
#include <vector>

#include "device/VolumeView.h"
#include "fs/OutputWriter.h"

namespace tarnwell {

struct CopyResult {
    bool written = true;   // false: the sink refused bytes
    bool complete = true;  // false: some bytes could not be read
};

// Copies count bytes at offset (from the reader's base) through buffer.
CopyResult CopyFromSource(const VolumeView& reader, std::uint64_t offset, std::size_t count,
                          std::vector<std::uint8_t>& buffer, FileSink& sink);

// Writes size bytes of zeros the file does hold (a hole) or could not be had
// (unreadable), in pieces, so that a Stop between pieces is seen by callers
// that check between calls. False when the sink refused them.
inline bool WriteMissing(FileSink& sink, std::uint64_t size, bool unreadable) {
    return unreadable ? sink.WriteUnreadable(size) : sink.WriteHole(size);
}

// How many bytes of a file to write at most: its size, or for an entry whose
// size cannot be trusted (deleted, damaged, beyond what the format allows) no
// more than the volume holds, so that a corrupt size costs nothing.
inline std::uint64_t TrustedLength(std::uint64_t size, bool trusted, std::uint64_t volumeBytes) {
    if (trusted || volumeBytes == 0) return size;
    return size < volumeBytes ? size : volumeBytes;
}

}  // namespace tarnwell
