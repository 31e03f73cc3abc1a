// The advanced scan of exFAT: the FAT, the cluster heap and the cluster size
// come from the finders' picks. One pass over the whole volume keeps the
// position of every slot that starts a plausible entry set; the build then
// reads the root (the cluster of the volume label) and every folder found
// whole, so that sets hang under the folder whose clusters hold them. Sets no
// found folder holds go under "ORPHAN ENTRY".

#include <algorithm>
#include <cstdio>

#include "advanced/TableFinder.h"
#include "fs/exfat/ExFatParser.h"
#include "fs/fat/FatParser.h"

namespace tarnwell {

namespace {

constexpr std::size_t kScanBlock = 4u << 20;
// The most a set spans: file entry, stream entry and 17 name entries (255 units).
constexpr std::size_t kMaxSetBytes = 19 * kExFatSlot;
constexpr std::size_t kBuildRead = 64 * 1024;
constexpr std::uint64_t kMaxFolderBytes = 256ULL << 20;
constexpr std::uint32_t kNoRow32 = UINT32_MAX;

bool ZeroFrom(ByteView b, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (b.U8(i) != 0) return false;
    return true;
}

bool ScannedAttribute(std::uint8_t a) {
    switch (a) {
        case 0x10: case 0x11: case 0x12: case 0x13: case 0x15: case 0x20: case 0x30: return true;
        default: return false;
    }
}

// Whether a plausible set starts at at; examined is the number of slots to
// step over (the whole set when it is one).
bool PlausibleSetAt(ByteView b, std::size_t at, std::size_t& examined) {
    examined = 1;
    const std::uint8_t type = b.U8(at);
    if ((type != 0x85 && type != 0x05) || !ScannedAttribute(b.U8(at + 4)) || b.Le16(at + 6) != 0 ||
        !ZeroFrom(b, at + 25, at + 32))
        return false;
    const std::size_t stream = at + kExFatSlot;
    if (!b.Has(stream, kExFatSlot)) return false;
    const std::uint8_t st = b.U8(stream), flags = b.U8(stream + 1);
    if ((st != 0xC0 && st != 0x40) || b.U8(stream + 2) != 0 || b.Le16(stream + 6) != 0 || b.Le32(stream + 16) != 0 ||
        (flags != 1 && flags != 3))
        return false;
    const std::size_t names = (b.U8(stream + 3) + 14) / 15;
    if (names == 0) return false;
    for (std::size_t k = 0; k < names; ++k) {
        const std::size_t slot = stream + (k + 1) * kExFatSlot;
        if (!b.Has(slot, kExFatSlot)) return false;
        const std::uint8_t nt = b.U8(slot);
        if ((nt != 0xC1 && nt != 0x41) || b.U8(slot + 1) > 3) return false;
    }
    examined = 2 + names;
    return true;
}

template <typename T>
bool Pick(const std::vector<T>& list, int index, T& out) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return false;
    out = list[static_cast<std::size_t>(index)];
    return true;
}

}  // namespace

std::uint64_t ExFatParser::VolumeBytes() const {
    const std::uint64_t length = links_.view.Available();
    return links_.volume.SizeBytes() != 0 ? std::min(links_.volume.SizeBytes(), length) : length;
}

bool ExFatParser::SetClusterShift(std::uint32_t shift) {
    // 32 MiB clusters at most, as at any sector size.
    if (shift > 16) return false;
    advancedGeometry_ = true;
    bytesPerSector_ = 512;
    clusterSize_ = 512u << shift;
    return true;
}

void ExFatParser::ScanEntries() {
    foundEntries_.clear();
    rootMarker_ = 0;
    links_.progress->SetRange(0, 1000);
    std::vector<std::uint8_t> block;
    std::uint64_t next = 0;  // the next slot to examine
    // Without a label, the bitmap and up-case entries, which only the root holds, mark it.
    std::uint64_t bitmapMarker = 0;
    std::size_t reported = 0;
    for (std::uint64_t p = 0; p < volumeSize_; p += kScanBlock) {
        if (!Checkpoint()) break;
        const std::size_t own = static_cast<std::size_t>(std::min<std::uint64_t>(kScanBlock, volumeSize_ - p));
        // Read on past the block, so that a set crossing its end is whole.
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(own + kMaxSetBytes, volumeSize_ - p));
        block.resize(length);
        links_.view.ReadAt(static_cast<std::int64_t>(p), block.data(), length);
        ByteView b(block);
        for (std::size_t at = static_cast<std::size_t>(next - p); at < own && at + kExFatSlot <= length;) {
            const std::uint8_t type = b.U8(at);
            std::size_t examined = 1;
            if (type == 0x83 && ZeroFrom(b, at + 24, at + 32)) {
                rootMarker_ = p + at;
            } else if (type == 0x81 && bitmapMarker == 0 && b.U8(at + kExFatSlot) == 0x82) {
                bitmapMarker = p + at;
            } else if ((type == 0x85 || type == 0x05) && PlausibleSetAt(b, at, examined)) {
                foundEntries_.push_back(p + at);
            }
            at += examined * kExFatSlot;
            next = p + at;
        }
        if (next < p + own) next = p + own;
        if (foundEntries_.size() != reported) {
            reported = foundEntries_.size();
            Status(Event(Step::FoundEntry, static_cast<std::int64_t>(reported)));
        }
        links_.progress->SetPosition(static_cast<std::int64_t>((p + own) * 1000 / volumeSize_));
    }
    if (rootMarker_ == 0) rootMarker_ = bitmapMarker;
}

