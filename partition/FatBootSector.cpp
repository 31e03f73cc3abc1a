#include "partition/FatBootSector.h"

#include <algorithm>
#include <bit>

namespace tarnwell {

const char* FatKindName(FatKind kind) {
    switch (kind) {
        case FatKind::Fat12: return "FAT12";
        case FatKind::Fat16: return "FAT16";
        case FatKind::Fat32: return "FAT32";
    }
    return "FAT32";
}

std::uint64_t FatBootParameters::RootDirOffset() const {
    return (std::uint64_t(reservedSectors) + std::uint64_t(fatCount) * sectorsPerFat) * bytesPerSector;
}

std::uint64_t FatBootParameters::DataOffset() const {
    std::uint64_t rootSectors = (RootDirBytes() + bytesPerSector - 1) / bytesPerSector;
    return RootDirOffset() + rootSectors * bytesPerSector;
}

std::optional<FatBootParameters> ParseFatBootSector(ByteView s) {
    if (!s.Has(0, 512) || s.U8(510) != 0x55 || s.U8(511) != 0xAA) return std::nullopt;
    FatBootParameters p;
    p.bytesPerSector = s.Le16(0x0B);
    p.sectorsPerCluster = s.U8(0x0D);
    p.reservedSectors = s.Le16(0x0E);
    p.fatCount = s.U8(0x10);
    p.rootEntryCount = s.Le16(0x11);
    p.media = s.U8(0x15);
    std::uint32_t fat16Size = s.Le16(0x16);
    std::uint32_t total16 = s.Le16(0x13);
    p.totalSectors = total16 != 0 ? total16 : s.Le32(0x20);
    p.sectorsPerFat = fat16Size != 0 ? fat16Size : s.Le32(0x24);

    if (p.bytesPerSector < 512 || p.bytesPerSector > 4096 || !std::has_single_bit(p.bytesPerSector)) return std::nullopt;
    if (!std::has_single_bit(p.sectorsPerCluster)) return std::nullopt;
    if (p.reservedSectors < 1 || (p.fatCount != 1 && p.fatCount != 2)) return std::nullopt;
    if (p.totalSectors == 0 || p.sectorsPerFat == 0) return std::nullopt;
    if (p.media != 0xF0 && p.media < 0xF8) return std::nullopt;

    std::uint64_t rootSectors = (p.RootDirBytes() + p.bytesPerSector - 1) / p.bytesPerSector;
    std::uint64_t meta = p.reservedSectors + std::uint64_t(p.fatCount) * p.sectorsPerFat + rootSectors;
    if (meta >= p.totalSectors) return std::nullopt;
    p.clusterCount = (p.totalSectors - meta) / p.sectorsPerCluster;

    // A volume that keeps its FAT size only in the 32-bit field and has no fixed
    // root is laid out as FAT32 even when it has few clusters (mkfs.fat -F 32 on
    // a small card makes such volumes); otherwise the cluster count decides.
    if (fat16Size == 0 && p.rootEntryCount == 0)
        p.kind = FatKind::Fat32;
    else if (p.clusterCount < 4085)
        p.kind = FatKind::Fat12;
    else if (p.clusterCount < 65525)
        p.kind = FatKind::Fat16;
    else
        p.kind = FatKind::Fat32;

    if (p.kind == FatKind::Fat32) {
        // FAT32 keeps its root in clusters and its FAT size in the 32-bit field.
        if (fat16Size != 0 || p.rootEntryCount != 0) return std::nullopt;
        p.rootCluster = s.Le32(0x2C);
        // Sectors past the last cluster FAT32 can number hold no file's data.
        p.clusterCount = std::min(p.clusterCount, kMaxFat32Clusters);
    } else if (p.rootEntryCount == 0 || fat16Size == 0) {
        return std::nullopt;  // FAT12/16 need a fixed root and the 16-bit FAT size
    }
    // The FAT must be able to hold an entry for every cluster.
    std::uint64_t fatBits = p.kind == FatKind::Fat12 ? 12 : p.kind == FatKind::Fat16 ? 16 : 32;
    if (std::uint64_t(p.sectorsPerFat) * p.bytesPerSector * 8 < (p.clusterCount + 2) * fatBits) return std::nullopt;
    return p;
}

void BoundFatByVolume(FatBootParameters& p, std::uint64_t volumeBytes) {
    if (volumeBytes == 0 || p.bytesPerSector == 0 || p.sectorsPerCluster == 0) return;
    const std::uint64_t sectors = volumeBytes / p.bytesPerSector;
    const std::uint64_t dataStart = p.DataOffset() / p.bytesPerSector;
    const std::uint64_t fits = sectors > dataStart ? (sectors - dataStart) / p.sectorsPerCluster : 0;
    p.clusterCount = std::min(p.clusterCount, fits);
}

}  // namespace tarnwell
