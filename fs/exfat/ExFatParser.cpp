#include "fs/exfat/ExFatParser.h"

#include "fs/SourceCopy.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "core/DisplayText.h"
#include "core/Limits.h"
#include "fs/RecycleIndex.h"

namespace tarnwell {

namespace {
constexpr std::uint32_t kEnd = 0xFFFFFFFF;
constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::size_t kFatBlock = 1 << 20;
constexpr std::size_t kReadChunk = 4 << 20;
// exFAT directories are at most 256 MiB; damaged lengths are cut there.
constexpr std::uint64_t kMaxDirectoryBytes = limits::kMaxMetadataBytes;

std::string AttributeText(std::uint16_t a) {
    std::string s;
    if (a & 0x01) s += "-R";
    if (a & 0x02) s += "-H";
    if (a & 0x04) s += "-S";
    if (a & 0x20) s += "-A";
    return s;
}

std::string ClockText(std::uint32_t timestamp) {
    auto c = DecodeExFatTimestamp(timestamp);
    return c ? FormatDateTimeText(c->year, c->month, c->day, c->hour, c->minute) : std::string();
}

}  // namespace

ExFatParser::ExFatParser(ParserLinks links) : FileSystemParser(std::move(links)) {}

bool ExFatParser::ReadBootSector() {
    std::vector<std::uint8_t> boot(512);
    if (!links_.view.ReadAt(0, boot.data(), boot.size())) {
        links_.prompter->Inform(Event(Step::ExFatUnreadable));
        return false;
    }
    ByteView b(boot);
    if (!b.Matches(3, "EXFAT   ")) return false;
    std::uint8_t bpsShift = b.U8(108), spcShift = b.U8(109);
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return false;
    bytesPerSector_ = 1u << bpsShift;
    clusterSize_ = bytesPerSector_ << spcShift;
    fatOffset_ = std::uint64_t(b.Le32(80)) * bytesPerSector_;
    heapOffset_ = std::uint64_t(b.Le32(88)) * bytesPerSector_;
    rootCluster_ = b.Le32(96);
    clusterCount_ = b.Le32(92);
    // The volume's own length bounds the heap; the size text is only whole MiB.
    std::uint64_t volumeBytes = b.Le64(72) * bytesPerSector_;
    if (volumeBytes == 0 || b.Le64(72) > (UINT64_MAX >> 12)) volumeBytes = links_.volume.SizeBytes();
    if (volumeBytes > heapOffset_) clusterCount_ = std::min<std::uint64_t>(clusterCount_, (volumeBytes - heapOffset_) / clusterSize_);
    return heapOffset_ > 0 && fatOffset_ > 0 && clusterCount_ > 0;
}

std::uint32_t ExFatParser::NextCluster(std::uint32_t c) {
    if (links_.driveFormatted || c < 2 || c >= clusterCount_ + 2) return kEnd;
    if (fatOffset_ == 0) return 0;  // an advanced pick without a table: no chain is known
    std::uint64_t at = fatOffset_ + 4ULL * c;
    std::uint64_t block = at / kFatBlock;
    auto it = fatBlocks_.find(block);
    if (it == fatBlocks_.end()) {
        std::vector<std::uint8_t> bytes(kFatBlock);
        links_.view.ReadAt(static_cast<std::int64_t>(block * kFatBlock), bytes.data(), bytes.size());
        it = fatBlocks_.emplace(block, std::move(bytes)).first;
    }
    return ByteView(it->second).Le32(at % kFatBlock);
}

std::vector<ExFatParser::Run> ExFatParser::ClusterRuns(std::uint32_t first, std::uint64_t length, bool contiguous,
                                                     bool deleted, bool& complete) {
    std::vector<Run> runs;
    complete = true;
    if (length == 0) return runs;
    std::uint64_t needed = (length + clusterSize_ - 1) / clusterSize_;
    if (first < 2 || first >= clusterCount_ + 2) {
        complete = false;
        return runs;
    }
    auto contiguousRun = [&] {
        std::uint64_t count = std::min<std::uint64_t>(needed, clusterCount_ + 2 - first);
        complete = count == needed;
        return std::vector<Run>{{first, count}};
    };
    if (contiguous || links_.driveFormatted) return contiguousRun();

    std::vector<std::uint32_t> chain{first};
    std::set<std::uint32_t> seen{first};
    while (chain.size() < needed) {
        std::uint32_t n = NextCluster(chain.back());
        if (n < 2 || n >= clusterCount_ + 2 || !seen.insert(n).second) break;
        chain.push_back(n);
    }
    // A deleted file's table entries are often freed or reused: trust its chain
    // only when it still spans the file exactly, else take the clusters after
    // its first one, as the usual recovery of deleted files does.
    // A live file whose table entry is free means the table was lost (the
    // advanced mode's picks): its clusters are as likely to follow on.
    if (chain.size() < needed && (deleted || (advancedGeometry_ && chain.size() == 1))) return contiguousRun();
    complete = chain.size() == needed;
    for (std::uint32_t c : chain) {
        if (!runs.empty() && runs.back().first + runs.back().count == c)
            ++runs.back().count;
        else
            runs.push_back({c, 1});
    }
    return runs;
}

bool ExFatParser::ReadRuns(const std::vector<Run>& runs, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    bool ok = true;
    for (const Run& r : runs) {
        std::uint64_t bytes = std::min<std::uint64_t>(r.count * clusterSize_, maxBytes - out.size());
        if (bytes == 0) break;
        std::size_t at = out.size();
        out.resize(at + bytes);
        ok &= links_.view.ReadAt(static_cast<std::int64_t>(ClusterOffset(r.first)), out.data() + at, bytes);
    }
    return ok;
}

void ExFatParser::WalkDirectory(std::uint32_t row, const std::vector<std::uint8_t>& bytes,
                               std::vector<std::uint32_t>& pending) {
    ByteView b(bytes);
    for (std::size_t at = 0; at + kExFatSlot <= b.size();) {
        std::uint8_t type = b.U8(at);
        if (type != 0x85 && type != 0x05) {
            at += kExFatSlot;
            continue;
        }
        std::size_t used = 1;
        auto e = DecodeEntrySet(b, at, used);
        at += used * kExFatSlot;
        if (!e) continue;
        e->parentIndex = row;
        e->selfIndex = static_cast<std::uint32_t>(entries_.size());
        // An entry deleted inside a deleted folder is deleted too.
        if (entries_[row].Deleted()) e->entryType = 0x05;
        entries_.push_back(std::move(*e));
        if (entries_.back().Folder()) pending.push_back(entries_.back().selfIndex);
    }
}

void ExFatParser::FindEntries() {
    entries_.clear();
    ExFatEntry root;
    root.entryType = 0x85;
    root.attributes = 0x10;
    root.name = "DUMMY ENTRY";
    root.firstCluster = rootCluster_;
    entries_.push_back(root);

    std::set<std::uint32_t> readDirectories;
    std::vector<std::uint32_t> pending{0};
    std::vector<std::uint8_t> bytes;
    while (!pending.empty()) {
        if (!Checkpoint()) break;
        std::uint32_t row = pending.back();
        pending.pop_back();
        const ExFatEntry& dir = entries_[row];
        // A folder whose clusters were read already (a loop, or a deleted folder
        // whose space a live one took) is not read again.
        if (dir.firstCluster < 2 || !readDirectories.insert(dir.firstCluster).second) continue;
        bool complete = true;
        std::vector<Run> runs;
        if (row == 0) {
            // The root has no length of its own: its chain says how long it is
            // (one cluster when the table is not to be trusted).
            runs = links_.driveFormatted ? std::vector<Run>{{rootCluster_, 1}}
                                         : ClusterRuns(rootCluster_, kMaxDirectoryBytes, false, false, complete);
        } else {
            runs = ClusterRuns(dir.firstCluster, std::min(dir.dataLength, kMaxDirectoryBytes), dir.Contiguous(),
                               dir.Deleted(), complete);
        }
        ReadRuns(runs, kMaxDirectoryBytes, bytes);
        std::size_t before = pending.size();
        WalkDirectory(row, bytes, pending);
        // Visit subfolders in the order they were found.
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(before), pending.end());
        links_.progress->SetPosition(static_cast<std::int64_t>(entries_.size()));
    }
}

