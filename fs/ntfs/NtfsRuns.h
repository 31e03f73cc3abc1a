#pragma once
// Where a non-resident attribute's clusters lie: mapping pairs (data runs),
// the attribute list that spreads a file's attributes over several records,
// and the map from a file's virtual clusters to the volume's.
//
// Mapping pairs: a header byte whose low nibble L sizes the run length and
// whose high nibble F sizes the run offset; L bytes of length (unsigned), then F
// bytes of offset (signed, from the previous run's start). F = 0: a sparse run.
// L = 0 ends the list. Every field is 64-bit.
//
// Attribute list entry: 0 type, 4 entry length, 6 name length, 8 lowest VCN,
// 16 file reference of the record holding the attribute (low 48 bits: number).

#include <cstdint>
#include <vector>

#include "core/ByteView.h"

namespace tarnwell::ntfsfmt {

struct ClusterRun {
    std::uint64_t vcn = 0;     // first cluster of the run within the attribute
    std::uint64_t length = 0;  // clusters
    std::int64_t lcn = 0;      // first cluster on the volume; meaningless when sparse
    bool sparse = false;
};

// Appends the runs of one attribute extent that starts at startVcn. False when
// the list is malformed (what came before the fault is kept).
bool DecodeRunList(ByteView pairs, std::uint64_t startVcn, std::vector<ClusterRun>& runs);

struct AttributeListEntry {
    std::uint32_t type = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t lowestVcn = 0;
    std::uint64_t record = 0;  // record number (48 bits)
    std::uint16_t sequence = 0;
};

std::vector<AttributeListEntry> DecodeAttributeList(ByteView list);

// The runs of a whole attribute, in VCN order, with lookups by VCN.
class RunMap {
public:
    RunMap() = default;
    explicit RunMap(std::vector<ClusterRun> runs);

    const std::vector<ClusterRun>& Runs() const { return runs_; }
    bool empty() const { return runs_.empty(); }
    // Clusters covered from VCN 0 without a gap.
    std::uint64_t ContiguousClusters() const;
    // The run holding vcn, or null.
    const ClusterRun* Find(std::uint64_t vcn) const;

private:
    std::vector<ClusterRun> runs_;
};

}  // namespace tarnwell::ntfsfmt
