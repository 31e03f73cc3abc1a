#pragma once
// The NTFS parser: reads the master file table straight from the volume's
// sectors (or, in the Deep mode, every file record it finds on the volume),
// links the records into a tree with an "ORPHAN_ENTRY" folder for records whose
// parent is lost, and extracts resident, non-resident, sparse, compressed and
// attribute-list files.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRuns.h"

namespace tarnwell {

// One row of the entry table. In the Standard mode row i is MFT record i (an
// empty row stands in for a slot that could not be read); the orphan node and,
// when the volume has none, a stand-in root follow the records. Links are row
// indexes; a negative link means none.
struct NtfsEntry {
    std::uint32_t signature = 0;  // the record's first four bytes; "FILE" for records and the orphan node
    std::uint64_t recordOffset = 0;
    std::uint32_t nameOffset = 0;  // the name (UTF-8) in the parser's name store
    std::uint32_t nameLength = 0;
    std::int64_t parentIndex = -1;  // the parent's record number
    std::uint64_t allocatedSize = 0;
    std::uint16_t recordFlags = 0;  // bit 0 clear: deleted
    char kind = 0;                  // 'D' for a folder
    std::uint64_t selfIndex = 0;
    std::uint8_t orphan = 0;  // listed under the orphan node
    std::int64_t firstChild = -1;
    std::int64_t nextSibling = -1;

    std::int64_t lastChild = -1;
    std::uint64_t recordNumber = 0;
    std::uint16_t sequence = 0;
    std::uint16_t parentSequence = 0;
    std::uint64_t dataSize = 0;  // the unnamed $DATA's length, resident or not
    std::uint64_t created = 0, modified = 0, accessed = 0;  // FILETIMEs
    std::uint32_t fileAttributes = 0;
    std::uint8_t nameSpace = 0;
    bool hasName = false;
    bool torn = false;       // a sector of the record did not match its update sequence
    bool extension = false;  // holds attributes of another record; never listed
    bool hasAttributeList = false;
    bool listed = false;     // linked into the tree
};

// An MFT location found by the candidate search: the record of $MFT itself.
struct MftCandidate {
    NtfsEntry entry;
    std::uint64_t clusterSize = 0;  // the cluster size its run list implies (0: unknown)
};

class NtfsParser final : public FileSystemParser {
public:
    explicit NtfsParser(ParserLinks links);

    bool Scan(RecoveryMode mode) override;
    RowId Root() const override { return rootIndex; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return entries.size(); }
    DetailTexts FormatTimes(RowId row) const override;
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;
    const std::string& LastProblem() const override { return lastProblem_; }
    OutputTimes TimesOf(RowId row) const override;

    // Searches the volume for the MFT's own record ($MFT, recognised by the
    // $Boot record seven records after it); at most maximum candidates.
    std::uint64_t FindMftCandidates(std::uint64_t maximum);
    const std::vector<MftCandidate>& MftCandidates() const { return mftCandidates; }
    // The candidate and cluster size the Advanced mode uses (sectorsPerCluster
    // 0: the candidate's own).
    void SelectMftCandidate(std::size_t index, std::uint32_t sectorsPerCluster = 0);

    const NtfsEntry& Entry(RowId row) const { return entries[row]; }
    std::string_view Name(RowId row) const;
    std::uint64_t ClusterSize() const { return clusterSize; }
    std::uint32_t RecordSize() const { return recordSize; }
    RowId OrphanIndex() const { return orphanIndex; }

private:
    // Volume geometry and the MFT.
    bool ReadBootSector();
    bool LocateMft();
    bool SearchMftRecord();
    bool UseMftCandidate(std::size_t index);
    // The candidate whose $MFT record is at mftAt; false when it names no $MFT.
    bool MftCandidateAt(std::uint64_t mftAt, std::uint64_t size, MftCandidate& candidate);
    void ChooseAdvancedPicks();
    bool ReadMftRunList(std::uint64_t recordOffset);
    void ReadMftRecords();
    // Tree.
    void ParseRecord(std::uint8_t* record, RowId row);
    void ApplyExtensionRecords();
    void BuildTree();
    void LinkUnder(RowId parent, RowId child);
    bool ParentOf(RowId row, RowId& parent) const;
    void ReadRecycleBinNames();
    // Deep mode.
    void DeepScanRecords();
    using RecordVisitor = std::function<bool(std::uint64_t offset, std::uint8_t* record)>;
    void ScanVolumeForRecords(const RecordVisitor& visit, bool progress);

    // Records and data.
    // Reads part of an attribute's stream (zeros where nothing is mapped or readable);
    // false when any byte was missing.
    bool ReadRange(const ntfsfmt::RunMap& runs, std::uint64_t offset, std::size_t count, std::uint8_t* out) const;
    bool ReadRow(RowId row, std::vector<std::uint8_t>& record) const;
    // The records that may hold record number n (Standard: one; Deep: every copy found).
    std::vector<std::vector<std::uint8_t>> RecordsNumbered(std::uint64_t n) const;
    bool MftRowsAreRecordNumbers() const { return scanMode != RecoveryMode::Deep; }
    struct DataStream;
    bool LoadDataStream(RowId row, DataStream& stream, std::string& problem) const;
    bool ReadAttributeList(const ntfsfmt::Attribute& list, std::vector<std::uint8_t>& out) const;
    bool ReadClusters(const ntfsfmt::RunMap& runs, std::uint64_t bytes, std::vector<std::uint8_t>& out) const;
    ExtractStatus WritePlain(const DataStream& stream, FileSink& sink) const;
    ExtractStatus WriteCompressed(const DataStream& stream, FileSink& sink) const;

    void SetName(RowId row, std::string_view name);
    RowId AppendSyntheticFolder(std::string_view name);
    std::uint64_t VolumeClusters() const { return clusterSize ? volumeSize / clusterSize : 0; }
    std::uint64_t ScanLimit() const;
    void Reset();

    std::uint64_t recordCount = 0;  // Standard: rows that stand for MFT records

    std::optional<ntfsfmt::BootSector> bootSector;
    std::uint64_t volumeSize = 0;
    std::uint64_t clusterSize = 4096;
    std::uint32_t recordSize = ntfsfmt::kDefaultRecordSize;
    std::uint64_t mftOffset = 0;
    bool mftFound = false;
    ntfsfmt::RunMap mftRuns;
    std::uint64_t mftBytes = 0;  // the MFT's real size

    RecoveryMode scanMode = RecoveryMode::Standard;
    std::vector<NtfsEntry> entries;
    std::string names;  // every row's name, UTF-8, back to back
    RowId orphanIndex = kNoRow;
    RowId rootIndex = kNoRow;
    // Deep mode: (record number, row) of every row found, sorted once the scan ends.
    std::vector<std::pair<std::uint64_t, RowId>> rowsByNumber;
    std::pair<const std::pair<std::uint64_t, RowId>*, const std::pair<std::uint64_t, RowId>*> RowsNumbered(
        std::uint64_t n) const;
    std::vector<MftCandidate> mftCandidates;
    std::optional<std::size_t> chosenCandidate;
    std::uint64_t chosenClusterSize = 0;
    struct PendingExtension {
        RowId row;
        std::uint64_t base;
        std::uint16_t baseSequence;
    };
    std::vector<PendingExtension> pendingExtensions;
    mutable std::string lastProblem_;  // of the last extraction
};

}  // namespace tarnwell
