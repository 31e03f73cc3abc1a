#pragma once
// What Fat16Parser (FAT12 and FAT16) and Fat32Parser share:
// the boot sector, the table, the directory walk with deleted entries, the
// tree, the detail texts, extraction and the recycle-bin names. The twins
// differ only in the kinds they accept and the texts they show.
//
// The walk starts at the root (FAT12/16: the fixed region after the tables;
// FAT32: the chain of the boot sector's root cluster) and reads every folder
// once: live folders along their chains first, then deleted folders, whose
// chains were freed, as the free clusters from their start cluster on while
// those hold directory entries. Every directory entry gives one row. With
// "Is Drive Formated..?" (ParserLinks::driveFormatted) the data area is then
// searched for folders of the earlier file system that no folder of the
// present one leads to; their contents are gathered under "ORPHAN ENTRY".

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fs/fat/FatDirectory.h"
#include "fs/fat/FatEntry.h"
#include "fs/fat/FatTable.h"
#include "fs/FileSystemParser.h"
#include "partition/FatBootSector.h"

namespace tarnwell {

inline constexpr const char* kFatOrphanFolderName = "ORPHAN ENTRY";

class FatParser : public FileSystemParser {
public:
    bool Scan(RecoveryMode mode) override;

    RowId Root() const override { return 0; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return entries_.size(); }

    DetailTexts FormatTimes(RowId row) const override;
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;

    // The steps of the scan worker, in their order.
    bool ReadBootSector();
    bool ReadFat();
    void FindEntries();
    std::uint32_t LinkTree();
    // The recycle-bin name pass, run at the end of each scan worker: a FAT16
    // stick used on Windows has a recycle bin too.
    void NameRecycledFiles();

    const std::vector<FatEntry>& Entries() const { return entries_; }
    const FatBootParameters& Boot() const { return boot_; }
    const FatTable& Table() const { return table_; }
    const std::string& VolumeLabel() const { return label_; }
    // Directories whose first cluster was not a directory (their rows stay, empty).
    std::uint64_t RejectedFolders() const { return rejectedFolders_; }

    // The byte offset of cluster c from the volume start.
    std::uint64_t ClusterOffset(std::uint32_t c) const {
        return boot_.DataOffset() + (std::uint64_t(c) - 2) * clusterSize_;
    }

protected:
    FatParser(ParserLinks links, const char* kindText);
    virtual bool AcceptsKind(FatKind kind) const = 0;

private:
    struct FolderJob {
        std::uint32_t parent;  // the row the contents hang under
        std::uint32_t start;   // first cluster
        bool salvage;          // read without the table (deleted or lost)
        bool deleted;          // the rows found are deleted
        bool orphans;          // the rows found have lost their parent
    };

    bool Fat32() const { return boot_.kind == FatKind::Fat32; }
    bool ScanAdvanced();
    bool ChooseGeometry(Event& problem);
    std::uint64_t MaxDirClusters() const;
    void ReadRoot();
    void ReadFolder(const FolderJob& job, std::deque<FolderJob>& live, std::deque<FolderJob>& deferred);
    bool ReadChainDirectory(std::uint32_t start, std::vector<std::uint8_t>& bytes, DirectoryPlace& place,
                            std::vector<std::uint32_t>& clusters);
    bool ReadSalvagedDirectory(std::uint32_t start, std::vector<std::uint8_t>& bytes, DirectoryPlace& place,
                               std::vector<std::uint32_t>& clusters);
    void AddRows(DecodedDirectory& dir, const FolderJob& job, std::deque<FolderJob>& live,
                 std::deque<FolderJob>& deferred);
    void RunJobs(std::deque<FolderJob>& live, std::deque<FolderJob>& deferred);
    void FindLostFolders();
    bool IsDirectoryHead(ByteView cluster, std::uint32_t c) const;
    std::vector<ClusterRun> SalvageRuns(std::uint32_t start, std::uint64_t clusters) const;
    void Progress();

    const char* kindText_;  // "Fat32" or "Fat16", as the worker's texts say
    std::vector<std::uint8_t> bootSector_;
    FatBootParameters boot_{};
    bool bootValid_ = false;
    std::uint32_t clusterSize_ = 0;
    unsigned activeFat_ = 0;
    FatTable table_;
    std::vector<FatEntry> entries_;
    std::string label_;
    std::vector<bool> dirSeen_;  // clusters already read as a directory
    std::uint64_t rejectedFolders_ = 0;
    std::uint64_t foldersDone_ = 0, foldersQueued_ = 0;
    bool stopped_ = false;
    bool advanced_ = false;  // geometry from the finders: every unread cluster may be a lost folder
    std::vector<std::uint8_t> io_;  // extraction buffer, kept between files
};

// A FAT parser chosen by the volume's boot sector (Fat16Parser for FAT12 and
// FAT16, Fat32Parser for FAT32); Fat32Parser, which then refuses the volume,
// when the sector is not a FAT boot sector.
std::unique_ptr<FileSystemParser> MakeFatParserByBootSector(ParserLinks links);

}  // namespace tarnwell
