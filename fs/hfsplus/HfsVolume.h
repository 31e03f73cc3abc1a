#pragma once
// HFS+ and HFSX volume header and fork mapping (Apple TN1150). Everything on
// disk is big-endian.
//
// Volume header, 512 bytes at byte 1024 of the volume:
//   0 signature 'H+' (version 4) or 'HX' (version 5)   2 version
//  40 allocation block size (a power of two, >= 512)   44 total blocks
//  112 allocation file fork  192 extents overflow file fork
//  272 catalog file fork     352 attributes file fork  432 startup file fork
// Fork data, 80 bytes: 0 logical size (8), 8 clump size, 12 total blocks,
// 16 eight extents of (start block 4, block count 4).

#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "core/ByteView.h"
#include "device/VolumeView.h"

namespace tarnwell {

inline constexpr std::uint64_t kVolumeHeaderOffset = 1024;
inline constexpr std::uint8_t kDataFork = 0x00;
inline constexpr std::uint8_t kResourceFork = 0xFF;

struct HfsExtent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};

struct HfsFork {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<HfsExtent> extents;  // the eight of the record, empty ones left out
};

HfsFork DecodeFork(ByteView bytes, std::size_t offset);

struct HfsVolumeHeader {
    bool hfsx = false;
    std::uint32_t blockSize = 0;
    std::uint32_t totalBlocks = 0;
    HfsFork extentsFile, catalogFile, attributesFile;
};

// Nothing when the signature, version or block size is not HFS+/HFSX.
std::optional<HfsVolumeHeader> DecodeVolumeHeader(ByteView header);

// Extents overflow records, keyed by (fork type, file ID, file block where the
// record continues the fork).
using OverflowIndex = std::map<std::tuple<std::uint8_t, std::uint32_t, std::uint32_t>, std::vector<HfsExtent>>;

// Where a fork's bytes lie on the volume: its extents in file order, continued
// through the overflow records, clipped to the volume.
class ForkMap {
public:
    struct Run {
        std::uint64_t fileBlock;  // first block of the run within the fork
        std::uint64_t volumeBlock;
        std::uint64_t count;
    };

    ForkMap() = default;
    ForkMap(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType, const OverflowIndex* overflow,
            std::uint32_t blockSize, std::uint32_t volumeBlocks);

    std::uint64_t LogicalSize() const { return logicalSize_; }
    // The fork's blocks are all known and inside the volume.
    bool Complete() const { return complete_; }
    // Bytes of the fork from its start that lie in known blocks.
    std::uint64_t MappedBytes() const;

    // Reads count bytes at fork offset into out (zeros where nothing is mapped).
    // False when a byte was unmapped or the device refused one.
    bool Read(const VolumeView& reader, std::uint64_t offset, std::uint8_t* out, std::size_t count) const;

    // The volume byte offset of a fork offset, or UINT64_MAX when unmapped.
    std::uint64_t VolumeOffset(std::uint64_t offset) const;

    const std::vector<Run>& Runs() const { return runs_; }

private:
    std::vector<Run> runs_;
    std::uint64_t logicalSize_ = 0;
    std::uint32_t blockSize_ = 0;
    bool complete_ = false;
};

}  // namespace tarnwell
