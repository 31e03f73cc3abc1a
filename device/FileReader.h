#pragma once
// The reader of block devices and image files, always opened read-only.

#include <string>

#include "core/Prompter.h"
#include "device/SectorReader.h"

namespace tarnwell {

class FileReader final : public SectorReader {
public:
    explicit FileReader(Prompter& prompter = DefaultPrompter()) : prompter_(prompter) {}
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens path for reading only. On failure shows "invalid handle ..." and
    // keeps nothing open; LastError() says why.
    bool Open(const std::string& path) override;
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    bool IsBlockDevice() const { return blockDevice_; }
    const std::string& Path() const { return path_; }
    const std::string& LastError() const { return lastError_; }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    Prompter& prompter_;
    int fd_ = -1;
    bool blockDevice_ = false;
    std::string path_;
    std::string lastError_;
};

}  // namespace tarnwell
