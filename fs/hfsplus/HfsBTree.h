#pragma once
// HFS+ B-tree nodes and records (catalog, extents overflow, attributes).
//
// Node descriptor, 14 bytes: 0 forward link, 4 backward link, 8 kind (signed:
// -1 leaf, 0 index, 1 header, 2 map), 9 height, 10 number of records.
// Record offsets are 16-bit values at the node's end, the first record's in
// the last two bytes; one more behind the last record gives the free space.
// Header record (node 0, at 14): 0 depth, 2 root, 6 leaf records, 10 first
// leaf, 14 last leaf, 18 node size, 20 max key length, 22 total nodes,
// 26 free nodes, 37 key compare type (0xCF case folding, 0xBC binary).

#include <cstdint>
#include <optional>
#include <vector>

#include "core/ByteView.h"
#include "device/VolumeView.h"
#include "fs/hfsplus/HfsVolume.h"

namespace tarnwell {

inline constexpr std::int8_t kLeafNode = -1;
inline constexpr std::int8_t kIndexNode = 0;
inline constexpr std::int8_t kHeaderNode = 1;
inline constexpr std::int8_t kMapNode = 2;
inline constexpr std::size_t kNodeDescriptorSize = 14;

// A node found in a B-tree; records are (offset, length) pairs that passed the
// checks against the node.
struct NodeInfo {
    std::uint64_t nodeNumber = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
    std::uint32_t forwardLink = 0;
    std::vector<std::uint16_t> recordOffsets;
    std::vector<std::uint16_t> recordLengths;
};

// Decodes a node's descriptor and its record table. Offsets must be even,
// ascending, at least 14 and below the free-space offset; records that fail
// are left out.
NodeInfo DecodeNode(ByteView node, std::uint64_t number);

struct BTreeHeader {
    std::uint32_t rootNode = 0;
    std::uint32_t firstLeaf = 0;
    std::uint32_t lastLeaf = 0;
    std::uint16_t nodeSize = 0;
    std::uint32_t totalNodes = 0;
    std::uint8_t compareType = 0;
};

// Nothing unless node is a header node with a node size that is a power of two
// from 512 to 32,768.
std::optional<BTreeHeader> DecodeHeaderNode(ByteView node);

// One B-tree file, read through its fork map. Node n lies at n x node size of
// the fork; reads go ahead in large pieces, as leaves mostly follow each other.
class HfsBTree {
public:
    // False when the header node cannot be read or is not one.
    bool Open(const VolumeView& reader, ForkMap fork);

    const BTreeHeader& Header() const { return header_; }
    std::uint32_t NodeSize() const { return header_.nodeSize; }
    // Nodes the fork can hold: the header's total, bounded by the fork's size.
    std::uint32_t NodeCount() const { return nodeCount_; }

    // The bytes of node n (nodeSize of them); false when n is out of range or
    // could not be read whole.
    bool ReadNode(std::uint32_t n, std::vector<std::uint8_t>& out);

    // Visits the leaves along the chain from the first leaf, each node at most
    // once, stopping at a node that is not a leaf. visit returns false to stop.
    template <typename Visit>
    void WalkLeaves(Visit visit);

private:
    const VolumeView* reader_ = nullptr;
    ForkMap fork_;
    BTreeHeader header_;
    std::uint32_t nodeCount_ = 0;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowFirst_ = 0, windowNodes_ = 0;
    bool windowOk_ = false;
};

template <typename Visit>
void HfsBTree::WalkLeaves(Visit visit) {
    std::vector<bool> seen(nodeCount_, false);
    std::vector<std::uint8_t> node;
    for (std::uint32_t n = header_.firstLeaf; n != 0 && n < nodeCount_ && !seen[n];) {
        seen[n] = true;
        if (!ReadNode(n, node)) break;
        NodeInfo info = DecodeNode(ByteView(node), n);
        if (info.kind != kLeafNode) break;
        if (!visit(ByteView(node), info)) break;
        n = info.forwardLink;
    }
}

}  // namespace tarnwell
