#include "advanced/TableFinder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/ByteView.h"
#include "device/AlignedBuffer.h"
#include "partition/BootSectors.h"
#include "partition/FatBootSector.h"
#include "partition/FsKind.h"

namespace tarnwell {

namespace {

bool Media(std::uint8_t b) { return b == 0xF0 || b >= 0xF8; }

bool ReadSector(const VolumeView& reader, std::uint64_t at, std::uint64_t volumeSize, std::vector<std::uint8_t>& s) {
    s.assign(kSectorSize, 0);
    if (at + kSectorSize > volumeSize) return false;
    return reader.ReadAt(static_cast<std::int64_t>(at), s.data(), s.size());
}

// Sectors per cluster in 512-byte sectors; 0 when not a power of two up to 128.
std::uint32_t In512(std::uint64_t clusterBytes) {
    if (clusterBytes < 512 || clusterBytes % 512 != 0) return 0;
    std::uint64_t n = clusterBytes / 512;
    return (n & (n - 1)) == 0 && n <= 128 ? static_cast<std::uint32_t>(n) : 0;
}

bool FatHint(ByteView s, TableKind kind, BootHint& hint) {
    auto p = ParseFatBootSector(s);
    if (!p) return false;
    bool fat32 = p->kind == FatKind::Fat32;
    if (fat32 != (kind == TableKind::Fat32)) return false;
    hint.sectorsPerCluster = In512(std::uint64_t(p->bytesPerSector) * p->sectorsPerCluster);
    hint.fatOffset = p->FatOffset();
    return hint.sectorsPerCluster != 0;
}

bool ExFatHint(ByteView s, BootHint& hint) {
    if (!TestExFatBootSector(s)) return false;
    unsigned bps = s.U8(108), spc = s.U8(109);
    if (bps < 9 || bps > 12 || bps + spc > 25) return false;
    hint.clusterShift = static_cast<int>(bps + spc - 9);
    hint.fatOffset = std::uint64_t(s.Le32(80)) << bps;
    hint.heapOffset = std::uint64_t(s.Le32(88)) << bps;
    return true;
}

bool NtfsHint(ByteView s, BootHint& hint) {
    if (!TestNtfsBootSector(s, true)) return false;
    std::uint64_t bps = s.Le16(0x0B);
    std::uint8_t raw = s.U8(0x0D);
    std::uint64_t spc = raw <= 0x80 ? raw : (raw >= 0xE0 ? (std::uint64_t(1) << (256 - raw)) : 0);
    hint.sectorsPerCluster = In512(bps * spc);
    return hint.sectorsPerCluster != 0;
}

void PushUnique(std::vector<std::uint32_t>& list, std::uint32_t v) {
    if (std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
}

}  // namespace

void NoteRootAnchors(ByteView sector, std::uint64_t at, RootAnchors& anchors) {
    // The up-case table, as every formatter writes it, maps its first 32 units to themselves.
    if (anchors.upcaseAt == 0 && sector.size() >= 64) {
        bool identity = true;
        for (std::size_t u = 0; u < 32 && identity; ++u) identity = sector.Le16(2 * u) == u;
        if (identity) anchors.upcaseAt = at;
    }
    // A root directory's first sector: the bitmap entry, then the up-case entry.
    if (anchors.rootAt != 0) return;
    for (std::size_t slot = 0; slot + 64 <= std::min<std::size_t>(sector.size(), 4 * 32); slot += 32) {
        if (sector.U8(slot) != 0x81 || sector.U8(slot + 32) != 0x82) continue;
        const std::uint32_t bitmapCluster = sector.Le32(slot + 20), upcaseCluster = sector.Le32(slot + 32 + 20);
        const std::uint64_t bitmapBytes = sector.Le64(slot + 24);
        if (bitmapCluster < 2 || upcaseCluster <= bitmapCluster || bitmapBytes == 0) continue;
        anchors.rootAt = at;
        anchors.bitmapCluster = bitmapCluster;
        anchors.upcaseCluster = upcaseCluster;
        anchors.bitmapBytes = bitmapBytes;
        return;
    }
}

std::vector<std::uint64_t> HeapsFromRoot(const RootAnchors& a, std::uint64_t volumeSize) {
    std::vector<std::uint64_t> heaps;
    if (!a.Complete()) return heaps;
    for (unsigned shift = 0; shift <= 16; ++shift) {
        const std::uint64_t cs = 512ull << shift;
        const std::uint64_t before = std::uint64_t(a.upcaseCluster - 2) * cs;
        if (before > a.upcaseAt) break;
        const std::uint64_t heap = a.upcaseAt - before;
        // The up-case table follows the bitmap, the root lies on a cluster of
        // the heap, and the bitmap has one bit per cluster of the rest of the volume.
        const std::uint64_t bitmapClusters = (a.bitmapBytes + cs - 1) / cs;
        if (heap == 0 || a.upcaseCluster != a.bitmapCluster + bitmapClusters || a.rootAt < heap ||
            (a.rootAt - heap) % cs != 0 || heap >= volumeSize)
            continue;
        const std::uint64_t clusters = (volumeSize - heap) / cs;
        // (a volume a little longer than its file system leaves a cluster over)
        if ((clusters + 7) / 8 < a.bitmapBytes || (clusters + 7) / 8 > a.bitmapBytes + 1) continue;
        heaps.push_back(heap);
    }
    return heaps;
}

bool TableKindForName(const std::string& name, TableKind& kind) {
    switch (FsTypeOfName(name)) {
        case FsType::Ntfs: kind = TableKind::Ntfs; return true;
        case FsType::Fat32: kind = TableKind::Fat32; return true;
        case FsType::Fat:
        case FsType::Fat16: kind = TableKind::Fat16; return true;
        case FsType::Fat12: kind = TableKind::Fat12; return true;
        case FsType::ExFat: kind = TableKind::ExFat; return true;
        default: return false;
    }
}

BootHint ReadBootHint(const VolumeView& reader, std::uint64_t volumeSize, TableKind kind) {
    std::vector<std::uint64_t> places{0};
    switch (kind) {
        case TableKind::Fat32: places.push_back(6 * 512); break;
        case TableKind::ExFat: places.push_back(12 * 512); places.push_back(12 * 4096); break;
        case TableKind::Ntfs:
            if (volumeSize >= 2 * kSectorSize) places.push_back(volumeSize / kSectorSize * kSectorSize - kSectorSize);
            break;
        default: break;  // FAT12/16 keep no backup
    }
    std::vector<std::uint8_t> s;
    for (std::size_t i = 0; i < places.size(); ++i) {
        BootHint hint;
        if (!ReadSector(reader, places[i], volumeSize, s)) continue;
        bool ok = kind == TableKind::ExFat ? ExFatHint(s, hint)
                  : kind == TableKind::Ntfs ? NtfsHint(s, hint)
                                            : FatHint(s, kind, hint);
        if (!ok) continue;
        hint.source = i == 0 ? BootSource::Primary : BootSource::Backup;
        hint.at = places[i];
        return hint;
    }
    return {};
}

bool MatchesTableSignature(TableKind kind, const std::uint8_t* p) {
    ByteView v(p, 8);
    std::uint32_t w0 = v.Le32(0), w1 = v.Le32(4);
    // Inside a table, runs of end-of-chain marks read as media FF; a table whose
    // first four entries are all FF is given up for them.
    if (kind != TableKind::ExFat && MatchesHeapSignature(p)) return false;
    switch (kind) {
        case TableKind::Fat12: return Media(p[0]) && p[1] == 0xFF && p[2] == 0xFF;
        case TableKind::Fat16: return Media(p[0]) && p[1] == 0xFF && (v.Le16(2) & 0x3FFF) == 0x3FFF;
        case TableKind::Fat32:
            return Media(p[0]) && (w0 & 0x0FFFFF00) == 0x0FFFFF00 && (w1 & 0x03FFFFFF) == 0x03FFFFFF;
        case TableKind::ExFat: return w0 == 0xFFFFFFF8 && w1 == 0xFFFFFFFF;
        case TableKind::Ntfs: return false;
    }
    return false;
}

bool MatchesHeapSignature(const std::uint8_t* p) {
    return std::all_of(p, p + 8, [](std::uint8_t b) { return b == 0xFF; });
}

std::vector<std::uint32_t> ClusterSizeList(TableKind kind, const BootHint& boot) {
    std::vector<std::uint32_t> list;
    if (kind == TableKind::ExFat) {
        if (boot.source != BootSource::None && boot.clusterShift >= 0 && boot.clusterShift <= 16)
            list.push_back(static_cast<std::uint32_t>(boot.clusterShift));
        for (std::uint32_t s : {8u, 9u, 10u, 11u}) PushUnique(list, s);
        for (std::uint32_t s = 0; s <= 16; ++s) PushUnique(list, s);
        return list;
    }
    if (boot.source != BootSource::None && boot.sectorsPerCluster != 0) list.push_back(boot.sectorsPerCluster);
    std::vector<std::uint32_t> usual;
    switch (kind) {
        case TableKind::Ntfs: usual = {8, 4, 2, 16, 32, 64}; break;
        case TableKind::Fat32: usual = {2, 4, 16, 32, 64, 8}; break;
        default: usual = {4, 8, 16, 2, 32, 64, 128}; break;
    }
    for (std::uint32_t s : usual) PushUnique(list, s);
    for (std::uint32_t s = 1; s <= 128; s *= 2) PushUnique(list, s);
    return list;
}

TableFinder::TableFinder(const VolumeView& reader, std::uint64_t volumeSize, TableKind kind,
                         ProgressSink& progress, JobControl* control)
    : reader_(reader), volumeSize_(volumeSize), kind_(kind), progress_(progress), control_(control) {}

void TableFinder::Pass(std::size_t maxTables, std::size_t maxHeaps, TableCandidates& out) {
    const bool heaps = kind_ == TableKind::ExFat && maxHeaps > 0;
    AlignedBuffer block(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, volumeSize_)));
    progress_.SetRange(0, 1000);
    std::uint64_t found = 0;
    bool tableSeen = false;
    RootAnchors anchors;
    for (std::uint64_t p = 0; p < volumeSize_;) {
        if (out.tables.size() >= maxTables && (!heaps || (out.heaps.size() >= maxHeaps && anchors.Complete()))) break;
        if (control_ != nullptr && !control_->Checkpoint()) {
            out.stopped = true;
            break;
        }
        progress_.SetPosition(static_cast<std::int64_t>(p * 1000 / volumeSize_));
        // Nothing past the volume's end: the next volume's table is not this one's.
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), volumeSize_ - p));
        reader_.ReadAt(static_cast<std::int64_t>(p), block.data(), n);  // unreadable bytes come back zero
        out.bytesRead += n;
        for (std::size_t at = 0; at + 8 <= n; at += 512) {
            const std::uint8_t* s = block.data() + at;
            if (MatchesTableSignature(kind_, s)) {
                tableSeen = true;
                if (out.tables.size() >= maxTables) continue;
                out.tables.push_back(p + at);
                progress_.Report(Event(Step::FoundTable, static_cast<std::int64_t>(++found)));
            } else if (heaps && tableSeen && out.heaps.size() < maxHeaps && MatchesHeapSignature(s)) {
                // The heap follows the table: FF runs of the boot region are no heap.
                out.heaps.push_back(p + at);
            }
            if (heaps) NoteRootAnchors(ByteView(s, std::min<std::size_t>(512, n - at)), p + at, anchors);
        }
        p += n;
    }
    if (heaps) {
        // Heaps the root's own entries place go before those the bitmap's look suggests.
        std::vector<std::uint64_t> placed = HeapsFromRoot(anchors, volumeSize_);
        for (std::uint64_t h : out.heaps)
            if (std::find(placed.begin(), placed.end(), h) == placed.end()) placed.push_back(h);
        if (placed.size() > maxHeaps) placed.resize(maxHeaps);
        out.heaps = std::move(placed);
    }
    progress_.SetPosition(1000);
}