std::uint32_t ExFatParser::BuildScannedSet(ByteView bytes, std::size_t at, std::uint64_t position,
                                          std::uint32_t parent, std::size_t& slotsUsed) {
    auto e = DecodeEntrySet(bytes, at, slotsUsed);
    if (!e || entries_.size() >= kNoRow32 - 1) return kNoRow32;
    const auto row = static_cast<std::uint32_t>(entries_.size());
    e->parentIndex = parent;
    e->selfIndex = row;
    if (entries_[parent].Deleted()) e->entryType = 0x05;
    entries_.push_back(std::move(*e));
    builtAt_[position] = row;
    return row;
}

void ExFatParser::ReadScannedDirectoryCluster(std::uint32_t row, std::vector<std::uint32_t>& pending) {
    const ExFatEntry dir = entries_[row];
    if (dir.firstCluster < 2 || dir.firstCluster >= clusterCount_ + 2 || !readFolders_.insert(dir.firstCluster).second)
        return;
    // A chain the table no longer holds is not guessed at: a live folder is
    // read as far as its chain goes (at least its first cluster), and what
    // lies beyond is found by the scan as orphans rather than claimed wrongly.
    auto chainRuns = [&](std::uint64_t most) {
        std::vector<Run> chain{{dir.firstCluster, 1}};
        std::unordered_set<std::uint32_t> seen{dir.firstCluster};
        for (std::uint32_t c = NextCluster(dir.firstCluster);
             c >= 2 && c < clusterCount_ + 2 && chain.size() < most && seen.insert(c).second; c = NextCluster(c))
            chain.push_back({c, 1});
        return chain;
    };
    const std::uint64_t mostClusters = kMaxFolderBytes / clusterSize_;
    std::vector<Run> runs;
    bool complete = true;
    if (row == 0) {
        runs = chainRuns(mostClusters);  // the root has no length of its own
    } else if (!dir.Deleted() && !dir.Contiguous()) {
        runs = chainRuns(std::clamp<std::uint64_t>((dir.dataLength + clusterSize_ - 1) / clusterSize_, 1, mostClusters));
    } else {
        runs = ClusterRuns(dir.firstCluster, std::clamp<std::uint64_t>(dir.dataLength, clusterSize_, kMaxFolderBytes),
                           dir.Contiguous(), dir.Deleted(), complete);
    }
    // A cluster belongs to one folder: one read already is a loop or a
    // cross-link, and ends this folder there.
    std::vector<std::uint32_t> clusters;
    for (const Run& r : runs) {
        bool ended = false;
        for (std::uint64_t k = 0; k < r.count && !ended; ++k) {
            const auto c = static_cast<std::uint32_t>(r.first + k);
            ended = !dirClusters_.insert(c).second;
            if (!ended) clusters.push_back(c);
        }
        if (ended) break;
    }
    runs.clear();
    for (std::uint32_t c : clusters) {
        if (!runs.empty() && runs.back().first + runs.back().count == c)
            ++runs.back().count;
        else
            runs.push_back({c, 1});
    }
    std::vector<std::uint8_t> bytes;
    ReadRuns(runs, kMaxFolderBytes, bytes);
    auto positionOf = [&](std::size_t at) { return ClusterOffset(clusters[at / clusterSize_]) + at % clusterSize_; };
    auto isAncestorOrSelf = [&](std::uint32_t candidate) {
        for (std::uint32_t r = row, steps = 0; steps <= entries_.size(); r = entries_[r].parentIndex, ++steps) {
            if (r == candidate) return true;
            if (r == 0) return false;
        }
        return true;
    };
    ByteView b(bytes);
    for (std::size_t at = 0; at + kExFatSlot <= b.size();) {
        const std::uint8_t type = b.U8(at);
        if (type != 0x85 && type != 0x05) {
            at += kExFatSlot;
            continue;
        }
        const std::uint64_t position = positionOf(at);
        std::size_t used = 1;
        if (at + (1 + std::size_t(b.U8(at + 1))) * kExFatSlot > b.size()) {
            // Cut off by the end of what the chain gave: the scan found it whole, if at all.
            at += kExFatSlot;
            continue;
        }
        auto built = builtAt_.find(position);
        if (built != builtAt_.end()) {
            // Built before its folder was found: it moves under the folder,
            // unless that would make a folder its own ancestor.
            DecodeEntrySet(b, at, used);
            ExFatEntry& e = entries_[built->second];
            if (e.parentIndex == kOrphanRow && !isAncestorOrSelf(built->second)) {
                e.parentIndex = row;
                if (dir.Deleted()) e.entryType = 0x05;
            }
        } else {
            const std::uint32_t r = BuildScannedSet(b, at, position, row, used);
            if (r != kNoRow32 && entries_[r].Folder()) pending.push_back(r);
        }
        at += used * kExFatSlot;
    }
}

