#pragma once
// The ext2/3/4 superblock and group descriptor table.
//
// Superblock (1024 bytes at byte 1024 of the volume, copies at the start of
// groups 1, 3, 5, 7, 9, 25, ... with sparse_super):
//   0 inodes count        4 blocks count lo      20 first data block
//  24 log2(block size)-10 32 blocks per group    40 inodes per group
//  56 magic 0xEF53        76 revision level      84 first usable inode
//  88 inode size          90 group of this copy  92 compat features
//  96 incompat features  100 ro-compat features 254 descriptor size (64bit)
// 260 first meta group   336 blocks count hi    588 sparse_super2 backups

#include <cstdint>
#include <optional>
#include <vector>

#include "core/ByteView.h"
#include "device/VolumeView.h"

namespace tarnwell::ext {

inline constexpr std::uint16_t kMagic = 0xEF53;
inline constexpr std::uint32_t kIncompatFileType = 0x0002;
inline constexpr std::uint32_t kIncompatMetaBg = 0x0010;
inline constexpr std::uint32_t kIncompatExtents = 0x0040;
inline constexpr std::uint32_t kIncompat64Bit = 0x0080;
inline constexpr std::uint32_t kIncompatLargeDir = 0x4000;
inline constexpr std::uint32_t kIncompatInlineData = 0x8000;
inline constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
inline constexpr std::uint32_t kRoCompatGdtCsum = 0x0010;
inline constexpr std::uint32_t kRoCompatMetadataCsum = 0x0400;
inline constexpr std::uint32_t kCompatSparseSuper2 = 0x0200;

struct Superblock {
    std::uint32_t inodesCount = 0;
    std::uint64_t blocksCount = 0;
    std::uint32_t firstDataBlock = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t revLevel = 0;
    std::uint32_t firstInode = 11;
    std::uint32_t inodeSize = 128;
    std::uint16_t blockGroupNr = 0;
    std::uint32_t featureCompat = 0, featureIncompat = 0, featureRoCompat = 0;
    std::uint32_t descSize = 32;
    std::uint32_t firstMetaBg = 0;
    std::uint32_t backupGroups[2] = {0, 0};
    std::uint64_t groupCount = 0;

    bool HasFileType() const { return featureIncompat & kIncompatFileType; }
    bool MetaBg() const { return featureIncompat & kIncompatMetaBg; }
    bool Is64Bit() const { return featureIncompat & kIncompat64Bit; }
    // Whether a folder's size has a high word (i_size_high) too.
    bool LargeDirs() const { return featureIncompat & kIncompatLargeDir; }
    // Whether bg_flags and bg_itable_unused can be trusted.
    bool HasGroupChecksums() const { return featureRoCompat & (kRoCompatGdtCsum | kRoCompatMetadataCsum); }
    std::uint64_t VolumeBytes() const { return blocksCount * blockSize; }
};

// The superblock in bytes (1024 of them), or nothing when they do not hold a
// plausible one: magic, block size 1 to 64 KiB, group sizes a block bitmap can
// describe, an inode size that fits a block.
std::optional<Superblock> DecodeSuperblock(ByteView bytes);

// Whether group g carries a superblock copy (and, below meta_bg, the descriptors).
bool GroupHasSuperblock(const Superblock& sb, std::uint64_t group);

struct Group {
    std::uint64_t inodeTable = 0;   // block number; 0 when the descriptor is unusable
    std::uint32_t inodesInUse = 0;  // inodes to read from the table's start
};

// The descriptor table of a volume whose superblock sits at byte superblockOffset
// (the primary or a copy). Descriptors that cannot be read come back with an
// inode table of 0. Empty when the table is absurd.
std::vector<Group> ReadGroupDescriptors(const VolumeView& reader, const Superblock& sb,
                                        std::uint64_t superblockOffset);

}  // namespace tarnwell::ext
