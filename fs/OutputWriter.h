#pragma once
// Every recovered file and folder is written through this. Names from disk are
// made safe, nothing is ever created outside the chosen output folder, rows of
// the same name in one folder all survive ("name (2).ext"), times are set from
// the file system's, and every file that could not be written is counted.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/FileTime.h"
#include "core/JobControl.h"
#include "core/Sha256.h"

namespace tarnwell {

// A folder below the output root that this writer created (or the root itself).
// The writer reaches it again from the root, component by component, so a
// handle costs no open descriptor.
struct OutputFolder {
    std::string relativePath;  // "" for the root, else "DCIM/100CANON"
};

struct OutputTimes {
    FileTime accessed;
    FileTime modified;
};

// Where the bytes of one file go.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual bool Write(const void* data, std::size_t size) = 0;
    // size bytes the file holds no data for (a sparse run, bytes past the
    // initialized size): they read back as zeros. This default writes them; a
    // sink that can seek leaves a hole, so a sparse file stays sparse.
    virtual bool WriteHole(std::uint64_t size);
    // size bytes the file should hold that could not be had (past the end of
    // the source, a run outside the volume): zeros in their place, counted.
    bool WriteUnreadable(std::uint64_t size) {
        unreadable_ += size;
        return WriteHole(size);
    }
    std::uint64_t UnreadableBytes() const { return unreadable_; }

private:
    std::uint64_t unreadable_ = 0;
};

// A file being written. One that is dropped without FinishFile, or that
// FinishFile finds incomplete, is removed: no truncated file stays under the
// real name.
class OutputFile final : public FileSink {
public:
    ~OutputFile() override;
    bool Write(const void* data, std::size_t size) override;
    // Leaves a hole: the file system stores nothing for it, it reads back as zeros.
    bool WriteHole(std::uint64_t size) override;
    const std::string& RelativePath() const { return relativePath_; }
    // The file's size so far, holes included.
    std::uint64_t BytesWritten() const { return bytes_; }
    // Writing failed or was stopped; every later write is refused.
    bool Failed() const { return failed_ || stopped_; }
    bool Stopped() const { return stopped_; }
    // Also refuse writes once stop() says so (the writer's own stop still holds).
    void StopWhen(std::function<bool()> stop);

private:
    friend class OutputWriter;
    bool StopNow();
    bool Fail(int error);

    int fd_ = -1;
    int dirFd_ = -1;                // the folder holding it, to remove it by name
    std::string name_;              // its name in that folder
    std::unique_ptr<Sha256> hash_;  // of the file's bytes (holes as zeros), when the writer hashes
    std::string relativePath_;
    std::uint64_t bytes_ = 0;
    std::uint64_t stored_ = 0;      // where the last real write ended
    const JobControl* control_ = nullptr;
    std::function<bool()> stop_;
    bool failed_ = false;
    bool stopped_ = false;
    int error_ = 0;
};

// What became of the last file the writer finished.
struct FinishedFile {
    std::string relativePath;
    std::uint64_t bytes = 0;
    std::string sha256;  // empty unless the writer hashes
    bool accessedSet = false, modifiedSet = false;
    std::uint64_t unreadable = 0;  // bytes the source could not give (FileSink::UnreadableBytes)
    bool ok = false;
    bool stopped = false;  // a stop was requested while it was written: removed, not counted as failed
    std::string error;     // why not, when !ok (the file was removed)
};

class OutputWriter {
public:
    // Checks the output root without creating anything: its nearest existing
    // folder must be a writable folder on a writable file system (else
    // Problem()). The root and its missing parents are made only when the
    // first folder or file goes into it.
    explicit OutputWriter(std::string root);
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Why the root cannot be used (not creatable, or on the source device), or nothing.
    std::optional<std::string> Problem() const { return problem_; }
    // Refuses a root that lives on the device being read: a block device or
    // another partition of its disk, or a loop device backed by the source
    // image. Judged from the nearest existing folder, so nothing was created
    // there. Returns the message, or nothing.
    std::optional<std::string> RefuseSource(const std::string& sourcePath);