void ExFatParser::BuildFromScan(std::uint64_t heap, std::uint64_t fat) {
    heapOffset_ = heap;
    fatOffset_ = fat;
    fatBlocks_.clear();
    builtAt_.clear();
    readFolders_.clear();
    dirClusters_.clear();
    entries_.clear();
    clusterCount_ = volumeSize_ > heap ? std::min<std::uint64_t>((volumeSize_ - heap) / clusterSize_, 0xFFFFFFF5u) : 0;

    ExFatEntry root;
    root.entryType = 0x85;
    root.attributes = 0x10;
    root.name = "DUMMY ENTRY";
    entries_.push_back(root);
    ExFatEntry orphans;
    orphans.entryType = 0x85;
    orphans.attributes = 0x10;
    orphans.name = kFatOrphanFolderName;
    orphans.parentIndex = 0;
    orphans.selfIndex = kOrphanRow;
    entries_.push_back(orphans);
    if (foundEntries_.empty() && rootMarker_ == 0) return;

    // Without a label the first set found stands for the root's start.
    if (rootMarker_ == 0) rootMarker_ = foundEntries_.front();
    rootEnd_ = rootMarker_ + clusterSize_;
    if (rootMarker_ >= heap) {
        const std::uint64_t c = (rootMarker_ - heap) / clusterSize_ + 2;
        if (c < clusterCount_ + 2) {
            entries_[0].firstCluster = static_cast<std::uint32_t>(c);
            rootEnd_ = ClusterOffset(c) + clusterSize_;
        }
    }

    std::vector<std::uint32_t> pending{0};
    auto drain = [&] {
        while (!pending.empty()) {
            const std::uint32_t row = pending.back();
            pending.pop_back();
            ReadScannedDirectoryCluster(row, pending);
        }
    };
    drain();
    // Sets no found folder claimed lie in runs: one read serves every set it
    // holds whole, so neighbouring orphans are not read again.
    std::vector<std::uint8_t> block(kBuildRead);
    std::uint64_t from = 0;
    std::size_t length = 0;
    for (std::size_t i = 0; i < foundEntries_.size(); ++i) {
        // No stop here: a stop ends the scan, and the build runs on what it found.
        const std::uint64_t q = foundEntries_[i];
        if (builtAt_.count(q)) continue;
        const bool held = length > 0 && q >= from &&
                          (q + kMaxSetBytes <= from + length || from + length == volumeSize_);
        if (!held) {
            from = q / 512 * 512;
            length = static_cast<std::size_t>(std::min<std::uint64_t>(kBuildRead, volumeSize_ - from));
            std::fill(block.begin(), block.end(), 0);
            links_.view.ReadAt(static_cast<std::int64_t>(from), block.data(), length);
        }
        if (q >= from + length) continue;
        const std::uint32_t parent = q >= rootMarker_ && q < rootEnd_ ? 0 : kOrphanRow;
        std::size_t used = 1;
        const std::uint32_t r =
            BuildScannedSet(ByteView(block.data(), length), static_cast<std::size_t>(q - from), q, parent, used);
        if (r != kNoRow32 && entries_[r].Folder()) pending.push_back(r);
        drain();
    }
    builtAt_.clear();
    readFolders_.clear();
    dirClusters_.clear();
}

bool ExFatParser::ScanAdvanced() {
    if (!links_.view) return false;
    entries_.clear();
    foundEntries_.clear();
    volumeSize_ = VolumeBytes();
    if (volumeSize_ < 24 * 512) {
        links_.prompter->Inform(Event(Step::VolumeTooSmall).Kind("exfat"));
        return false;
    }
    TableFinder finder(links_.view, volumeSize_, TableKind::ExFat, *links_.progress, links_.control);
    Status(Event(Step::FindingTables).Kind("exfat"));
    const TableCandidates found = links_.advanced.found ? *links_.advanced.found : finder.Find(links_.advanced.max);
    std::uint32_t shift = 0;
    if (!Pick(found.clusterSizes, links_.advanced.cluster, shift) || !SetClusterShift(shift)) {
        links_.prompter->Inform(Event(Step::BadClusterSize).Kind("exfat"));
        return false;
    }
    std::uint64_t fat = 0, heap = 0;
    Pick(found.tables, links_.advanced.table, fat);
    Pick(found.heaps, links_.advanced.heap, heap);
    ScanEntries();
    Status(Event(Step::AdvancedTree));
    // Without a table (wiped) the heap still places every cluster; chains are
    // then taken as contiguous.
    if (heap > 0 && heap < volumeSize_) {
        BuildFromScan(heap, fat);
    } else {
        ExFatEntry root;
        root.entryType = 0x85;
        root.attributes = 0x10;
        root.name = "DUMMY ENTRY";
        entries_.push_back(root);
        links_.prompter->Inform(Event(Step::NoHeap).Kind("exfat"));
    }
    LinkTree();
    links_.progress->SetRange(0, 100);
    links_.progress->SetPosition(100);
    return true;
}

}  // namespace tarnwell
