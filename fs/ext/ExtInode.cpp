#include "fs/ext/ExtInode.h"

#include <algorithm>

namespace tarnwell::ext {

namespace {
// A 32-bit time with its extra field: two epoch bits past 2038, then nanoseconds.
FileTime Time(ByteView raw, std::size_t at, std::size_t extraAt, bool hasExtra) {
    std::int64_t seconds = raw.LeS32(at);
    std::uint32_t ns = 0;
    if (hasExtra) {
        std::uint32_t extra = raw.Le32(extraAt);
        seconds += static_cast<std::int64_t>(extra & 3) << 32;
        ns = extra >> 2;
        if (ns > 999999999) ns = 0;
    }
    return FileTime::Utc(seconds, ns);
}
}  // namespace

Inode DecodeInode(ByteView raw, bool largeDirs) {
    Inode n;
    n.mode = raw.Le16(0);
    n.size = raw.Le32(4);
    if (n.Type() == kRegular || (n.Type() == kDir && largeDirs)) n.size |= static_cast<std::uint64_t>(raw.Le32(108)) << 32;
    n.dtime = raw.Le32(20);
    n.links = raw.Le16(26);
    n.sectors = raw.Le32(28) | (static_cast<std::uint64_t>(raw.Le16(116)) << 32);
    n.flags = raw.Le32(32);
    n.fileAcl = raw.Le32(104) | (static_cast<std::uint64_t>(raw.Le16(118)) << 32);

    // The extra fields exist where i_extra_isize reaches over them.
    std::size_t extraEnd = 128;
    if (raw.size() > 128) extraEnd = std::min<std::size_t>(raw.size(), 128 + raw.Le16(128));
    auto covers = [&](std::size_t at) { return at + 4 <= extraEnd; };
    n.changed = Time(raw, 12, 132, covers(132));
    n.modified = Time(raw, 16, 136, covers(136));
    n.accessed = Time(raw, 8, 140, covers(140));
    if (covers(144)) n.created = Time(raw, 144, 148, covers(148));
    return n;
}

std::uint64_t MaxFileBytes(const Inode& n, std::uint32_t blockSize) {
    const std::uint64_t bs = blockSize;
    if (n.flags & kFlagExtents) return (std::uint64_t{1} << 32) * bs;
    const std::uint64_t p = bs / 4;
    return (12 + p + p * p + p * p * p) * bs;
}

bool IsFastSymlink(const Inode& n, std::uint32_t blockSize) {
    if (n.Type() != kSymlink || n.size >= kBlockAreaSize) return false;
    if (n.flags & (kFlagExtents | kFlagInline)) return false;
    std::uint64_t aclSectors = n.fileAcl != 0 ? blockSize / 512 : 0;
    return n.sectors <= aclSectors;
}

std::string InlineData(ByteView raw, std::uint64_t limit) {
    std::string out;
    std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(limit, kBlockAreaSize));
    ByteView area = raw.Sub(kBlockArea, first);
    out.assign(reinterpret_cast<const char*>(area.data()), area.size());
    if (limit <= kBlockAreaSize || raw.size() <= 128) return out;

    // In-inode attributes: 4-byte magic, then entries of name length (1), name
    // index (1), value offset (2, from the first entry), value inode (4),
    // value size (4), hash (4), name; the list ends with four zero bytes.
    std::size_t start = 128 + raw.Le16(128);
    if (raw.Le32(start) != 0xEA020000) return out;
    ByteView entries = raw.Sub(start + 4);
    for (std::size_t at = 0; entries.Has(at, 16) && entries.Le32(at) != 0;) {
        std::uint8_t nameLength = entries.U8(at);
        std::uint8_t index = entries.U8(at + 1);
        std::uint16_t valueAt = entries.Le16(at + 2);
        std::uint32_t valueSize = entries.Le32(at + 8);
        if (index == 7 && nameLength == 4 && entries.Matches(at + 16, "data")) {
            std::uint64_t want = std::min<std::uint64_t>(valueSize, limit - kBlockAreaSize);
            ByteView value = entries.Sub(valueAt, static_cast<std::size_t>(want));
            out.append(reinterpret_cast<const char*>(value.data()), value.size());
            break;
        }
        at += (16 + nameLength + 3) & ~std::size_t{3};
    }
    return out;
}

}  // namespace tarnwell::ext
