#pragma once
// Recognising a FAT boot sector by a plausible BIOS parameter block, whatever
// OEM name the formatter wrote, and telling FAT12/16/32 apart by the cluster
// count as the FAT documentation defines it.

#include <cstdint>
#include <optional>

#include "core/ByteView.h"

namespace tarnwell {

enum class FatKind { Fat12, Fat16, Fat32 };

const char* FatKindName(FatKind kind);  // "FAT12", "FAT16", "FAT32"

struct FatBootParameters {
    FatKind kind = FatKind::Fat32;
    std::uint32_t bytesPerSector = 0;    // 0x0B
    std::uint32_t sectorsPerCluster = 0; // 0x0D
    std::uint32_t reservedSectors = 0;   // 0x0E
    std::uint32_t fatCount = 0;          // 0x10
    std::uint32_t rootEntryCount = 0;    // 0x11, 0 on FAT32
    std::uint64_t totalSectors = 0;      // 0x13 or, when 0, 0x20
    std::uint32_t sectorsPerFat = 0;     // 0x16 or, when 0, 0x24 (FAT32)
    std::uint32_t rootCluster = 0;       // 0x2C, FAT32 only
    std::uint8_t media = 0;              // 0x15
    std::uint64_t clusterCount = 0;      // clusters of the data area

    std::uint32_t ClusterSize() const { return bytesPerSector * sectorsPerCluster; }
    std::uint64_t FatOffset() const { return std::uint64_t(reservedSectors) * bytesPerSector; }
    std::uint64_t RootDirOffset() const;   // FAT12/16 fixed root region
    std::uint64_t RootDirBytes() const { return std::uint64_t(rootEntryCount) * 32; }
    std::uint64_t DataOffset() const;      // byte offset of cluster 2
    std::uint64_t VolumeBytes() const { return totalSectors * bytesPerSector; }
};

// The most clusters a FAT32 volume can number: cluster values from 0x0FFFFFF7
// up are marks, so 0x0FFFFFF6 is the last cluster and cluster 2 the first.
inline constexpr std::uint64_t kMaxFat32Clusters = 0x0FFFFFF5;

// The parameters when sector (at least 512 bytes) holds a FAT boot sector.
// The cluster count never exceeds what the kind can number.
std::optional<FatBootParameters> ParseFatBootSector(ByteView sector);

// Cuts the cluster count to what volumeBytes from the volume's start can hold
// (a corrupt total-sectors field on a large disk would make the table ask for
// gigabytes no such volume has). 0 leaves it as it is.
void BoundFatByVolume(FatBootParameters& p, std::uint64_t volumeBytes);

}  // namespace tarnwell