void ExFatParser::LinkTree() {
    lastChild_.assign(entries_.size(), kNone);
    for (auto& e : entries_) e.firstChild = e.nextSibling = kNone;
    for (std::uint32_t i = 1; i < entries_.size(); ++i) {
        std::uint32_t p = entries_[i].parentIndex;
        if (p >= entries_.size() || p == i) continue;
        if (lastChild_[p] == kNone)
            entries_[p].firstChild = i;
        else
            entries_[lastChild_[p]].nextSibling = i;
        lastChild_[p] = i;
    }
}

bool ExFatParser::Scan(RecoveryMode mode) {
    if (mode == RecoveryMode::Advanced) return ScanAdvanced();
    if (!ReadBootSector()) {
        links_.prompter->Inform(Event(Step::NotThisFileSystem).Kind("exfat"));
        return false;
    }
    Status(Event(Step::ProcessingEntries));
    Status(Event(Step::FindingEntries).Kind("exfat"));
    links_.progress->SetRange(0, 0);
    FindEntries();
    LinkTree();
    Status(Event(Step::ExFatTreeCreating));
    return true;
}

RowId ExFatParser::FirstChild(RowId row) const {
    if (row >= entries_.size() || entries_[row].firstChild == kNone) return kNoRow;
    return entries_[row].firstChild;
}

