#pragma once
// Where an inode's data lies: runs of logical blocks mapped to volume blocks,
// from its extent tree or its block map (12 direct, single, double and triple
// indirect pointers). Holes are simply absent from the runs.
//
// Extent node: header of magic 0xF30A (0), entries (2), max (4), depth (6),
// then 12-byte entries. Leaf: logical block (0), length (4; above 32,768 an
// unwritten extent of length - 32,768), start hi (6), start lo (8). Index:
// logical block (0), child block lo (4), hi (8).

#include <cstdint>
#include <vector>

#include "core/ByteView.h"
#include "device/VolumeView.h"
#include "fs/ext/ExtSuperblock.h"

namespace tarnwell::ext {

struct Run {
    std::uint64_t logical = 0;   // first block of the file it covers
    std::uint64_t physical = 0;  // first volume block
    std::uint64_t count = 0;
    bool unwritten = false;      // allocated but never written: reads as zeros
};

struct BlockMap {
    std::vector<Run> runs;  // sorted by logical block, never overlapping
    bool damaged = false;   // some of the tree or map could not be read or made no sense
};

// The runs of the inode whose i_block area (60 bytes) is given, limited to
// the blocks its size covers and to the volume.
BlockMap MapBlocks(const VolumeView& reader, const Superblock& sb, ByteView blockArea, bool extents,
                   std::uint64_t size);

}  // namespace tarnwell::ext
