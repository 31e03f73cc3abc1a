#include "fs/ext/ExtSuperblock.h"

#include <algorithm>
#include <bit>

namespace tarnwell::ext {

namespace {
// More groups than this is no real volume (a 64 TiB volume of 4 KiB blocks
// has 512 Ki groups); refusing keeps the descriptor table's allocation bounded.
constexpr std::uint64_t kMaxGroups = 1ULL << 22;

bool IsPowerOf(std::uint64_t n, std::uint64_t base) {
    if (n == 0) return false;
    while (n % base == 0) n /= base;
    return n == 1;
}

}  // namespace

std::optional<Superblock> DecodeSuperblock(ByteView b) {
    if (!b.Has(0, 1024) || b.Le16(56) != kMagic) return std::nullopt;
    Superblock sb;
    std::uint32_t logBlock = b.Le32(24);
    if (logBlock > 6) return std::nullopt;  // 1 KiB to 64 KiB
    sb.blockSize = 1024u << logBlock;
    sb.inodesCount = b.Le32(0);
    sb.blocksCount = b.Le32(4);
    sb.firstDataBlock = b.Le32(20);
    sb.blocksPerGroup = b.Le32(32);
    sb.inodesPerGroup = b.Le32(40);
    sb.revLevel = b.Le32(76);
    sb.blockGroupNr = b.Le16(90);
    sb.featureCompat = b.Le32(92);
    sb.featureIncompat = b.Le32(96);
    sb.featureRoCompat = b.Le32(100);
    if (sb.revLevel >= 1) {
        sb.firstInode = b.Le32(84);
        sb.inodeSize = b.Le16(88);
    }
    if (sb.Is64Bit()) {
        sb.blocksCount |= static_cast<std::uint64_t>(b.Le32(336)) << 32;
        std::uint32_t ds = b.Le16(254);
        sb.descSize = ds == 0 ? 32 : (ds >= 64 && ds <= 1024 && std::has_single_bit(ds) ? ds : 64);
    }
    sb.firstMetaBg = b.Le32(260);
    sb.backupGroups[0] = b.Le32(588);
    sb.backupGroups[1] = b.Le32(592);

    const std::uint64_t bitsPerBlock = 8ULL * sb.blockSize;
    if (sb.blocksPerGroup == 0 || sb.blocksPerGroup > bitsPerBlock) return std::nullopt;
    if (sb.inodesPerGroup == 0 || sb.inodesPerGroup > bitsPerBlock) return std::nullopt;
    if (sb.inodeSize < 128 || sb.inodeSize > sb.blockSize || !std::has_single_bit(sb.inodeSize)) return std::nullopt;
    if (sb.inodesCount == 0 || sb.blocksCount <= sb.firstDataBlock || sb.firstDataBlock > 1) return std::nullopt;
    if (sb.firstInode < 3 || sb.firstInode > sb.inodesCount) sb.firstInode = 11;

    sb.groupCount = (sb.blocksCount - sb.firstDataBlock + sb.blocksPerGroup - 1) / sb.blocksPerGroup;
    if (sb.groupCount == 0 || sb.groupCount > kMaxGroups) return std::nullopt;
    if (sb.inodesCount > sb.groupCount * sb.inodesPerGroup) return std::nullopt;
    return sb;
}

bool GroupHasSuperblock(const Superblock& sb, std::uint64_t g) {
    if (g == 0) return true;
    if (sb.featureCompat & kCompatSparseSuper2) return g == sb.backupGroups[0] || g == sb.backupGroups[1];
    if (!(sb.featureRoCompat & kRoCompatSparseSuper)) return true;
    return g == 1 || IsPowerOf(g, 3) || IsPowerOf(g, 5) || IsPowerOf(g, 7);
}

namespace {
Group DecodeGroup(const Superblock& sb, ByteView d) {
    Group g;
    g.inodeTable = d.Le32(8);
    std::uint32_t unused = 0, flags = 0;
    if (sb.HasGroupChecksums()) {
        flags = d.Le16(0x12);
        unused = d.Le16(0x1C);
    }
    if (sb.Is64Bit() && sb.descSize >= 64) {
        g.inodeTable |= static_cast<std::uint64_t>(d.Le32(0x28)) << 32;
        if (sb.HasGroupChecksums()) unused |= static_cast<std::uint32_t>(d.Le16(0x32)) << 16;
    }
    if (unused > sb.inodesPerGroup) unused = 0;  // damaged: read the whole table
    g.inodesInUse = (flags & 0x1) ? 0 : sb.inodesPerGroup - unused;  // 0x1: INODE_UNINIT
    std::uint64_t tableBlocks = (static_cast<std::uint64_t>(sb.inodesPerGroup) * sb.inodeSize + sb.blockSize - 1) /
                                sb.blockSize;
    if (g.inodeTable == 0 || g.inodeTable >= sb.blocksCount || tableBlocks > sb.blocksCount - g.inodeTable)
        g.inodeTable = 0;
    return g;
}
}  // namespace

std::vector<Group> ReadGroupDescriptors(const VolumeView& reader, const Superblock& sb,
                                        std::uint64_t superblockOffset) {
    const std::uint64_t bs = sb.blockSize;
    const std::uint64_t perBlock = bs / sb.descSize;
    std::vector<Group> groups(sb.groupCount);

    // Groups described by the table that follows the superblock (all of them
    // unless meta_bg moves the later ones into their meta groups).
    std::uint64_t inTable = sb.groupCount;
    if (sb.MetaBg()) inTable = std::min<std::uint64_t>(sb.groupCount, sb.firstMetaBg * perBlock);
    if (inTable > 0) {
        std::uint64_t tableBlock = superblockOffset / bs + 1;
        std::uint64_t blocks = (inTable + perBlock - 1) / perBlock;
        std::vector<std::uint8_t> table(blocks * bs);
        reader.ReadAt(static_cast<std::int64_t>(tableBlock * bs), table.data(), table.size());
        ByteView view(table);
        for (std::uint64_t g = 0; g < inTable; ++g) groups[g] = DecodeGroup(sb, view.Sub(g * sb.descSize, sb.descSize));
    }

    // meta_bg: one descriptor block at the start of each meta group, after its superblock copy.
    std::vector<std::uint8_t> block(bs);
    for (std::uint64_t first = inTable; first < sb.groupCount; first += perBlock) {
        std::uint64_t at = first * sb.blocksPerGroup + sb.firstDataBlock + (GroupHasSuperblock(sb, first) ? 1 : 0);
        reader.ReadAt(static_cast<std::int64_t>(at * bs), block.data(), block.size());
        ByteView view(block);
        for (std::uint64_t g = first; g < std::min(sb.groupCount, first + perBlock); ++g)
            groups[g] = DecodeGroup(sb, view.Sub((g - first) * sb.descSize, sb.descSize));
    }
    return groups;
}

}  // namespace tarnwell::ext
