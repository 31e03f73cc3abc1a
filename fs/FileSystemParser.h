#pragma once
// What every file-system parser offers the scan job, the CLI and the GUI: its
// scan workers, the tree of its rows, the detail texts, and saving. A parser
// never touches a GUI; the tree is exposed as row links that front ends load
// level by level.

#include <atomic>
#include <cstdint>
#include <string>

#include "core/FileTime.h"
#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "device/VolumeView.h"
#include "fs/OutputWriter.h"
#include "fs/RecoveryChoice.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

// A parser's row: its index in the row table (HFS+: the catalog node ID).
using RowId = std::uint64_t;
inline constexpr RowId kNoRow = ~RowId{0};

// What a parser is handed before it runs.
struct ParserLinks {
    VolumeView view;                  // the volume on its source; every read goes through it
    VolumeEntry volume;               // the copy of the selected volume
    ProgressSink* progress = nullptr; // never null once a parser is made (NoProgress())
    Prompter* prompter = nullptr;     // never null once a parser is made
    JobControl* control = nullptr;    // Stop and Pause; may be null
    bool driveFormatted = false;      // "Is Drive Formated..?"
    std::string rootFolderName = "ROOT";
    AdvancedChoice advanced;
};

// The four texts of the detail list.
struct DetailTexts {
    std::string created, accessed, modified, attributes;
};

// A row as every front end sees it.
struct EntryInfo {
    RowId id = kNoRow;
    std::string name;     // UTF-8, as the file system stores it
    bool folder = false;
    bool deleted = false; // drawn red
    bool orphan = false;  // its parent folder is lost
    std::uint64_t size = 0;
    FileTime created, modified, accessed;
    std::string attributes;  // the detail list's attribute text
};

// How one extraction went.
enum class ExtractStatus {
    Ok,          // every byte of the file was written
    Partial,     // written, but some data could not be had (unreadable, chain cut short)
    Failed,      // nothing usable could be read
    WriteFailed, // the output refused the bytes
};

struct SaveSummary {
    std::uint64_t files = 0;    // files attempted
    std::uint64_t partial = 0;  // written with data missing
    bool stopped = false;
};

class FileSystemParser {
public:
    explicit FileSystemParser(ParserLinks links);
    virtual ~FileSystemParser() = default;
    FileSystemParser(const FileSystemParser&) = delete;
    FileSystemParser& operator=(const FileSystemParser&) = delete;

    // The worker of a recovery mode: reads the volume and builds the rows.
    // False when the volume is refused (the parser has told the user why).
    virtual bool Scan(RecoveryMode mode) = 0;

    // The tree. Root() is the volume's root folder; it has the root folder name.
    // The links never form a cycle, whatever the volume holds.
    virtual RowId Root() const = 0;
    virtual RowId FirstChild(RowId row) const = 0;
    virtual RowId NextSibling(RowId row) const = 0;
    virtual EntryInfo Info(RowId row) const = 0;
    // The number of rows in the table, for progress and search.
    virtual std::uint64_t RowCount() const = 0;

    virtual DetailTexts FormatTimes(RowId row) const = 0;
    virtual std::string FormatSize(RowId row) const = 0;

    // Writes the file's bytes (cut at its size) to sink.
    virtual ExtractStatus ExtractData(RowId row, FileSink& sink) = 0;
    // Why the last ExtractData gave less than the whole file, in a few words
    // for the report ("its block map was cleared when it was deleted"); empty
    // when the parser says nothing more than its status.
    virtual const std::string& LastProblem() const {
        static const std::string none;
        return none;
    }
    // The times to give the output file.
    virtual OutputTimes TimesOf(RowId row) const;

    // After a scan: names recycled files from the recycle bin's "$I" index
    // files. The scan job calls it once; parsers without a recycle bin keep this.
    virtual void RecoverRecycleBinNames() {}

    // Writes one file into folder under its own (made safe) name.
    ExtractStatus ExtractFile(RowId row, OutputWriter& writer, const OutputFolder& folder);
    // Copies a folder's contents recursively, through a SavePlan of the
    // folder; includeDeleted false skips deleted rows.
    SaveSummary SaveFolder(RowId folder, OutputWriter& writer, const OutputFolder& into, bool includeDeleted = true);
    // The number of files below a folder, at any depth.
    std::uint64_t CountFiles(RowId folder, std::uint64_t counter = 0) const;

    // Set by Stop, Back and Exit; the long loops poll it.
    std::atomic<bool> stopFlag{false};
    bool StopRequested() const;

    const ParserLinks& Links() const { return links_; }

protected:
    // Waits while paused; false when stopped.
    bool Checkpoint();
    void Status(const Event& event) const { links_.progress->Report(event); }

    ParserLinks links_;
};

}  // namespace tarnwell
