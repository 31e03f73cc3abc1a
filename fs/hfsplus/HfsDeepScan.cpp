// The Deep way: every node-aligned place of the volume is tested for a catalog
// leaf node, which also finds leaves no longer in the tree (free nodes, a
// catalog that was moved or grown). Records whose CNID the live tree already
// has are left alone; the others are added, marked deleted.

#include <algorithm>

#include "fs/hfsplus/HfsPlusParser.h"

namespace tarnwell {

namespace {
// Large enough that a device streams, small enough to stay in the CPU's cache
// when the volume comes from the page cache (measured by bench/hfs-deep.sh).
constexpr std::size_t kScanChunk = 1 << 20;
// Catalog nodes are 4 KiB or 8 KiB on every volume made since 1998; with no
// readable header the smaller is tried.
constexpr std::uint32_t kDefaultNodeSize = 4096;

bool LooksLikeCatalogLeaf(const std::uint8_t* node, std::size_t size) {
    const std::uint16_t records = std::uint16_t(node[10] << 8 | node[11]);
    return node[8] == 0xFF && node[9] != 0 && node[size - 2] == 0x00 && node[size - 1] == 0x0E && records >= 1 &&
           records <= 999;
}
}  // namespace

bool HfsPlusParser::ScanCatalogNodes() {
    if (blockSize == 0) {
        Status(Event(Step::HfsBadBlockSize));
        return false;
    }
    deepScan = true;
    if (catalogNodeSize == 0) {
        HfsBTree tree;
        if (tree.Open(links_.view, MapFork(volumeHeader.catalogFile, kCatalogFileId, kDataFork)))
            catalogNodeSize = tree.NodeSize();
        else
            catalogNodeSize = kDefaultNodeSize;
        catalogBlocksPerNode = std::max<std::uint32_t>(1, catalogNodeSize / blockSize);
    }
    const std::size_t nodeSize = catalogNodeSize;
    // Nodes start on block boundaries of their fork, and a fork starts on one of the volume.
    const std::size_t step = std::min<std::size_t>(blockSize, nodeSize);
    std::uint64_t volumeBytes = std::uint64_t(volumeHeader.totalBlocks) * blockSize;
    if (links_.view.source().fileLength() > 0) volumeBytes = std::min(volumeBytes, links_.view.Available());
    if (volumeBytes < nodeSize) {
        Status(Event(Step::HfsBadBlockSize));
        return false;
    }
    Status(Event(Step::HfsScanningNodes));
    links_.progress->SetRange(0, static_cast<std::int64_t>(volumeBytes / blockSize));
    std::vector<std::uint8_t> buffer;
    for (std::uint64_t pos = 0; pos + nodeSize <= volumeBytes; pos += kScanChunk) {
        if (!Checkpoint()) break;
        const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk + nodeSize, volumeBytes - pos));
        buffer.resize(bytes);
        links_.view.ReadAt(static_cast<std::int64_t>(pos), buffer.data(), bytes);
        for (std::size_t off = 0; off < kScanChunk && off + nodeSize <= bytes; off += step) {
            if (!LooksLikeCatalogLeaf(buffer.data() + off, nodeSize)) continue;
            ByteView node(buffer.data() + off, nodeSize);
            // The node keeps the place where it was found.
            NodeInfo info = DecodeNode(node, (pos + off) / nodeSize);
            if (info.recordOffsets.empty()) continue;
            ParseCatalogLeaf(node, info, pos + off, true);
            // Kept without its record table: a volume may hold millions of node-like blocks.
            info.recordOffsets = {};
            info.recordLengths = {};
            catalogNodes.push_back(std::move(info));
        }
        links_.progress->SetPosition(static_cast<std::int64_t>((pos + bytes) / blockSize));
    }
    return true;
}

}  // namespace tarnwell
