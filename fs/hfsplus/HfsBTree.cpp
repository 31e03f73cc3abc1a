#include "fs/hfsplus/HfsBTree.h"

#include <algorithm>
#include <bit>

namespace tarnwell {

namespace {
constexpr std::size_t kWindowBytes = 1 << 20;

bool UsableNodeSize(std::uint32_t size) { return size >= 512 && size <= 32768 && std::has_single_bit(size); }
}  // namespace

NodeInfo DecodeNode(ByteView b, std::uint64_t number) {
    NodeInfo info;
    info.nodeNumber = number;
    info.forwardLink = b.Be32(0);
    info.kind = static_cast<std::int8_t>(b.U8(8));
    info.height = b.U8(9);
    info.numRecords = b.Be16(10);
    const std::size_t size = b.size();
    if (size < 512) return info;
    // The table holds one offset per record plus the free-space offset.
    const std::size_t maxRecords = (size - kNodeDescriptorSize) / 2 - 1;
    if (info.numRecords == 0 || info.numRecords > maxRecords) return info;
    const std::size_t tableStart = size - 2 * (std::size_t(info.numRecords) + 1);
    std::size_t freeSpace = b.Be16(tableStart);
    if (freeSpace > tableStart || freeSpace < kNodeDescriptorSize) freeSpace = tableStart;
    std::size_t previous = 0;
    for (std::size_t i = 0; i < info.numRecords; ++i) {
        std::size_t offset = b.Be16(size - 2 * (i + 1));
        if (offset % 2 != 0 || offset < kNodeDescriptorSize || offset <= previous || offset >= freeSpace) continue;
        std::size_t next = i + 1 < info.numRecords ? b.Be16(size - 2 * (i + 2)) : freeSpace;
        if (next <= offset || next > freeSpace) next = freeSpace;
        info.recordOffsets.push_back(static_cast<std::uint16_t>(offset));
        info.recordLengths.push_back(static_cast<std::uint16_t>(next - offset));
        previous = offset;
    }
    return info;
}

std::optional<BTreeHeader> DecodeHeaderNode(ByteView b) {
    if (!b.Has(0, kNodeDescriptorSize + 106)) return std::nullopt;
    if (static_cast<std::int8_t>(b.U8(8)) != kHeaderNode || b.Be16(10) == 0) return std::nullopt;
    const std::size_t r = kNodeDescriptorSize;
    BTreeHeader h;
    h.rootNode = b.Be32(r + 2);
    h.firstLeaf = b.Be32(r + 10);
    h.lastLeaf = b.Be32(r + 14);
    h.nodeSize = b.Be16(r + 18);
    h.totalNodes = b.Be32(r + 22);
    h.compareType = b.U8(r + 37);
    if (!UsableNodeSize(h.nodeSize)) return std::nullopt;
    return h;
}

bool HfsBTree::Open(const VolumeView& reader, ForkMap fork) {
    reader_ = &reader;
    fork_ = std::move(fork);
    window_.clear();
    windowNodes_ = 0;
    nodeCount_ = 0;
    std::vector<std::uint8_t> first(512);
    fork_.Read(reader, 0, first.data(), first.size());
    auto header = DecodeHeaderNode(ByteView(first));
    if (!header) return false;
    header_ = *header;
    nodeCount_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(header_.totalNodes, fork_.MappedBytes() / header_.nodeSize));
    return nodeCount_ > 0;
}

bool HfsBTree::ReadNode(std::uint32_t n, std::vector<std::uint8_t>& out) {
    if (n >= nodeCount_ || reader_ == nullptr) return false;
    const std::size_t size = header_.nodeSize;
    if (n < windowFirst_ || n >= windowFirst_ + windowNodes_) {
        windowFirst_ = n;
        windowNodes_ = std::min<std::uint64_t>(std::max<std::size_t>(1, kWindowBytes / size), nodeCount_ - n);
        window_.resize(windowNodes_ * size);
        windowOk_ = fork_.Read(*reader_, std::uint64_t(n) * size, window_.data(), window_.size());
        if (!windowOk_) {
            // Read the one node alone, so that a bad sector elsewhere in the
            // window does not spoil it.
            windowNodes_ = 1;
            window_.resize(size);
            windowOk_ = fork_.Read(*reader_, std::uint64_t(n) * size, window_.data(), size);
        }
    }
    if (windowNodes_ == 1 && !windowOk_) return false;
    auto from = window_.begin() + static_cast<std::ptrdiff_t>((n - windowFirst_) * size);
    out.assign(from, from + static_cast<std::ptrdiff_t>(size));
    return true;
}

}  // namespace tarnwell
