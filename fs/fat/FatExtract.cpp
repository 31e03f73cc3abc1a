// Extraction of FAT files and the recycle-bin names.
//
// A live file follows its chain; a deleted one, whose chain was freed, is read
// as its start cluster and the free clusters after it, up to its size (the
// usual recovery of deleted FAT files). Consecutive clusters are read in large
// reads.

#include <algorithm>
#include <cctype>
#include <map>

#include "fs/fat/FatParser.h"
#include "fs/RecycleIndex.h"
#include "fs/SourceCopy.h"

namespace tarnwell {

namespace {
constexpr std::size_t kReadChunk = 4u << 20;

class MemorySink final : public FileSink {
public:
    explicit MemorySink(std::size_t limit) : limit_(limit) {}
    bool Write(const void* data, std::size_t size) override {
        if (bytes.size() + size > limit_) return false;
        auto p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;

private:
    std::size_t limit_;
};

std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && s[b] == ' ') ++b;
    return s.substr(b);
}

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

bool StartsNoCase(const std::string& s, const char* prefix) {
    std::string p = prefix;
    return s.size() >= p.size() && SameNoCase(s.substr(0, p.size()), p);
}
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

void FatParser::RecoverRecycleNames(RowId folder) {
    if (folder >= entries_.size()) return;
    std::map<std::string, std::string> names;  // "$I..." row name -> recorded file name
    for (RowId r = FirstChild(folder); r != kNoRow; r = NextSibling(r)) {
        const FatEntry& e = entries_[r];
        if (e.IsFolder()) {
            // The per-user folders of the recycle bin ("S-1-5-21-...").
            if (folder != Root() && entries_[folder].parentIndex == Root()) RecoverRecycleNames(r);
            continue;
        }
        std::string name = Trim(e.name);
        if (!StartsNoCase(name, "$I") || e.fileSize < 28 || e.fileSize > kMaxRecycleIndexBytes) continue;
        MemorySink sink(kMaxRecycleIndexBytes);
        ExtractStatus status = ExtractData(r, sink);
        if (status == ExtractStatus::Failed || status == ExtractStatus::WriteFailed) continue;
        auto path = ParseRecycleIndex(sink.bytes);
        if (!path) continue;
        std::string leaf = WindowsFileName(*path);
        if (!leaf.empty()) names[name] = leaf;
    }
    for (const auto& [key, leaf] : names) {
        std::string data = "$R" + key.substr(2);
        for (RowId r = FirstChild(folder); r != kNoRow; r = NextSibling(r)) {
            FatEntry& e = entries_[r];
            if (SameNoCase(Trim(e.name), data)) e.name = leaf;
        }
    }
}

}  // namespace tarnwell
