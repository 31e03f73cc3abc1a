// Extraction of FAT files and the recycle-bin names.
//
// A live file follows its chain; a deleted one, whose chain was freed, is read
// as its start cluster and the free clusters after it, up to its size (the
// usual recovery of deleted FAT files). Consecutive clusters are read in large
// reads.

#include <algorithm>
#include <cctype>

#include "fs/fat/FatParser.h"
#include "fs/RecycleIndex.h"
#include "fs/SourceCopy.h"

namespace tarnwell {

namespace {
constexpr std::size_t kReadChunk = 4u << 20;
}  // namespace

std::vector<ClusterRun> FatParser::SalvageRuns(std::uint32_t start, std::uint64_t clusters) const {
    std::vector<ClusterRun> runs;
    std::uint64_t taken = 0;
    for (std::uint64_t c = start; taken < clusters && table_.Exists(c); ++c) {
        auto cl = static_cast<std::uint32_t>(c);
        if (cl != start && table_.InUse(cl)) continue;  // another file's now
        if (!runs.empty() && runs.back().first + runs.back().count == cl)
            ++runs.back().count;
        else
            runs.push_back({cl, 1});
        ++taken;
    }
    return runs;
}

ExtractStatus FatParser::ExtractData(RowId row, FileSink& sink) {
    if (row >= entries_.size() || !bootValid_ || clusterSize_ == 0) return ExtractStatus::Failed;
    const FatEntry& e = entries_[row];
    if (e.IsFolder() || e.entryOffset == 0) return ExtractStatus::Failed;
    std::uint64_t remaining = e.fileSize;
    if (remaining == 0) return ExtractStatus::Ok;
    if (!table_.Exists(e.startCluster)) return ExtractStatus::Failed;

    const std::uint64_t needed = (remaining + clusterSize_ - 1) / clusterSize_;
    std::vector<ClusterRun> runs;
    if (e.deleted) {
        // A start cluster in use holds another file's data now.
        if (table_.InUse(e.startCluster)) return ExtractStatus::Failed;
        runs = SalvageRuns(e.startCluster, needed);
    } else if (advanced_ && !table_.InUse(e.startCluster)) {
        // The table was wiped or written anew over the files: take the file as
        // one run, as it was most likely written.
        const std::uint64_t last = std::min<std::uint64_t>(std::uint64_t(e.startCluster) + needed, table_.Limit());
        if (last > e.startCluster) runs.push_back({e.startCluster, static_cast<std::uint32_t>(last - e.startCluster)});
    } else {
        FatTable::ChainEnd end;
        runs = table_.Chain(e.startCluster, needed, end);
    }
    if (runs.empty()) return ExtractStatus::Failed;

    bool partial = false;
    for (const ClusterRun& run : runs) {
        std::uint64_t runBytes = std::uint64_t(run.count) * clusterSize_;
        std::uint64_t offset = ClusterOffset(run.first);
        for (std::uint64_t done = 0; done < runBytes && remaining > 0;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({kReadChunk, runBytes - done, remaining}));
            CopyResult copied = CopyFromSource(links_.view, offset + done, n, io_, sink);
            if (!copied.written) return ExtractStatus::WriteFailed;
            if (!copied.complete) partial = true;
            done += n;
            remaining -= n;
        }
        if (remaining == 0) break;
    }
    // A chain that ended (or looped) before the size, or too few free clusters.
    if (remaining > 0) partial = true;
    return partial ? ExtractStatus::Partial : ExtractStatus::Ok;
}

void FatParser::NameRecycledFiles() {
    RenameRecycledFiles(*this, [this](RowId row, const std::string& name) { entries_[row].name = name; });
}

}  // namespace tarnwell
