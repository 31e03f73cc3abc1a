#pragma once
// What the engine reports: a step of its work with the counts and names that
// go with it, never a sentence. Each front end words a step its own way: the
// wizard with its page texts, the command line with a bar or a short line.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// The stage of a job a step belongs to.
enum class Phase : std::uint8_t {
    None,
    Opening,             // choosing and opening the source and its parser
    ReadingBootSector,
    ReadingTables,       // allocation tables, group descriptors, the MFT's runs
    ReadingRecords,      // directory entries, MFT records, inodes, catalog nodes
    BuildingTree,
    ScanningPartitions,
    Searching,
    Saving,
    Carving,
    Control,             // pause, resume, stop asked
    Finishing,
};

// How a step ends the work, if it does.
enum class Outcome : std::uint8_t {
    None,     // work goes on
    Done,
    Stopped,  // stopped on request: what was found so far is kept
    Warning,  // work goes on or ended, with something the user should know
    Refused,  // not started: see the reason
    Failed,   // ended by an error
};

enum class Reason : std::uint8_t {
    None,
    NotThisFileSystem,  // Event::kind was asked, Event::found is what the volume holds (empty: nothing known)
    ModeNotAvailable,   // Event::name is the mode, Event::kind the file system
    NoReader,           // this build or this source has nothing to read the volume with
    Unreadable,         // the source or a structure on it could not be read
    NoStructure,        // a structure the scan needs is not on the volume
    Busy,               // another job of the page runs
    NothingSelected,
    NoOutputFolder,
    OutputRefused,      // Event::detail says why the output folder is refused
    NoSignatures,
    ZeroSize,
    InvalidPattern,
    Exception,          // Event::detail is what the error said
    UnreadableSectors,  // Event::count sectors were read as zeros
};

// One id for each thing the engine reports; the wizard has a text for each.
enum class Step : std::uint16_t {
    None,
    // Opening a source and a volume
    SourceNotOpened,      // the source cannot be opened
    VolumeNotReadable,    // ScanJob: the selected row holds no volume a parser reads
    NoParser,             // kind: no parser for it in this build
    ReaderMissing,        // the session has no reader
    ModeNotAvailable,     // name: mode, kind: the file system's shown name
    FatModeNotAvailable,  // name: mode, kind: fat32 or fat16
    NotThisFileSystem,    // kind asked, found
    NtfsSelected,
    HfsPlusSelected,
    ExFatUnreadable,
    ExtUnreadable,
    VolumeTooSmall,       // kind
    BadClusterSize,       // kind
    NoHeap,               // exFAT: no cluster heap found
    NoTable,              // advanced FAT: no table found; kind
    NoDataArea,           // advanced FAT: table and cluster size leave no data area
    NoMftRecord,          // the picked MFT candidate holds no usable record
    HfsBadBlockSize,
    HfsCatalogUnreadable,
    // Reading tables and records
    FindingTables,        // kind
    FoundTable,           // count
    FindingEntries,       // kind
    ProcessingEntries,
    FoundEntry,           // count
    EarlierFolders,       // a FAT formatted over another: the volume is searched for its folders
    ExtGroup,             // count of total
    ExtInode,             // count of total
    ExtInodesDone,        // total
    NtfsDeepScanning,
    NtfsParsingMft,
    NtfsBootFine,
    NtfsGotRun,
    NtfsBootCorrupt,
    NtfsFoundMft,
    NtfsGotMftRun,
    NtfsRunCluster,       // count: the run's first cluster
    NtfsRecord,           // count: the record's row
    NtfsDeepRecord,       // count: records found
    NtfsMftCandidate,     // count: candidates found
    HfsScanningNodes,
    // Building the tree
    TreeInRows,
    TreeCreating,
    TreeCreated,
    ExFatTreeCreating,
    AdvancedDirectories,
    AdvancedTree,
    ClearingRows,
    ParentChild,
    ParentChildRecord,    // count of total
    RootEntries,
    // Scanning for partitions
    PartitionScan,
    GptHeaderMissing,
    VolumeFound,          // kind named by a boot sector; count: the NTFS volumes found so far
    TypeFound,            // kind named by an MBR entry's type; count: the NTFS volumes, 0 in a chain
    UnknownVolumeFound,
    PartitionsScanned,
    // The end of a scan
    ScanFailed,           // detail
    ScanAborted,
    ScanDone,             // HFS+ ends with its own text
    ScanFinished,         // every other kind
    ScanStopped,
    // Control
    Busy,
    Paused,
    Resumed,
    ScanStopAsked,
    CarveStopAsked,
    // Searching
    SearchHit,            // count: hits so far
    SearchFailed,         // detail
    SearchInvalidPattern,
    SearchFinished,
    // Saving
    NoOutputFolder,
    NothingSelected,
    OutputRefused,        // detail: the writer's reason
    SaveConfirm,          // a question; count: files in the folders asked for
    SavingFile,           // name: the path under the output folder
    SaveEnded,            // count written whole of total, partial, failed, lines: errors; stopped
    SaveFailed,           // detail
    FileSaveFailed,       // detail
    FileNotSaved,         // name; detail: the writer's last error
    FileSaved,            // name; detail: the path when it is told; partial
    IsDirectory,          // name
    DataUnreadable,       // detail: what could not be read
    Exception,            // detail
    // Carving
    SignatureFileError,   // detail
    SignaturesLeftOut,    // lines
    NoSignatureFile,
    NoSignatureTypes,
    ZeroSizeVolume,
    CarveNoSource,
    Carving,
    CarveFinished,        // stopped
    CarveEnded,           // stopped: the status after the box
    UnreadableSectors,    // count
    CarveSaving,
    CarveSaveEnded,       // count written of total, failed, lines: errors; name: the folder; stopped
    CarveFailed,          // detail, empty when nothing is known
};

struct Event {
    Step step = Step::None;
    std::int64_t count = 0;
    std::int64_t total = 0;
    std::int64_t partial = 0;
    std::int64_t failed = 0;
    bool stopped = false;
    std::string kind;    // a file system: the one asked for or the one the step is about
    std::string found;   // the file system found where another was asked
    std::string name;    // a file, a folder or a mode
    std::string detail;  // what a lower layer said (an exception, the writer's refusal)
    std::vector<std::string> lines;

    Event() = default;
    explicit Event(Step s) : step(s) {}
    Event(Step s, std::int64_t c, std::int64_t t = 0) : step(s), count(c), total(t) {}

    Event& Kind(std::string k) { kind = std::move(k); return *this; }
    Event& Found(std::string f) { found = std::move(f); return *this; }
    Event& Name(std::string n) { name = std::move(n); return *this; }
    Event& Detail(std::string d) { detail = std::move(d); return *this; }
    Event& Lines(std::vector<std::string> l) { lines = std::move(l); return *this; }
    Event& Stopped(bool s = true) { stopped = s; return *this; }
};

Phase PhaseOf(Step step);
// Stopped and done depend on the event for steps that end either way.
Outcome OutcomeOf(const Event& event);
Reason ReasonOf(Step step);

}  // namespace tarnwell