    // Once control asks to stop, files refuse further bytes; the file being
    // written is removed and reported as stopped, not failed.
    void SetStop(const JobControl* control) { control_ = control; }
    bool StopRequested() const { return control_ != nullptr && control_->StopRequested(); }

    const OutputFolder& Root() const { return root_; }

    // A new folder for a folder row under parent; nullopt when it cannot be made
    // (counted). Two rows of the same name get "name" and "name (2)".
    std::optional<OutputFolder> MakeFolder(const OutputFolder& parent, std::string_view name);

    // A new file under parent, never replacing an existing one. Null when it
    // cannot be created (counted as failed).
    std::unique_ptr<OutputFile> CreateFile(const OutputFolder& parent, std::string_view name);
    // Closes the file and sets its times; counts it as written or failed. A
    // file that could not be written whole is removed and counted as failed;
    // one cut short by a stop is removed and not counted.
    bool FinishFile(std::unique_ptr<OutputFile> file, const OutputTimes& times);
    // Removes a file that holds nothing worth keeping and counts it as failed for why.
    void DiscardFile(std::unique_ptr<OutputFile> file, const std::string& why);
    // Counts a file whose data could not be had (the parser gave up on it).
    void CountFailure(const std::string& what, const std::string& why);

    // Hash every file's bytes as they are written (for run reports).
    void SetHashing(bool on) { hashing_ = on; }
    // The file FinishFile last closed, once; nothing when none since the last take.
    std::optional<FinishedFile> TakeFinished();

    std::uint64_t FilesWritten() const { return filesWritten_; }
    std::uint64_t FilesFailed() const { return filesFailed_; }
    std::uint64_t BytesWritten() const { return bytesWritten_; }
    const std::vector<std::string>& Errors() const { return errors_; }
    // Every name written differently from the disk's: made safe, numbered for a
    // clash (also one of case on a case-insensitive target), or made portable
    // for a target that refused it; "written/path (was "name")".
    const std::vector<std::string>& Renamed() const { return renamed_; }

    // A name from disk as a file name: "/", NUL and control characters replaced,
    // "." and ".." renamed, invalid UTF-8 repaired, at most 255 bytes keeping the
    // extension.
    static std::string SafeName(std::string_view name);
    // "name (n).ext" for the n-th row of a name.
    static std::string NumberedName(const std::string& safeName, int n);
    // A safe name as FAT, exFAT and Windows shares take it: \ : * ? " < > | and
    // trailing dots and spaces replaced, device names (CON, NUL, COM1, ...)
    // suffixed, at most 143 bytes. Used when the target refuses a safe name.
    static std::string PortableName(std::string_view safeName);

    // At most this many folder descriptors stay open besides the root's.
    static constexpr std::size_t kOpenFolders = 16;

private:
    std::string root_path_;
    std::string existing_;  // the root's nearest existing ancestor (or the root), when checked
    OutputFolder root_;
    int rootFd_ = -1;
    std::optional<std::string> problem_;
    const JobControl* control_ = nullptr;
    // Recently used folders by relative path, most recent first.
    std::list<std::pair<std::string, int>> open_;
    std::unordered_map<std::string, std::list<std::pair<std::string, int>>::iterator> openIndex_;
    std::uint64_t filesWritten_ = 0, filesFailed_ = 0, bytesWritten_ = 0;
    std::vector<std::string> errors_;
    std::vector<std::string> renamed_;
    bool hashing_ = false;
    std::optional<FinishedFile> finished_;

    void NoteRename(std::string_view original, const std::string& folder, const std::string& written);
    bool OpenRoot();
    // A descriptor of a folder this writer made (owned by the cache; valid
    // until the next call), or -1 with errno set.
    int FolderFd(const std::string& relativePath);
    void Cache(const std::string& relativePath, int fd);
};

}  // namespace tarnwell
