#pragma once
// Directory entries of one directory block (or of an inline directory's area):
// inode (0, 4), record length (4, 2), name length (6, 1), file type (7, 1) with
// the file-type feature, else a 16-bit name length at 6; then the name.
//
// Live entries follow each other by record length. A deleted entry is merged
// into the record before it, so it survives in that record's slack; those are
// found too, marked deleted.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/ByteView.h"

namespace tarnwell::ext {

struct DirEntry {
    std::uint32_t inode = 0;
    std::uint8_t fileType = 0;  // 0 unknown, 1 file, 2 folder, 3 char, 4 block, 5 FIFO, 6 socket, 7 link
    bool deleted = false;
    std::string_view name;      // points into the block
};

struct DirBlockOptions {
    bool hasFileType = true;
    std::uint32_t inodesCount = 0;
    std::uint32_t blockSize = 4096;  // for 64 KiB blocks, whose record lengths wrap
    bool indexed = false;            // an htree folder: empty records hold index data, not names
};

// Appends the entries of block to out ("." and ".." included; callers skip them).
void ParseDirBlock(ByteView block, const DirBlockOptions& options, std::vector<DirEntry>& out);

}  // namespace tarnwell::ext
