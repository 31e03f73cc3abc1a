#pragma once
// Saving rows of a volume into an output folder: the one walk that the
// command line's recover, the wizard's save and the parsers' SaveFolder all
// run. It counts what it will write with the same filters it writes with,
// lays the folders out below the output folder, and keeps for every file
// what became of it (whole, partial and why, failed and why, stopped), with
// its digest and the name it was written under.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "fs/FileSystemParser.h"
#include "fs/OutputWriter.h"

namespace tarnwell {

// What to save. The contents of base land in the output folder; with rows,
// only those rows (and everything below the folders among them), each under
// the folders of its chain.
struct SaveSelection {
    RowId base = kNoRow;   // kNoRow: the volume's root
    std::string basePath;  // base's path on the volume, "/"-separated ("" for the root)
    // Each chosen row as its chain of rows from a child of base down to it. A
    // chain inside another chosen folder is saved once, with that folder.
    std::vector<std::vector<RowId>> rows;
    bool includeDeleted = true;
    // Files whose names it accepts; empty: every file. With a filter, a folder
    // is made only once a file is about to go into it, so that a filter that
    // matches nothing leaves nothing behind; without one, every folder is made
    // as it is entered, empty ones too.
    std::function<bool(const std::string& name)> nameFilter;
    bool record = true;  // keep each file's outcome
    bool hash = true;    // and the SHA-256 of what was written
};

enum class SavedStatus {
    Whole,    // every byte written
    Partial,  // written, with bytes that could not be had (reason says which)
    Failed,      // nothing usable could be read (reason says why)
    NotWritten,  // the output refused it, or its folder could not be made (reason says why)
    Stopped,     // cut short by a stop and removed: neither written nor failed
};

struct SavedFile {
    std::string path;    // on the volume, "/"-separated from its root
    std::string output;  // relative to the output folder; empty when nothing was kept
    bool deleted = false;
    std::uint64_t size = 0;     // as the file system gives it
    std::uint64_t written = 0;  // bytes the output accepted
    std::string sha256;         // of those bytes; empty unless hashed and kept
    bool accessedSet = false, modifiedSet = false;
    std::uint64_t unreadableBytes = 0;
    SavedStatus status = SavedStatus::Failed;
    std::string reason;    // why not whole
    bool renamed = false;  // written under another name than the disk's
};

struct SaveResult {
    std::uint64_t planned = 0;    // files counted before writing
    std::uint64_t attempted = 0;  // files tried (a stopped one is not)
    std::uint64_t whole = 0, partial = 0, failed = 0;
    bool stopped = false;
    std::vector<SavedFile> files;  // in the order written, when recorded
    // "PATH: N of its M bytes were unreadable (zeros written)", one a file.
    std::vector<std::string> unreadableFiles;
};

class SavePlan {
public:
    SavePlan(FileSystemParser& parser, SaveSelection selection);

    // The files Run will try, counted with the same filters and depth limit.
    std::uint64_t Count() const;

    // Writes the selection below into. control, when given, is heard besides
    // the parser's own stop: its pause holds the walk between files and its
    // stop reaches the file being written. progress runs from 0 to Count().
    SaveResult Run(OutputWriter& writer, const OutputFolder& into, ProgressSink& progress,
                   JobControl* control = nullptr);

private:
    struct Frame;
    bool Wanted(const EntryInfo& e) const;
    bool Checkpoint();
    const OutputFolder* Folder(std::vector<Frame>& frames, std::size_t i);
    void SaveFile(RowId row, const EntryInfo& e, const OutputFolder* into, const std::string& path);
    void SaveContents(RowId folder, std::vector<Frame>& frames, std::size_t frame);
    std::vector<std::vector<RowId>> Outermost() const;

    FileSystemParser& p_;
    SaveSelection s_;
    OutputWriter* writer_ = nullptr;
    ProgressSink* progress_ = nullptr;
    JobControl* control_ = nullptr;
    std::size_t fixedFrames_ = 0;  // frames above the walk's top: base and the chosen rows' folders
    SaveResult result_;
};

// The chain of rows from a child of the root down to row, found by a walk;
// nothing when row is not below the root (or is the root).
std::optional<std::vector<RowId>> ChainTo(const FileSystemParser& parser, RowId row);

// "/"-joined names of a chain's rows.
std::string ChainPath(const FileSystemParser& parser, const std::vector<RowId>& chain);

}  // namespace tarnwell
