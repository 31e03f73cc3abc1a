#pragma once
// The advanced mode's finders: where a damaged volume's file-system table
// begins, found by signature rather than taken from its boot sector, with the
// cluster sizes and (exFAT) cluster-heap starts to offer beside them.
//
// One sequential pass over the volume in large reads serves every list.
// Signatures, at the start of every 512-byte step (little-endian):
//   FAT12  media FF FF                    (entries 0 and 1, 12 bits each)
//   FAT16  media FF, then FFFF            (entry 1's flag bits 15, 14 masked)
//   FAT32  media FFFF0F, then 0FFFFFFF    (top four reserved bits and entry
//                                          1's flag bits 27, 26 masked)
//   exFAT  F8FFFFFF FFFFFFFF
//   heap   FF x 8                         (a well-filled allocation bitmap), and
//          where the root's bitmap and up-case entries and the up-case
//          table itself agree (see RootAnchors), those first
// media is F0 or F8 to FF; eight FF bytes are no FAT head (a table's end-of-chain
// runs look so). A volume's boot sector, or its backup when the
// primary is unusable (FAT32 sector 6, exFAT sector 12, NTFS the volume's
// last), puts its own cluster size and heap at the head of those lists.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteView.h"
#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "device/VolumeView.h"

namespace tarnwell {

enum class TableKind { Fat12, Fat16, Fat32, ExFat, Ntfs };

// The kind for a file-system name as volumes carry it ("FAT32", "fat", "exFAT",
// "NTFS"); false when advanced mode has no finder for it.
bool TableKindForName(const std::string& name, TableKind& kind);

// A maximum below 1 counts as 3.
inline int CandidateLimit(int requested) { return requested < 1 ? 3 : requested; }

// Where the values of a usable boot sector came from.
enum class BootSource { None, Primary, Backup };

struct BootHint {
    BootSource source = BootSource::None;
    std::uint64_t at = 0;                 // byte position of the sector used
    std::uint32_t sectorsPerCluster = 0;  // in 512-byte sectors (exFAT: as a shift in clusterShift)
    int clusterShift = -1;                // exFAT: log2 of 512-byte sectors per cluster
    std::uint64_t fatOffset = 0;          // bytes
    std::uint64_t heapOffset = 0;         // exFAT, bytes
};

// Reads the primary boot sector, then its backup. reader addresses the volume from 0.
BootHint ReadBootHint(const VolumeView& reader, std::uint64_t volumeSize, TableKind kind);

// Whether the 8 bytes at p begin a table of kind (FAT kinds only).
bool MatchesTableSignature(TableKind kind, const std::uint8_t* p);
bool MatchesHeapSignature(const std::uint8_t* p);

// The cluster-size list of kind: the boot's value when valid, then the usual
// ones, then every other power of two (sectors per cluster 1 to 128; exFAT
// shifts 0 to 16). No value twice.
std::vector<std::uint32_t> ClusterSizeList(TableKind kind, const BootHint& boot);

// What places an exFAT heap without a boot sector: the root directory's
// bitmap and up-case entries name their clusters, and the up-case table is
// recognisable where it lies; together they fix the heap's start.
struct RootAnchors {
    std::uint64_t rootAt = 0;    // the sector holding the two entries
    std::uint64_t upcaseAt = 0;  // the first sector of the up-case table
    std::uint32_t bitmapCluster = 0, upcaseCluster = 0;
    std::uint64_t bitmapBytes = 0;
    bool Complete() const { return rootAt != 0 && upcaseAt != 0; }
};
void NoteRootAnchors(ByteView sector, std::uint64_t at, RootAnchors& anchors);
// The heap starts the anchors agree with, one per cluster size at most.
std::vector<std::uint64_t> HeapsFromRoot(const RootAnchors& anchors, std::uint64_t volumeSize);

struct TableCandidates {
    std::vector<std::uint64_t> tables;        // byte positions from the volume start, in disk order
    std::vector<std::uint64_t> heaps;         // exFAT: boot's first, then the found ones
    std::vector<std::uint32_t> clusterSizes;  // see ClusterSizeList
    BootHint boot;
    bool stopped = false;                     // Stop ended the search; the lists hold what was found
    std::uint64_t bytesRead = 0;
};

class TableFinder {
public:
    TableFinder(const VolumeView& reader, std::uint64_t volumeSize, TableKind kind, ProgressSink& progress,
                JobControl* control = nullptr);

    // Both in one pass; at most maximum of each (below 1: 3).
    TableCandidates Find(int maximum);
    // The table list alone, and the heap list alone (each one pass).
    std::vector<std::uint64_t> FindFatTables(int maximum);
    std::vector<std::uint64_t> FindHeapOffsets(int maximum);

    // Bytes per read.
    static constexpr std::size_t kBlock = 1u << 20;  // stays in cache while it is searched

private:
    void Pass(std::size_t maxTables, std::size_t maxHeaps, TableCandidates& out);

    VolumeView reader_;
    std::uint64_t volumeSize_;
    TableKind kind_;
    ProgressSink& progress_;
    JobControl* control_;
};

}  // namespace tarnwell
