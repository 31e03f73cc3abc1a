#pragma once
// Every recovered file and folder is written through this. Names from disk are
// made safe, nothing is ever created outside the chosen output folder, rows of
// the same name in one folder all survive ("name (2).ext"), times are set from
// the file system's, and every file that could not be written is counted.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileTime.h"
#include "fs/Sha256.h"

namespace tarnwell {

// A folder below the output root that this writer created (or the root itself).
struct OutputFolder {
    int fd = -1;               // open descriptor of the folder, owned by the writer
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

class OutputFile final : public FileSink {
public:
    ~OutputFile() override;
    bool Write(const void* data, std::size_t size) override;
    const std::string& RelativePath() const { return relativePath_; }
    std::uint64_t BytesWritten() const { return bytes_; }
    bool Failed() const { return failed_; }

private:
    friend class OutputWriter;
    int fd_ = -1;
    std::unique_ptr<Sha256> hash_;  // of the bytes the output accepted, when the writer hashes
    std::string relativePath_;
    std::uint64_t bytes_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

// What became of the last file the writer finished.
struct FinishedFile {
    std::string relativePath;
    std::uint64_t bytes = 0;
    std::string sha256;  // empty unless the writer hashes
    bool accessedSet = false, modifiedSet = false;
    bool ok = false;
    std::string error;  // why not, when !ok
};

class OutputWriter {
public:
    // Opens (creating when missing) the output root.
    explicit OutputWriter(std::string root);
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Why the root cannot be used (not creatable, or on the source device), or nothing.
    std::optional<std::string> Problem() const { return problem_; }
    // Refuses a root that lives on the device being read. Returns the message, or nothing.
    std::optional<std::string> RefuseSource(const std::string& sourcePath);

    const OutputFolder& Root() const { return root_; }

    // A new folder for a folder row under parent; nullopt when it cannot be made
    // (counted). Two rows of the same name get "name" and "name (2)".
    std::optional<OutputFolder> MakeFolder(const OutputFolder& parent, std::string_view name);

    // A new file under parent, never replacing an existing one. Null when it
    // cannot be created (counted as failed).
    std::unique_ptr<OutputFile> CreateFile(const OutputFolder& parent, std::string_view name);
    // Closes the file and sets its times; counts it as written or failed.
    bool FinishFile(std::unique_ptr<OutputFile> file, const OutputTimes& times);
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

private:
    std::string root_path_;
    OutputFolder root_;
    std::optional<std::string> problem_;
    std::vector<int> folderFds_;
    std::uint64_t filesWritten_ = 0, filesFailed_ = 0, bytesWritten_ = 0;
    std::vector<std::string> errors_;
    std::vector<std::string> renamed_;
    bool hashing_ = false;
    std::optional<FinishedFile> finished_;

    void NoteRename(std::string_view original, const std::string& folder, const std::string& written);
};

}  // namespace tarnwell
