#pragma once
// The exFAT parser: boot sector, allocation table, the walk of directory entry
// sets (deleted ones included), the tree of rows and extraction.
//
// Boot sector: 3 "EXFAT   ", 72 volume length (sectors), 80 FAT offset, 88
// cluster heap offset (sectors), 92 cluster count, 96 root directory cluster,
// 108 bytes-per-sector shift, 109 sectors-per-cluster shift.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/exfat/ExFatEntrySet.h"
#include "fs/FileSystemParser.h"

namespace tarnwell {

class ExFatParser final : public FileSystemParser {
public:
    explicit ExFatParser(ParserLinks links);

    bool Scan(RecoveryMode mode) override;
    RowId Root() const override { return 0; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return entries_.size(); }
    DetailTexts FormatTimes(RowId row) const override;
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;
    void RecoverRecycleBinNames() override;

    // The layout steps, in the order the scan runs them.
    bool ReadBootSector();
    void FindEntries();
    void LinkTree();
    // The table's value for cluster c; 0xFFFFFFFF when c is outside the heap or
    // the volume is taken as formatted.
    std::uint32_t NextCluster(std::uint32_t c);

    // The advanced scan: geometry from the finders' picks, every entry set of
    // the volume found by a pass over all of it, then built into the tree.
    // False for a shift no exFAT volume can have (above 16 at 512-byte sectors).
    bool SetClusterShift(std::uint32_t shift);
    // Fills foundEntries with the position of every plausible file entry set.
    void ScanEntries();
    // Builds the rows from foundEntries: heap and fat are byte positions.
    void BuildFromScan(std::uint64_t heap, std::uint64_t fat);
    const std::vector<std::uint64_t>& FoundEntries() const { return foundEntries_; }

    // An advanced build's folder of sets whose folder was not found.
    static constexpr std::uint32_t kOrphanRow = 1;

    const std::vector<ExFatEntry>& Entries() const { return entries_; }
    std::uint32_t ClusterSize() const { return clusterSize_; }

private:
    struct Run {
        std::uint64_t first;
        std::uint64_t count;
    };
    // The clusters holding bytes of a stream, as runs; complete tells whether
    // they cover the whole length.
    std::vector<Run> ClusterRuns(std::uint32_t firstCluster, std::uint64_t length, bool contiguous, bool deleted,
                                 bool& complete);
    std::uint64_t ClusterOffset(std::uint64_t cluster) const { return heapOffset_ + (cluster - 2) * clusterSize_; }
    bool ReadRuns(const std::vector<Run>& runs, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);
    void WalkDirectory(std::uint32_t row, const std::vector<std::uint8_t>& bytes, std::vector<std::uint32_t>& pending);
    bool ScanAdvanced();
    std::uint64_t VolumeBytes() const;
    // Reads a folder found by the scan whole and builds (or claims) the sets
    // it holds; subfolders are queued on pending.
    void ReadScannedDirectoryCluster(std::uint32_t row, std::vector<std::uint32_t>& pending);
    std::uint32_t BuildScannedSet(ByteView bytes, std::size_t at, std::uint64_t position, std::uint32_t parent,
                                  std::size_t& slotsUsed);

    std::uint32_t bytesPerSector_ = 0;
    std::uint32_t clusterSize_ = 0;
    std::uint64_t fatOffset_ = 0;
    std::uint64_t heapOffset_ = 0;
    std::uint64_t clusterCount_ = 0;
    std::uint32_t rootCluster_ = 0;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> fatBlocks_;
    std::vector<ExFatEntry> entries_;
    std::vector<std::uint32_t> lastChild_;

    // The advanced scan's state.
    bool advancedGeometry_ = false;
    std::uint64_t volumeSize_ = 0;
    std::vector<std::uint64_t> foundEntries_;
    std::uint64_t rootMarker_ = 0;  // the volume label set's position (0: none found)
    std::uint64_t rootEnd_ = 0;
    std::unordered_map<std::uint64_t, std::uint32_t> builtAt_;  // set position -> its row
    std::unordered_set<std::uint32_t> readFolders_;              // first clusters read as folders
    std::unordered_set<std::uint32_t> dirClusters_;              // every cluster read as a folder's
};

}  // namespace tarnwell
