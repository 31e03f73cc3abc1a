#pragma once
// The file allocation table, read once in large reads and looked up in memory.
// Entries are 12 bits on FAT12, 16 on FAT16 and 28 on FAT32 (the
// top four bits of a FAT32 entry are reserved and masked off).
//
//   value               meaning
//   0                   free
//   2 .. clusters+1     next cluster of the chain
//   0x(0F)FF(F)7        bad cluster
//   0x(0F)FF(F)8 and up end of the chain
//
// Chains are walked with a guard of their own: no cluster twice, never more
// clusters than the volume has, so a looped or cross-linked table ends every
// walk.

#include <cstdint>
#include <vector>

#include "device/VolumeView.h"
#include "partition/FatBootSector.h"

namespace tarnwell {

// A run of consecutive clusters.
struct ClusterRun {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

class FatTable {
public:
    // Reads the table of the volume whose boot parameters are p: the active FAT,
    // with the other copy standing in for sectors of it that cannot be read.
    // reader addresses the volume from 0. False when nothing could be read.
    bool Load(const VolumeView& reader, const FatBootParameters& p, unsigned activeFat);

    // Clusters 2 .. Limit() - 1 exist.
    std::uint32_t Limit() const { return limit_; }
    std::uint32_t ClusterCount() const { return limit_ > 2 ? limit_ - 2 : 0; }
    bool Exists(std::uint64_t c) const { return c >= 2 && c < limit_; }

    // The raw entry of cluster c (masked); 0 for clusters outside the table.
    std::uint32_t Entry(std::uint32_t c) const { return c < entries_.size() ? entries_[c] : 0; }
    bool Free(std::uint32_t c) const { return Entry(c) == 0; }
    bool InUse(std::uint32_t c) const { return Entry(c) != 0; }
    bool IsBad(std::uint32_t value) const { return value == bad_; }
    bool IsEnd(std::uint32_t value) const { return value >= endMin_; }

    // How a chain walk ended.
    enum class ChainEnd { EndMark, Free, Bad, OutOfRange, Loop, Limit };

    // The runs of the chain from start, at most maxClusters clusters (and never
    // more than the volume has). end says why the walk stopped.
    std::vector<ClusterRun> Chain(std::uint32_t start, std::uint64_t maxClusters, ChainEnd& end) const;

    // Whether every read of the table succeeded.
    bool Complete() const { return complete_; }

    // Builds a table directly (tests and fixtures).
    void SetForTest(FatKind kind, std::vector<std::uint32_t> entries, std::uint32_t clusterCount);

private:
    void SetKind(FatKind kind);

    std::vector<std::uint32_t> entries_;
    std::uint32_t limit_ = 0;
    std::uint32_t bad_ = 0x0FFFFFF7;
    std::uint32_t endMin_ = 0x0FFFFFF8;
    bool complete_ = true;

    // Per-walk guard: a cluster is in the current chain when its stamp is the
    // current epoch. Allocated at the first walk, one stamp per cluster.
    mutable std::vector<std::uint32_t> stamps_;
    mutable std::uint32_t epoch_ = 0;
};

}  // namespace tarnwell