RowId ExFatParser::NextSibling(RowId row) const {
    if (row >= entries_.size() || row == 0 || entries_[row].nextSibling == kNone) return kNoRow;
    return entries_[row].nextSibling;
}

EntryInfo ExFatParser::Info(RowId row) const {
    EntryInfo info;
    if (row >= entries_.size()) return info;
    const ExFatEntry& e = entries_[row];
    info.id = row;
    info.name = row == 0 ? links_.rootFolderName : e.name;
    info.folder = e.Folder();
    info.deleted = e.Deleted();
    info.orphan = advancedGeometry_ && row != kOrphanRow && e.parentIndex == kOrphanRow;
    info.size = info.folder ? 0 : e.dataLength;
    info.created = ExFatTime(e.createTimestamp, e.create10ms, e.createUtcOffset);
    info.modified = ExFatTime(e.modifyTimestamp, e.modify10ms, e.modifyUtcOffset);
    info.accessed = ExFatTime(e.accessTimestamp, 0, e.accessUtcOffset);
    info.attributes = AttributeText(e.attributes);
    return info;
}

DetailTexts ExFatParser::FormatTimes(RowId row) const {
    if (row >= entries_.size()) return {};
    const ExFatEntry& e = entries_[row];
    return {ClockText(e.createTimestamp), ClockText(e.accessTimestamp), ClockText(e.modifyTimestamp),
            AttributeText(e.attributes)};
}

std::string ExFatParser::FormatSize(RowId row) const {
    return row < entries_.size() ? FormatSizeText(entries_[row].dataLength) : std::string();
}

ExtractStatus ExFatParser::ExtractData(RowId row, FileSink& sink) {
    if (row >= entries_.size() || entries_[row].Folder()) return ExtractStatus::Failed;
    const ExFatEntry& e = entries_[row];
    const std::uint64_t failedBefore = links_.view.FailedSectors();
    // Every byte of the data length has a cluster, so a length past the
    // volume is damage: no more than the volume holds is written.
    const std::uint64_t length = TrustedLength(e.dataLength, false, VolumeBytes());
    // Past the valid data length the file holds zeros, whatever the clusters say.
    const std::uint64_t valid = std::min(e.validDataLength, length);
    bool complete = length == e.dataLength;
    std::vector<Run> runs = ClusterRuns(e.firstCluster, valid, e.Contiguous(), e.Deleted(), complete);
    std::vector<std::uint8_t> chunk;
    std::uint64_t written = 0;
    for (const Run& r : runs) {
        std::uint64_t offset = ClusterOffset(r.first), left = std::min(r.count * clusterSize_, valid - written);
        while (left > 0) {
            if (StopRequested()) return ExtractStatus::Partial;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadChunk));
            CopyResult copied = CopyFromSource(links_.view, offset, n, chunk, sink);
            if (!copied.written) return ExtractStatus::WriteFailed;
            if (!copied.complete) complete = false;
            offset += n;
            left -= n;
            written += n;
        }
        if (written >= valid) break;
    }
    if (written < valid) complete = false;
    if (written == valid && !sink.WriteHole(length - valid)) return ExtractStatus::WriteFailed;
    if (e.dataLength > 0 && written == 0 && !complete) return ExtractStatus::Failed;
    return complete && links_.view.FailedSectors() == failedBefore ? ExtractStatus::Ok : ExtractStatus::Partial;
}

void ExFatParser::RecoverRecycleBinNames() {
    RenameRecycledFiles(*this, [this](RowId row, const std::string& name) { entries_[row].name = name; });
}

}  // namespace tarnwell
