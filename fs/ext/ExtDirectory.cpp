#include "fs/ext/ExtDirectory.h"

namespace tarnwell::ext {

namespace {
struct Raw {
    std::uint32_t inode;
    std::uint32_t recLen;
    std::uint32_t nameLen;
    std::uint8_t type;
};

Raw Decode(ByteView b, std::size_t q, const DirBlockOptions& o) {
    Raw r{b.Le32(q), b.Le16(q + 4), 0, 0};
    if (o.blockSize >= 65536) {
        // Record lengths of 64 KiB blocks keep their two high bits in the low ones.
        r.recLen = (r.recLen == 65535 || r.recLen == 0) ? 65536 : ((r.recLen & 65532) | ((r.recLen & 3) << 16));
    }
    if (o.hasFileType) {
        r.nameLen = b.U8(q + 6);
        r.type = b.U8(q + 7);
    } else {
        r.nameLen = b.Le16(q + 6);
    }
    return r;
}

std::size_t Aligned(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

bool PlausibleName(std::string_view name) {
    for (char c : name)
        if (c == '\0' || c == '/') return false;
    return !name.empty();
}

// A deleted entry found in slack [from, end): no record length to trust but its own.
bool SlackEntry(ByteView b, std::size_t p, std::size_t end, const DirBlockOptions& o, DirEntry& e) {
    if (p + 8 > end) return false;
    Raw r = Decode(b, p, o);
    if (r.inode == 0 || r.inode > o.inodesCount || r.nameLen == 0 || r.nameLen > 255) return false;
    if (r.recLen < 12 || r.recLen % 4 != 0 || r.recLen < 8 + r.nameLen || p + 8 + r.nameLen > end) return false;
    if (p + r.recLen > b.size()) return false;
    if (o.hasFileType && r.type > 7) return false;
    std::string_view name(reinterpret_cast<const char*>(b.data()) + p + 8, r.nameLen);
    if (!PlausibleName(name)) return false;
    e = {r.inode, r.type, true, name};
    return true;
}

void ScanSlack(ByteView b, std::size_t from, std::size_t end, const DirBlockOptions& o, std::vector<DirEntry>& out) {
    for (std::size_t p = from; p + 12 <= end;) {
        DirEntry e;
        if (SlackEntry(b, p, end, o, e)) {
            out.push_back(e);
            p += Aligned(8 + e.name.size());
        } else {
            p += 4;
        }
    }
}
}  // namespace

void ParseDirBlock(ByteView b, const DirBlockOptions& o, std::vector<DirEntry>& out) {
    const std::size_t end = b.size();
    for (std::size_t q = 0; q + 8 <= end;) {
        Raw r = Decode(b, q, o);
        // An invalid record ends the block: nothing after it can be located.
        if (r.recLen < 12 || r.recLen % 4 != 0 || r.recLen < 8 + r.nameLen || r.recLen > end - q) return;
        std::size_t used = 8;
        bool indexData = o.indexed && r.inode == 0 && r.nameLen == 0;
        if (r.inode != 0 && r.inode <= o.inodesCount && r.nameLen > 0) {
            std::string_view name(reinterpret_cast<const char*>(b.data()) + q + 8, r.nameLen);
            out.push_back({r.inode, o.hasFileType ? r.type : std::uint8_t{0}, false, name});
            used = Aligned(8 + r.nameLen);
            // In an htree root, ".." spans the index data that follows it.
            if (o.indexed && q > 0 && name == "..") indexData = true;
        } else if (r.inode == 0 && r.nameLen > 0) {
            // The first record of a block is cleared, not merged, when its file
            // is deleted: the name stays, the inode number does not.
            std::string_view name(reinterpret_cast<const char*>(b.data()) + q + 8, r.nameLen);
            if (PlausibleName(name)) out.push_back({0, o.hasFileType ? r.type : std::uint8_t{0}, true, name});
            used = Aligned(8 + r.nameLen);
        }
        if (!indexData) ScanSlack(b, q + used, q + r.recLen, o, out);
        q += r.recLen;
    }
}

}  // namespace tarnwell::ext
