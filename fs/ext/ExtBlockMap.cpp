#include "fs/ext/ExtBlockMap.h"

#include <algorithm>
#include <set>

namespace tarnwell::ext {

namespace {
constexpr std::uint16_t kExtentMagic = 0xF30A;
constexpr int kMaxDepth = 5;  // the kernel allows at most 5 levels below the inode

class Mapper {
public:
    Mapper(const VolumeView& reader, const Superblock& sb, std::uint64_t size)
        : reader_(reader), sb_(sb), fileBlocks_((size + sb.blockSize - 1) / sb.blockSize) {}

    BlockMap Take() {
        auto& runs = map_.runs;
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.logical < b.logical; });
        // Drop what a damaged tree maps twice; merge neighbours.
        std::vector<Run> clean;
        std::uint64_t next = 0;
        for (Run r : runs) {
            if (r.logical + r.count <= next) continue;
            if (r.logical < next) {
                std::uint64_t cut = next - r.logical;
                r.logical += cut;
                r.physical += cut;
                r.count -= cut;
                map_.damaged = true;
            }
            if (!clean.empty()) {
                Run& last = clean.back();
                if (last.logical + last.count == r.logical && last.physical + last.count == r.physical &&
                    last.unwritten == r.unwritten) {
                    last.count += r.count;
                    next = r.logical + r.count;
                    continue;
                }
            }
            clean.push_back(r);
            next = r.logical + r.count;
        }
        runs = std::move(clean);
        return std::move(map_);
    }

    // Adds blocks logical.. mapped to physical.., clipped to the file and the volume.
    void Add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool unwritten) {
        if (count == 0 || logical >= fileBlocks_) return;
        count = std::min(count, fileBlocks_ - logical);
        if (physical == 0 || physical >= sb_.blocksCount) {
            map_.damaged = true;
            return;
        }
        if (count > sb_.blocksCount - physical) {
            count = sb_.blocksCount - physical;
            map_.damaged = true;
        }
        if (!map_.runs.empty()) {
            Run& last = map_.runs.back();
            if (last.logical + last.count == logical && last.physical + last.count == physical &&
                last.unwritten == unwritten) {
                last.count += count;
                return;
            }
        }
        map_.runs.push_back({logical, physical, count, unwritten});
    }

    void ExtentNode(ByteView node, int expectedDepth) {
        std::uint16_t entries = node.Le16(2), max = node.Le16(4), depth = node.Le16(6);
        if (node.Le16(0) != kExtentMagic || entries > max || 12 + 12ULL * max > node.size() ||
            (expectedDepth >= 0 && depth != expectedDepth) || depth > kMaxDepth) {
            map_.damaged = true;
            return;
        }
        for (std::uint16_t i = 0; i < entries; ++i) {
            ByteView e = node.Sub(12 + 12u * i, 12);
            if (depth == 0) {
                std::uint32_t length = e.Le16(4);
                bool unwritten = length > 32768;
                if (unwritten) length -= 32768;
                std::uint64_t start = e.Le32(8) | (static_cast<std::uint64_t>(e.Le16(6)) << 32);
                Add(e.Le32(0), start, length, unwritten);
                continue;
            }
            if (e.Le32(0) >= fileBlocks_) continue;  // covers nothing the size reaches
            std::uint64_t child = e.Le32(4) | (static_cast<std::uint64_t>(e.Le16(8)) << 32);
            // A tree that names a node twice loops; read each node once.
            if (child == 0 || child >= sb_.blocksCount || !visited_.insert(child).second) {
                map_.damaged = true;
                continue;
            }
            std::vector<std::uint8_t> block(sb_.blockSize);
            if (!reader_.ReadAt(static_cast<std::int64_t>(child * sb_.blockSize), block.data(), block.size()))
                map_.damaged = true;
            ExtentNode(ByteView(block), depth - 1);
        }
    }

    // One level of the block map: pointer block at physical, describing the
    // file from logical on, each entry spanning span blocks.
    void Indirect(std::uint64_t physical, std::uint64_t logical, std::uint64_t span, int level) {
        if (logical >= fileBlocks_) return;
        if (physical >= sb_.blocksCount || !visited_.insert(physical).second) {
            map_.damaged = true;
            return;
        }
        std::vector<std::uint8_t> block(sb_.blockSize);
        if (!reader_.ReadAt(static_cast<std::int64_t>(physical * sb_.blockSize), block.data(), block.size()))
            map_.damaged = true;
        ByteView v(block);
        const std::uint64_t perBlock = sb_.blockSize / 4;
        for (std::uint64_t i = 0; i < perBlock; ++i) {
            std::uint64_t at = logical + i * span;
            if (at >= fileBlocks_) break;
            std::uint32_t p = v.Le32(i * 4);
            if (p == 0) continue;
            if (level == 1)
                Add(at, p, 1, false);
            else
                Indirect(p, at, span / perBlock, level - 1);
        }
    }

    void BlockPointers(ByteView area) {
        for (std::uint64_t i = 0; i < 12; ++i)
            if (std::uint32_t p = area.Le32(i * 4)) Add(i, p, 1, false);
        const std::uint64_t perBlock = sb_.blockSize / 4;
        std::uint64_t logical = 12, span = 1;
        for (int level = 1; level <= 3; ++level) {
            span *= perBlock;
            if (std::uint32_t p = area.Le32(48 + 4 * (level - 1))) Indirect(p, logical, span / perBlock, level);
            logical += span;
        }
    }

private:
    const VolumeView& reader_;
    const Superblock& sb_;
    std::uint64_t fileBlocks_;
    BlockMap map_;
    std::set<std::uint64_t> visited_;
};
}  // namespace

BlockMap MapBlocks(const VolumeView& reader, const Superblock& sb, ByteView blockArea, bool extents,
                   std::uint64_t size) {
    Mapper m(reader, sb, size);
    if (extents)
        m.ExtentNode(blockArea.Sub(0, 60), -1);
    else
        m.BlockPointers(blockArea.Sub(0, 60));
    return m.Take();
}

}  // namespace tarnwell::ext
