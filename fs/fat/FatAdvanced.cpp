// The advanced scan of FAT12/16/32: the table and cluster size come from the
// finders (the picks of ParserLinks::advanced), not from the boot sector; the
// rest of the layout is rebuilt around them, then the standard walk runs, and
// every cluster it did not reach is searched for lost folders, whose contents
// go under "ORPHAN ENTRY".
//
// The layout: the FAT copies' spacing gives the table size (else a usable boot
// sector or its backup, else the most the volume's clusters need); the FAT16
// root region, or the FAT32 cluster 2, follows the last copy, unless the
// folders found there place cluster 2 elsewhere.

#include <algorithm>
#include <map>

#include "advanced/TableFinder.h"
#include "fs/fat/FatParser.h"

namespace tarnwell {

namespace {

constexpr std::uint64_t kMaxFat16Table = 128 * 1024;  // 65536 entries of 2 bytes

template <typename T>
T Pick(const std::vector<T>& list, int index, T otherwise) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size() ? list[static_cast<std::size_t>(index)]
                                                                        : otherwise;
}

// Where cluster 2 lies by the folders found within 8 MiB of where it is expected:
// the start most of their "." entries agree on, 0 when no folder is found. A
// start the expected one shares with any folder stands.
std::uint64_t DataStartFromFolders(const VolumeView& reader, std::uint64_t fatAt, std::uint64_t rootBytes,
                                   std::uint64_t expected, std::uint64_t volumeSize, std::uint64_t clusterBytes,
                                   bool fat32) {
    constexpr std::uint64_t kWindow = 8u << 20;
    constexpr std::size_t kEnough = 32;  // folders to weigh
    const std::uint64_t from = std::max(fatAt + kSectorSize, expected > kWindow ? expected - kWindow : 0);
    const std::uint64_t to = std::min(volumeSize, expected + kWindow);
    if (to <= from) return 0;
    std::vector<std::uint8_t> area(static_cast<std::size_t>(to - from));
    reader.ReadAt(static_cast<std::int64_t>(from), area.data(), area.size());
    std::map<std::uint64_t, std::size_t> votes;
    std::size_t folders = 0;
    std::uint64_t best = 0;
    for (std::size_t at = 0; at + 2 * kDirSlot <= area.size() && folders < kEnough; at += kSectorSize) {
        ByteView dot = ByteView(area).Sub(at, kDirSlot);
        if (DotEntry(dot) != 1 || DotEntry(ByteView(area).Sub(at + kDirSlot, kDirSlot)) != 2) continue;
        const std::uint64_t c = fat32 ? (std::uint64_t(dot.Le16(20)) << 16 | dot.Le16(26)) : dot.Le16(26);
        if (c < 2 || (c - 2) * clusterBytes > from + at) continue;
        const std::uint64_t data = from + at - (c - 2) * clusterBytes;
        if (data < fatAt + rootBytes + kSectorSize) continue;
        ++folders;
        if (data == expected) return expected;
        if (++votes[data] > (best ? votes[best] : 0)) best = data;
    }
    return best;
}

}  // namespace

