// The directory walk of the FAT parsers, with the search for the
// folders of an earlier file system on a formatted volume.

#include <deque>

#include "fs/fat/FatParser.h"

namespace tarnwell {

namespace {
// FAT directories hold at most 65 536 entries (2 MiB).
constexpr std::uint64_t kMaxDirBytes = 65536 * kDirSlot;
constexpr std::size_t kScanChunk = 4u << 20;

// Every slot up to the end of the directory looks like an entry, and there is one.
bool HoldsEntries(ByteView cluster) {
    if (!SlotLooksValid(cluster.Sub(0, kDirSlot))) return false;
    for (std::size_t at = kDirSlot; at + kDirSlot <= cluster.size(); at += kDirSlot) {
        ByteView slot = cluster.Sub(at, kDirSlot);
        if (slot.U8(0) == 0) return true;
        if (!SlotLooksValid(slot)) return false;
    }
    return true;
}

bool HasEndSlot(ByteView cluster) {
    for (std::size_t at = 0; at + kDirSlot <= cluster.size(); at += kDirSlot)
        if (cluster.U8(at) == 0) return true;
    return false;
}
}  // namespace

std::uint64_t FatParser::MaxDirClusters() const {
    if (clusterSize_ == 0) return 1;
    return std::max<std::uint64_t>(1, (kMaxDirBytes + clusterSize_ - 1) / clusterSize_);
}

void FatParser::Progress() {
    std::uint64_t all = std::max<std::uint64_t>(foldersQueued_, 1);
    links_.progress->SetPosition(static_cast<std::int64_t>(std::min<std::uint64_t>(foldersDone_, all) * 1000 / all));
}

void FatParser::FindEntries() {
    entries_.clear();
    rejectedFolders_ = 0;
    foldersDone_ = foldersQueued_ = 0;
    stopped_ = false;
    FatEntry root;
    root.name = links_.rootFolderName;
    root.attributes = fat_attr::kDirectory;
    root.selfIndex = 0;
    entries_.push_back(root);
    if (!bootValid_) return;
    dirSeen_.assign(table_.Limit(), false);
    links_.progress->SetRange(0, 1000);
    ReadRoot();
    if ((links_.driveFormatted || advanced_) && !stopped_) FindLostFolders();
}

void FatParser::ReadRoot() {
    std::vector<std::uint8_t> bytes;
    DirectoryPlace place;
    if (Fat32()) {
        std::vector<std::uint32_t> clusters;
        FatTable::ChainEnd end;
        auto runs = table_.Chain(boot_.rootCluster, MaxDirClusters(), end);
        place.pieceSize = clusterSize_;
        for (const auto& run : runs) {
            std::size_t at = bytes.size();
            bytes.resize(at + std::size_t(run.count) * clusterSize_);
            links_.view.ReadAt(static_cast<std::int64_t>(ClusterOffset(run.first)), bytes.data() + at,
                                  std::size_t(run.count) * clusterSize_);
            for (std::uint32_t k = 0; k < run.count; ++k) {
                place.pieceOffsets.push_back(ClusterOffset(run.first + k));
                dirSeen_[run.first + k] = true;
            }
        }
    } else {
        bytes.resize(static_cast<std::size_t>(boot_.RootDirBytes()));
        links_.view.ReadAt(static_cast<std::int64_t>(boot_.RootDirOffset()), bytes.data(), bytes.size());
        place.pieceSize = bytes.size();
        place.pieceOffsets = {boot_.RootDirOffset()};
    }
    DecodedDirectory dir = DecodeDirectory(bytes, place, Fat32());
    if (!dir.label.empty()) label_ = dir.label;
    std::deque<FolderJob> live, deferred;
    FolderJob rootJob{0, 0, false, false, false};
    AddRows(dir, rootJob, live, deferred);
    RunJobs(live, deferred);
}

void FatParser::RunJobs(std::deque<FolderJob>& live, std::deque<FolderJob>& deferred) {
    // Live folders first, so that they own their clusters before any deleted
    // folder is read from the free ones.
    while (!live.empty() || !deferred.empty()) {
        if (!Checkpoint()) {
            stopped_ = true;
            return;
        }
        std::deque<FolderJob>& queue = live.empty() ? deferred : live;
        FolderJob job = queue.front();
        queue.pop_front();
        ReadFolder(job, live, deferred);
        ++foldersDone_;
        Progress();
    }
}

void FatParser::ReadFolder(const FolderJob& job, std::deque<FolderJob>& live, std::deque<FolderJob>& deferred) {
    // A folder whose first cluster was read already (an ancestor of itself,
    // or a cross-linked one) is not read again.
    if (!table_.Exists(job.start) || dirSeen_[job.start]) return;
    std::vector<std::uint8_t> bytes;
    DirectoryPlace place;
    std::vector<std::uint32_t> clusters;
    bool ok = job.salvage ? ReadSalvagedDirectory(job.start, bytes, place, clusters)
                          : ReadChainDirectory(job.start, bytes, place, clusters);
    if (!ok) {
        ++rejectedFolders_;
        return;
    }
    for (std::uint32_t c : clusters) dirSeen_[c] = true;
    DecodedDirectory dir = DecodeDirectory(bytes, place, Fat32());
    AddRows(dir, job, live, deferred);
}

bool FatParser::ReadChainDirectory(std::uint32_t start, std::vector<std::uint8_t>& bytes, DirectoryPlace& place,
                                   std::vector<std::uint32_t>& clusters) {
    FatTable::ChainEnd end;
    auto runs = table_.Chain(start, MaxDirClusters(), end);
    place.pieceSize = clusterSize_;
    for (const auto& run : runs) {
        std::size_t at = bytes.size();
        bytes.resize(at + std::size_t(run.count) * clusterSize_);
        links_.view.ReadAt(static_cast<std::int64_t>(ClusterOffset(run.first)), bytes.data() + at,
                              std::size_t(run.count) * clusterSize_);
        for (std::uint32_t k = 0; k < run.count; ++k) {
            clusters.push_back(run.first + k);
            place.pieceOffsets.push_back(ClusterOffset(run.first + k));
        }
    }
    // A folder begins with its "." entry. A live folder whose dot entries are
    // damaged is still read when its first cluster holds directory entries;
    // anything else is not a directory.
    if (bytes.empty()) return false;
    ByteView view(bytes);
    return DotEntry(view.Sub(0, kDirSlot)) == 1 || HoldsEntries(view.Sub(0, clusterSize_));
}

bool FatParser::ReadSalvagedDirectory(std::uint32_t start, std::vector<std::uint8_t>& bytes, DirectoryPlace& place,
                                      std::vector<std::uint32_t>& clusters) {
    // The chain of a deleted folder was freed: take its start cluster and the
    // free clusters after it while they hold directory entries. A start
    // cluster in use belongs to another file or folder now.
    if (table_.InUse(start)) return false;
    std::vector<std::uint8_t> cluster(clusterSize_);
    auto readCluster = [&](std::uint32_t c) {
        links_.view.ReadAt(static_cast<std::int64_t>(ClusterOffset(c)), cluster.data(), cluster.size());
        return ByteView(cluster);
    };
    ByteView first = readCluster(start);
    if (DotEntry(first.Sub(0, kDirSlot)) != 1) return false;
    place.pieceSize = clusterSize_;
    auto take = [&](std::uint32_t c) {
        bytes.insert(bytes.end(), cluster.begin(), cluster.end());
        clusters.push_back(c);
        place.pieceOffsets.push_back(ClusterOffset(c));
    };
    take(start);
    bool ended = HasEndSlot(first);
    for (std::uint64_t c = std::uint64_t(start) + 1; !ended && clusters.size() < MaxDirClusters() && table_.Exists(c);
         ++c) {
        auto cl = static_cast<std::uint32_t>(c);
        if (table_.InUse(cl)) continue;
        if (dirSeen_[cl]) break;
        ByteView next = readCluster(cl);
        if (!HoldsEntries(next) || DotEntry(next.Sub(0, kDirSlot)) != 0) break;
        take(cl);
        ended = HasEndSlot(next);
    }
    return true;
}

void FatParser::AddRows(DecodedDirectory& dir, const FolderJob& job, std::deque<FolderJob>& live,
                        std::deque<FolderJob>& deferred) {
    for (FatEntry& e : dir.entries) {
        if (entries_.size() >= kNoIndex - 1) return;  // more rows than indexes
        auto row = static_cast<std::uint32_t>(entries_.size());
        e.parentIndex = job.parent;
        e.selfIndex = row;
        e.deleted = e.deleted || job.deleted;
        e.orphan = job.orphans;
        bool folder = e.IsFolder();
        std::uint32_t start = e.startCluster;
        bool deleted = e.deleted;
        entries_.push_back(std::move(e));
        if (folder && table_.Exists(start)) {
            FolderJob sub{row, start, deleted, deleted, false};
            (deleted ? deferred : live).push_back(sub);
            ++foldersQueued_;
        }
    }
}

bool FatParser::IsDirectoryHead(ByteView cluster, std::uint32_t c) const {
    ByteView dot = cluster.Sub(0, kDirSlot);
    if (DotEntry(dot) != 1 || DotEntry(cluster.Sub(kDirSlot, kDirSlot)) != 2) return false;
    std::uint32_t own = Fat32() ? (std::uint32_t(dot.Le16(20)) << 16 | dot.Le16(26)) : dot.Le16(26);
    return own == c;
}

void FatParser::FindLostFolders() {
    Status(Event(Step::EarlierFolders));
    std::vector<std::uint32_t> heads;
    std::vector<bool> claimed(table_.Limit(), false);
    const std::uint32_t perChunk = static_cast<std::uint32_t>(std::max<std::size_t>(1, kScanChunk / clusterSize_));
    std::vector<std::uint8_t> buffer(std::size_t(perChunk) * clusterSize_);
    const std::uint32_t limit = table_.Limit();
    for (std::uint64_t c = 2; c < limit; c += perChunk) {
        if (!Checkpoint()) {
            stopped_ = true;
            break;
        }
        auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(perChunk, limit - c));
        links_.view.ReadAt(static_cast<std::int64_t>(ClusterOffset(static_cast<std::uint32_t>(c))), buffer.data(),
                              std::size_t(n) * clusterSize_);
        for (std::uint32_t k = 0; k < n; ++k) {
            auto cl = static_cast<std::uint32_t>(c + k);
            if (dirSeen_[cl] || (!advanced_ && table_.InUse(cl))) continue;
            ByteView view = ByteView(buffer).Sub(std::size_t(k) * clusterSize_, clusterSize_);
            if (!IsDirectoryHead(view, cl)) continue;
            heads.push_back(cl);
            DirectoryPlace place{{ClusterOffset(cl)}, clusterSize_};
            for (const FatEntry& e : DecodeDirectory(view, place, Fat32()).entries)
                if (e.IsFolder() && table_.Exists(e.startCluster) && e.startCluster != cl) claimed[e.startCluster] = true;
        }
        links_.progress->SetPosition(static_cast<std::int64_t>((c - 2) * 1000 / std::max<std::uint64_t>(1, limit - 2)));
    }
    if (heads.empty()) return;

    auto orphanRow = static_cast<std::uint32_t>(entries_.size());
    FatEntry folder;
    folder.name = kFatOrphanFolderName;
    folder.attributes = fat_attr::kDirectory;
    folder.parentIndex = 0;
    folder.selfIndex = orphanRow;
    entries_.push_back(folder);

    // Folders that no other lost folder names first, then whatever is left
    // (folders whose only parents were never reached).
    std::deque<FolderJob> live, deferred;
    for (int pass = 0; pass < 2 && !stopped_; ++pass) {
        for (std::uint32_t h : heads) {
            if (dirSeen_[h] || (pass == 0 && claimed[h])) continue;
            // A live folder whose parent is lost (advanced mode) is read along
            // its chain; a folder in free clusters as salvage.
            if (table_.InUse(h))
                live.push_back({orphanRow, h, false, false, true});
            else
                deferred.push_back({orphanRow, h, true, true, true});
            ++foldersQueued_;
            RunJobs(live, deferred);
            if (stopped_) break;
        }
    }
    if (entries_.size() == std::size_t(orphanRow) + 1) entries_.pop_back();
}

}  // namespace tarnwell
