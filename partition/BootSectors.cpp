#include "partition/BootSectors.h"

#include <bit>

#include "partition/FatBootSector.h"

namespace tarnwell {

namespace {
// Nothing we read is anywhere near this many sectors (2^48 × 512 = 128 PiB); a
// larger count is garbage and must not overflow the byte arithmetic.
constexpr std::uint64_t kMaxSectors = 1ULL << 48;

FsType TypeOf(BootKind kind) {
    switch (kind) {
        case BootKind::Ntfs: return FsType::Ntfs;
        case BootKind::Fat12: return FsType::Fat12;
        case BootKind::Fat16: return FsType::Fat16;
        case BootKind::Fat32: return FsType::Fat32;
        case BootKind::ExFat: return FsType::ExFat;
        case BootKind::HfsPlus: return FsType::HfsPlus;
        case BootKind::Ext: return FsType::Ext;
    }
    return FsType::Unknown;
}

BootMatch Match(BootKind kind, std::uint64_t bytes, std::uint64_t extra = 0, std::uint32_t sectorBytes = 512) {
    return {kind, TypeOf(kind), bytes, bytes / 512 + extra, sectorBytes};
}

BootMatch Absurd(BootKind kind, std::uint32_t sectorBytes = 512) { return {kind, TypeOf(kind), 0, 0, sectorBytes}; }

// ext3 is ext2 with a journal; anything past what ext3 knew makes it ext4:
// an incompatible feature other than filetype, recover and meta_bg (0x02,
// 0x04, 0x10), or a read-only one other than sparse_super, large_file and
// btree_dir (0x01, 0x02, 0x04). Compatible features at 0x5C (0x04: journal).
FsType ExtGeneration(ByteView sb) {
    if ((sb.Le32(0x60) & ~0x16u) != 0 || (sb.Le32(0x64) & ~0x07u) != 0) return FsType::Ext4;
    return (sb.Le32(0x5C) & 0x04) ? FsType::Ext3 : FsType::Ext2;
}
}  // namespace

// NTFS boot sector: 0x00 jump EB 52, 0x03 OEM "NTFS    ", 0x0B bytes per sector
// (16-bit, 512 to 4096), 0x28 total sectors (64-bit, the backup boot sector excluded).
std::optional<BootMatch> TestNtfsBootSector(ByteView s, bool requireOemName) {
    if (!s.Has(0, 512) || s.U8(0) != 0xEB || s.U8(1) != 0x52) return std::nullopt;
    const std::uint32_t bps = s.Le16(0x0B);
    if (bps < 512 || bps > 4096 || !std::has_single_bit(bps)) return std::nullopt;
    if (requireOemName && !s.Matches(3, "NTFS")) return std::nullopt;
    std::int64_t total = s.LeS64(0x28);
    if (total <= 0 || std::uint64_t(total) >= kMaxSectors / (bps / 512)) return Absurd(BootKind::Ntfs, bps);
    return Match(BootKind::Ntfs, std::uint64_t(total) * bps, bps / 512, bps);
}

// exFAT boot sector: 0x00 jump EB 76 (3C and 58 seen too), 0x03 "EXFAT   ",
// 0x48 volume length in sectors (64-bit), 0x6C log2 of the bytes per sector.
std::optional<BootMatch> TestExFatBootSector(ByteView s) {
    if (!s.Has(0, 512) || s.U8(0) != 0xEB) return std::nullopt;
    std::uint8_t j = s.U8(1);
    if ((j != 0x3C && j != 0x58 && j != 0x76) || !s.Matches(3, "EXFA")) return std::nullopt;
    std::int64_t length = s.LeS64(0x48);
    std::uint8_t shift = s.U8(0x6C);
    if (shift < 9 || shift > 12) shift = 9;  // keep the 512-byte reading of a damaged field
    if (length <= 0 || std::uint64_t(length) >= kMaxSectors) return Absurd(BootKind::ExFat, 1u << shift);
    return Match(BootKind::ExFat, (std::uint64_t(length) << (shift - 9)) * 512, 0, 1u << shift);
}

std::optional<BootMatch> TestFatBootSector(ByteView s) {
    auto p = ParseFatBootSector(s);
    if (!p) return std::nullopt;
    BootKind kind = p->kind == FatKind::Fat12 ? BootKind::Fat12 : p->kind == FatKind::Fat16 ? BootKind::Fat16
                                                                                            : BootKind::Fat32;
    if (p->totalSectors >= kMaxSectors) return Absurd(kind, p->bytesPerSector);
    return Match(kind, p->VolumeBytes(), 0, p->bytesPerSector);
}

// HFS+ volume header (big-endian): 0x00 signature "H+" (HFSX: "HX"), 0x02 version
// (4, HFSX 5), 0x28 block size, 0x2C total blocks.
std::optional<BootMatch> TestHfsPlusHeader(ByteView h) {
    if (!h.Has(0, 512) || h.U8(0) != 'H' || (h.U8(1) != '+' && h.U8(1) != 'X')) return std::nullopt;
    std::uint16_t version = h.Be16(2);
    if (version != 4 && version != 5) return std::nullopt;
    std::uint32_t blockSize = h.Be32(0x28);
    if (blockSize < 512 || !std::has_single_bit(blockSize)) return std::nullopt;
    std::uint64_t bytes = std::uint64_t(blockSize) * h.Be32(0x2C);
    BootMatch m = Match(BootKind::HfsPlus, bytes);
    if (h.U8(1) == 'X') m.type = FsType::HfsX;
    return m;
}

// ext2/3/4 superblock: 0x00 inodes, 0x04 blocks (low 32 bits), 0x18 log2(block
// size) − 10, 0x20 blocks per group, 0x28 inodes per group, 0x38 magic EF53,
// 0x5A number of the group holding this copy, 0x60 incompatible features (0x08:
// journal device, 0x80: 64-bit block numbers, high half at 0x150).
std::optional<BootMatch> TestExtSuperblock(ByteView sb) {
    if (!sb.Has(0, 512) || sb.Le16(0x38) != 0xEF53) return std::nullopt;
    std::uint32_t logBlock = sb.Le32(0x18);
    if (logBlock > 6) return std::nullopt;  // 1 KiB .. 64 KiB blocks
    if (sb.Le32(0x00) == 0 || sb.Le32(0x20) == 0 || sb.Le32(0x28) == 0) return std::nullopt;
    // A backup copy in a later group is not where a volume begins, and an
    // external journal (incompatible feature 0x08) holds no files.
    if (sb.Le16(0x5A) != 0 || (sb.Le32(0x60) & 0x08)) return std::nullopt;
    std::uint64_t blocks = sb.Le32(0x04);
    if (sb.Le32(0x60) & 0x80) blocks |= std::uint64_t(sb.Le32(0x150)) << 32;
    std::uint64_t blockSize = 1024ULL << logBlock;
    if (blocks == 0) return std::nullopt;
    BootMatch m = blocks >= kMaxSectors / (blockSize / 512) ? Absurd(BootKind::Ext) : Match(BootKind::Ext, blocks * blockSize);
    m.type = ExtGeneration(sb);
    return m;
}

std::optional<BootMatch> DetectVolume(ByteView start, bool requireNtfsOemName) {
    ByteView first = start.Sub(0, 512);
    if (auto m = TestNtfsBootSector(first, requireNtfsOemName)) return m;
    if (auto m = TestExFatBootSector(first)) return m;
    if (auto m = TestFatBootSector(first)) return m;
    if (auto m = TestHfsPlusHeader(start.Sub(kHfsHeaderOffset, 512))) return m;
    if (auto m = TestExtSuperblock(start.Sub(kExtSuperblockOffset, 1024))) return m;
    return std::nullopt;
}

bool HoldsPartitionTable(ByteView s) {
    if (!s.Has(0, 512) || s.U8(510) != 0x55 || s.U8(511) != 0xAA) return false;
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        ByteView e = s.Sub(0x1BE + 16 * i, 16);
        std::uint8_t flag = e.U8(0), type = e.U8(4);
        if (flag != 0x00 && flag != 0x80) return false;  // boot code, not a table
        if (type != 0 && e.Le32(8) != 0 && e.Le32(12) != 0) any = true;
    }
    return any;
}

std::optional<BootMatch> DetectSourceVolume(ByteView head) {
    ByteView first = head.Sub(0, 512);
    if (auto m = TestNtfsBootSector(first, false)) return m;
    if (auto m = TestExFatBootSector(first)) return m;
    if (auto m = TestFatBootSector(first)) return m;
    if (HoldsPartitionTable(first)) return std::nullopt;
    return DetectVolume(head);
}

}  // namespace tarnwell
