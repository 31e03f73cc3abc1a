#pragma once
// The tests that tell a volume by its first sectors: the NTFS and exFAT boot
// sectors, a FAT boot sector (by a plausible BIOS parameter block), the HFS+ /
// HFSX volume header and the ext2/3/4 superblock. Each test looks only at the
// bytes it is given and answers "not this" for anything short or implausible.

#include <cstdint>
#include <optional>

#include "core/ByteView.h"
#include "partition/FsKind.h"

namespace tarnwell {

enum class BootKind { Ntfs, Fat12, Fat16, Fat32, ExFat, HfsPlus, Ext };

struct BootMatch {
    BootKind kind;
    // The file system by its features as well (ext2, ext3 or ext4; HFS+ or HFSX).
    FsType type = FsType::Unknown;
    // Size of the file system in bytes as its own structures give it (0 when absurd).
    std::uint64_t volumeBytes = 0;
    // 512-byte sectors the volume occupies from its first sector: for NTFS one more
    // than its total, since the backup boot sector follows the last counted sector.
    std::uint64_t extentSectors = 0;
    // The bytes per sector the volume's own structures name (512 where they name none).
    std::uint32_t sectorBytes = 512;

    // extentSectors in sectors of unit bytes, a partial last one counted.
    std::uint64_t ExtentIn(std::uint32_t unit) const { return (extentSectors * 512 + unit - 1) / unit; }
};

// Byte offset from the volume start of the sector each header lives in.
inline constexpr std::size_t kHfsHeaderOffset = 1024;
inline constexpr std::size_t kExtSuperblockOffset = 1024;

// sector: the first sector of the volume. requireOemName: "NTFS" at 0x03 as well.
std::optional<BootMatch> TestNtfsBootSector(ByteView sector, bool requireOemName);
std::optional<BootMatch> TestExFatBootSector(ByteView sector);
std::optional<BootMatch> TestFatBootSector(ByteView sector);
// header: the bytes at volume start + 1024.
std::optional<BootMatch> TestHfsPlusHeader(ByteView header);
// superblock: the bytes at volume start + 1024 (at least 512 of them).
std::optional<BootMatch> TestExtSuperblock(ByteView superblock);

// The volume that begins at the first byte of start (give 2048 bytes or more so
// that the HFS+ and ext tests can run); boot sectors are tried before headers.
std::optional<BootMatch> DetectVolume(ByteView start, bool requireNtfsOemName = false);

// Whether a sector carries an MBR-style partition table: the 0x55AA signature,
// boot flags of 0x00 or 0x80 only, and at least one used entry.
bool HoldsPartitionTable(ByteView sector);

// The volume that a whole source (drive or image) is, when it is one: a boot
// sector at sector 0, or an HFS+ header or ext superblock behind a sector 0 that
// holds no partition table (a boot loader's sector is fine), so that a stale
// superblock under an MBR does not hide the partitions.
std::optional<BootMatch> DetectSourceVolume(ByteView head);

}  // namespace tarnwell
