#include "fs/ntfs/NtfsRuns.h"

#include <algorithm>

namespace tarnwell::ntfsfmt {

namespace {
// No volume has more clusters than this; a longer run is garbage.
constexpr std::uint64_t kMaxClusters = 1ULL << 40;  // keeps cluster × cluster size within 64 bits
}  // namespace

bool DecodeRunList(ByteView pairs, std::uint64_t startVcn, std::vector<ClusterRun>& runs) {
    std::size_t i = 0;
    std::int64_t lcn = 0;
    std::uint64_t vcn = startVcn;
    while (i < pairs.size()) {
        std::uint8_t header = pairs.U8(i);
        std::size_t lengthBytes = header & 0x0F;
        std::size_t offsetBytes = header >> 4;
        if (lengthBytes == 0) return true;
        if (lengthBytes > 8 || offsetBytes > 8 || !pairs.Has(i + 1, lengthBytes + offsetBytes)) return false;
        std::uint64_t length = pairs.Le(i + 1, lengthBytes);
        if (length == 0 || length > kMaxClusters || vcn > kMaxClusters) return false;
        ClusterRun run;
        run.vcn = vcn;
        run.length = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            std::uint64_t raw = pairs.Le(i + 1 + lengthBytes, offsetBytes);
            if (offsetBytes < 8 && (raw >> (offsetBytes * 8 - 1)) & 1) raw |= ~0ULL << (offsetBytes * 8);
            // Wrapping arithmetic: a hostile offset must not be undefined behaviour.
            lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(lcn) + raw);
            if (lcn < 0 || static_cast<std::uint64_t>(lcn) > kMaxClusters) return false;
            run.lcn = lcn;
        }
        runs.push_back(run);
        vcn += length;
        i += 1 + lengthBytes + offsetBytes;
    }
    return false;  // ran out of bytes before the end marker
}

std::vector<AttributeListEntry> DecodeAttributeList(ByteView list) {
    std::vector<AttributeListEntry> out;
    std::size_t i = 0;
    while (list.Has(i, 26)) {
        std::uint16_t length = list.Le16(i + 4);
        std::uint32_t type = list.Le32(i);
        if (type == 0 || type == 0xFFFFFFFF || length < 26) break;
        AttributeListEntry e;
        e.type = type;
        e.nameLength = list.U8(i + 6);
        e.lowestVcn = list.Le64(i + 8);
        std::uint64_t reference = list.Le64(i + 16);
        e.record = reference & 0x0000FFFFFFFFFFFFULL;
        e.sequence = static_cast<std::uint16_t>(reference >> 48);
        out.push_back(e);
        i += length;
    }
    return out;
}

RunMap::RunMap(std::vector<ClusterRun> runs) : runs_(std::move(runs)) {
    std::stable_sort(runs_.begin(), runs_.end(), [](const ClusterRun& a, const ClusterRun& b) { return a.vcn < b.vcn; });
    // Drop runs that overlap an earlier one: two extents claiming the same VCNs.
    std::vector<ClusterRun> kept;
    std::uint64_t next = 0;
    for (const ClusterRun& r : runs_) {
        if (!kept.empty() && r.vcn < next) continue;
        kept.push_back(r);
        next = r.vcn + r.length;
    }
    runs_ = std::move(kept);
}

std::uint64_t RunMap::ContiguousClusters() const {
    std::uint64_t next = 0;
    for (const ClusterRun& r : runs_) {
        if (r.vcn != next) break;
        next += r.length;
    }
    return next;
}

const ClusterRun* RunMap::Find(std::uint64_t vcn) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), vcn,
                               [](std::uint64_t v, const ClusterRun& r) { return v < r.vcn; });
    if (it == runs_.begin()) return nullptr;
    --it;
    return vcn < it->vcn + it->length ? &*it : nullptr;
}

}  // namespace tarnwell::ntfsfmt
