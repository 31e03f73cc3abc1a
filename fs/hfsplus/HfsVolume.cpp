#include "fs/hfsplus/HfsVolume.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

HfsFork DecodeFork(ByteView b, std::size_t at) {
    HfsFork fork;
    fork.logicalSize = b.Be64(at);
    fork.totalBlocks = b.Be32(at + 12);
    for (int i = 0; i < 8; ++i) {
        HfsExtent e{b.Be32(at + 16 + 8 * i), b.Be32(at + 20 + 8 * i)};
        if (e.blockCount != 0) fork.extents.push_back(e);
    }
    return fork;
}

std::optional<HfsVolumeHeader> DecodeVolumeHeader(ByteView b) {
    if (!b.Has(0, 512)) return std::nullopt;
    HfsVolumeHeader h;
    const std::uint16_t version = b.Be16(2);
    if (b.Matches(0, "H+") && version == 4)
        h.hfsx = false;
    else if (b.Matches(0, "HX") && version == 5)
        h.hfsx = true;
    else
        return std::nullopt;
    h.blockSize = b.Be32(40);
    // A power of two from 512 bytes up; beyond 1 GiB no volume was ever made.
    if (h.blockSize < 512 || h.blockSize > (1u << 30) || (h.blockSize & (h.blockSize - 1)) != 0) return std::nullopt;
    h.totalBlocks = b.Be32(44);
    h.extentsFile = DecodeFork(b, 192);
    h.catalogFile = DecodeFork(b, 272);
    h.attributesFile = DecodeFork(b, 352);
    return h;
}

ForkMap::ForkMap(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType, const OverflowIndex* overflow,
                 std::uint32_t blockSize, std::uint32_t volumeBlocks)
    : logicalSize_(fork.logicalSize), blockSize_(blockSize) {
    if (blockSize == 0) return;
    const std::uint64_t needed = (fork.logicalSize + blockSize - 1) / blockSize;
    // The record's total blocks bounds the fork: blocks beyond it are not its own.
    const std::uint64_t limit = std::min<std::uint64_t>(needed, fork.totalBlocks);
    std::uint64_t listed = 0;
    bool inside = true;
    auto add = [&](const std::vector<HfsExtent>& extents) {
        std::uint64_t added = 0;
        for (const HfsExtent& e : extents) {
            if (e.blockCount == 0 || listed >= limit) continue;
            std::uint64_t count = std::min<std::uint64_t>(e.blockCount, limit - listed);
            std::uint64_t start = e.startBlock;
            std::uint64_t usable = start >= volumeBlocks ? 0 : std::min<std::uint64_t>(count, volumeBlocks - start);
            if (usable < count) inside = false;
            if (usable > 0) runs_.push_back({listed, start, usable});
            listed += count;
            added += count;
        }
        return added;
    };
    add(fork.extents);
    // Each overflow record continues where the blocks listed so far end; one that
    // adds nothing, or a chain longer than the records there are, ends the walk.
    for (std::size_t guard = 0; overflow != nullptr && listed < limit && guard <= overflow->size(); ++guard) {
        auto it = overflow->find({forkType, fileId, static_cast<std::uint32_t>(listed)});
        if (it == overflow->end() || listed > UINT32_MAX) break;
        if (add(it->second) == 0) break;
    }
    complete_ = inside && listed >= needed;
}

std::uint64_t ForkMap::MappedBytes() const {
    std::uint64_t blocks = 0;
    for (const Run& r : runs_) {
        if (r.fileBlock != blocks) break;
        blocks += r.count;
    }
    return std::min(logicalSize_, blocks * blockSize_);
}

std::uint64_t ForkMap::VolumeOffset(std::uint64_t offset) const {
    if (blockSize_ == 0) return UINT64_MAX;
    const std::uint64_t block = offset / blockSize_;
    for (const Run& r : runs_)
        if (block >= r.fileBlock && block < r.fileBlock + r.count)
            return (r.volumeBlock + block - r.fileBlock) * blockSize_ + offset % blockSize_;
    return UINT64_MAX;
}

bool ForkMap::Read(const VolumeView& reader, std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::memset(out, 0, count);
    if (blockSize_ == 0) return false;
    bool ok = true;
    std::uint64_t covered = 0;
    const std::uint64_t end = offset + count;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), offset / blockSize_,
                               [](std::uint64_t block, const Run& r) { return block < r.fileBlock; });
    if (it != runs_.begin()) --it;
    for (; it != runs_.end(); ++it) {
        std::uint64_t runStart = it->fileBlock * blockSize_, runEnd = runStart + it->count * blockSize_;
        if (runStart >= end) break;
        std::uint64_t from = std::max(runStart, offset), to = std::min(runEnd, end);
        if (from >= to) continue;
        std::uint64_t volumeAt = it->volumeBlock * blockSize_ + (from - runStart);
        ok &= reader.ReadAt(static_cast<std::int64_t>(volumeAt), out + (from - offset), static_cast<std::size_t>(to - from));
        covered += to - from;
    }
    return ok && covered == count;
}

}  // namespace tarnwell