bool FatParser::ChooseGeometry(Event& problem) {
    const VolumeView& reader = links_.view;
    const bool fat32 = std::string(kindText_) == "Fat32";
    const std::uint64_t length = reader.Available();
    const std::uint64_t volumeSize =
        links_.volume.SizeBytes() != 0 ? std::min(links_.volume.SizeBytes(), length) : length;
    if (volumeSize < 16 * kSectorSize) {
        problem = Event(Step::VolumeTooSmall).Kind(fat32 ? "fat32" : "fat16");
        return false;
    }
    const TableKind kind = fat32 ? TableKind::Fat32 : TableKind::Fat16;
    TableFinder finder(reader, volumeSize, kind, *links_.progress, links_.control);
    Status(Event(Step::FindingTables).Kind(fat32 ? "fat32" : "fat16"));
    TableCandidates found = links_.advanced.found ? *links_.advanced.found : finder.Find(links_.advanced.max);
    if (found.stopped) stopped_ = true;
    const std::uint64_t fatAt = Pick<std::uint64_t>(found.tables, links_.advanced.table, 0);
    const std::uint32_t spc = Pick<std::uint32_t>(found.clusterSizes, links_.advanced.cluster, 0);
    // Handed-over lists may hold anything: only a power of two up to 256 sectors is a FAT cluster.
    if (fatAt == 0 || fatAt % kSectorSize != 0 || spc == 0 || spc > 256 || (spc & (spc - 1)) != 0) {
        problem = Event(Step::NoTable).Kind(fat32 ? "fat32" : "fat16");
        return false;
    }

    // A usable boot sector (or FAT32's backup) for what the tables cannot tell.
    std::optional<FatBootParameters> hint;
    for (std::uint64_t at : {std::uint64_t(0), std::uint64_t(6 * kSectorSize)}) {
        std::vector<std::uint8_t> s(kSectorSize, 0);
        reader.ReadAt(static_cast<std::int64_t>(at), s.data(), s.size());
        auto p = ParseFatBootSector(s);
        if (p && AcceptsKind(p->kind)) {
            hint = p;
            break;
        }
        if (!fat32) break;
    }

    FatBootParameters p;
    p.bytesPerSector = kSectorSize;
    p.sectorsPerCluster = spc;
    p.media = 0xF8;
    p.totalSectors = volumeSize / kSectorSize;
    // The table size: the spacing of this candidate and the next, when that is
    // a plausible second copy; then the boot's; then the most the clusters need.
    std::uint64_t fatBytes = 0;
    unsigned copies = 1;
    auto next = std::upper_bound(found.tables.begin(), found.tables.end(), fatAt);
    const std::uint64_t clustersAtMost = volumeSize / (std::uint64_t(spc) * kSectorSize) + 2;
    const std::uint64_t needed = fat32 ? clustersAtMost * 4 : std::min(clustersAtMost * 2, kMaxFat16Table);
    if (next != found.tables.end() && *next - fatAt <= std::max<std::uint64_t>(needed, 512) + 512 * 1024 &&
        (!hint || std::uint64_t(hint->sectorsPerFat) * hint->bytesPerSector == *next - fatAt)) {
        fatBytes = *next - fatAt;
        copies = 2;
    } else if (hint) {
        fatBytes = std::uint64_t(hint->sectorsPerFat) * hint->bytesPerSector;
        // The picked table is the hint's second copy when it lies one table after the first.
        copies = hint->fatCount == 2 && fatAt == hint->FatOffset() ? 2 : 1;
    } else {
        fatBytes = (needed + kSectorSize - 1) / kSectorSize * kSectorSize;
        if (!fat32) fatBytes = std::min(fatBytes, kMaxFat16Table);
    }
    // Folders found near where cluster 2 should lie have the last word: each "."
    // names its own cluster, so each tells where cluster 2 lies. A volume quick-
    // formatted with another cluster size keeps its old folders behind new,
    // smaller or larger tables, so neither the copies' spacing nor the new boot
    // sector places them.
    const std::uint64_t rootBytes = fat32 ? 0 : std::uint64_t(hint ? hint->rootEntryCount : 512) * 32;
    const std::uint64_t expected = fatAt + copies * fatBytes + rootBytes;
    const std::uint64_t data = DataStartFromFolders(reader, fatAt, rootBytes, expected, volumeSize,
                                                    std::uint64_t(spc) * kSectorSize, fat32);
    if (data != 0 && data != expected) {
        const std::uint64_t tables = data - rootBytes - fatAt;
        if (copies == 2 && tables % (2 * kSectorSize) != 0) copies = 1;
        fatBytes = tables / copies;
    }
    if (!fat32) fatBytes = std::min(fatBytes, kMaxFat16Table);
    p.reservedSectors = static_cast<std::uint32_t>(fatAt / kSectorSize);
    p.fatCount = copies;
    p.sectorsPerFat = static_cast<std::uint32_t>((fatBytes + kSectorSize - 1) / kSectorSize);
    p.rootEntryCount = fat32 ? 0 : (hint ? hint->rootEntryCount : 512);
    p.rootCluster = fat32 ? (hint && hint->rootCluster >= 2 ? hint->rootCluster : 2) : 0;
    const std::uint64_t meta = std::uint64_t(p.reservedSectors) + std::uint64_t(copies) * p.sectorsPerFat +
                               (p.RootDirBytes() + kSectorSize - 1) / kSectorSize;
    if (meta >= p.totalSectors) {
        problem = Event(Step::NoDataArea);
        return false;
    }
    p.clusterCount = (p.totalSectors - meta) / spc;
    // The table cannot name more clusters than it has entries for.
    const std::uint64_t entryBits = fat32 ? 32 : (p.clusterCount < 4085 ? 12 : 16);
    p.clusterCount = std::min<std::uint64_t>(p.clusterCount, fatBytes * 8 / entryBits - 2);
    p.kind = fat32 ? FatKind::Fat32 : (p.clusterCount < 4085 ? FatKind::Fat12 : FatKind::Fat16);
    boot_ = p;
    clusterSize_ = boot_.ClusterSize();
    activeFat_ = 0;
    bootValid_ = true;
    return true;
}

bool FatParser::ScanAdvanced() {
    if (!links_.view) return false;
    advanced_ = true;
    entries_.clear();
    Event problem;
    if (!ChooseGeometry(problem)) {
        links_.prompter->Inform(problem);
        return false;
    }
    ReadFat();
    Status(Event(Step::AdvancedDirectories));
    FindEntries();
    Status(Event(Step::AdvancedTree));
    LinkTree();
    NameRecycledFiles();
    links_.progress->SetRange(0, 100);
    links_.progress->SetPosition(100);
    return true;
}

}  // namespace tarnwell