TableCandidates TableFinder::Find(int maximum) {
    const std::size_t n = static_cast<std::size_t>(CandidateLimit(maximum));
    TableCandidates out;
    out.boot = ReadBootHint(reader_, volumeSize_, kind_);
    if (kind_ != TableKind::Ntfs) Pass(n, n, out);
    out.clusterSizes = ClusterSizeList(kind_, out.boot);
    // The boot's heap goes before the found ones, not over the first.
    if (kind_ == TableKind::ExFat && out.boot.source != BootSource::None && out.boot.heapOffset > 0) {
        auto it = std::find(out.heaps.begin(), out.heaps.end(), out.boot.heapOffset);
        if (it != out.heaps.end()) out.heaps.erase(it);
        out.heaps.insert(out.heaps.begin(), out.boot.heapOffset);
    }
    return out;
}

std::vector<std::uint64_t> TableFinder::FindFatTables(int maximum) {
    TableCandidates out;
    Pass(static_cast<std::size_t>(CandidateLimit(maximum)), 0, out);
    return out.tables;
}

std::vector<std::uint64_t> TableFinder::FindHeapOffsets(int maximum) {
    TableCandidates out;
    Pass(0, static_cast<std::size_t>(CandidateLimit(maximum)), out);
    return out.heaps;
}

}  // namespace tarnwell
