#pragma once
// Shared helpers of the ext suites: opening an image through the engine,
// walking the tree by path, the reference views recorded beside the images.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/FileReader.h"
#include "fs/ext/ExtParser.h"
#include "fs/FileSystemRegistry.h"

namespace tarnwell::test {

// A parser over an image file, scanned.
struct ScannedImage {
    std::unique_ptr<SectorReader> reader;
    std::unique_ptr<FileSystemParser> parser;
    bool scanned = false;

    ExtParser& ext() { return static_cast<ExtParser&>(*parser); }
};
ScannedImage ScanImage(const std::string& path, ProgressSink* progress = nullptr, Prompter* prompter = nullptr);
ScannedImage ScanReader(std::unique_ptr<SectorReader> reader, ProgressSink* progress = nullptr,
                        Prompter* prompter = nullptr);

struct Listed {
    RowId id = kNoRow;
    bool folder = false, deleted = false, orphan = false;
};
// Every row below the root by "/"-joined path; a second row of one path gets " #2".
// Each row is visited once at most: a looping tree would show as a failure here.
std::map<std::string, Listed> ListAll(const FileSystemParser& parser, std::uint64_t* visited = nullptr);

struct FlsLine {
    std::string path;
    char type = 'r';  // the name's type letter: d, r, l, p, c, b, s, -
    bool deleted = false;
    std::uint32_t inode = 0;
};
// The `fls -r -p` view recorded as NAME.fls, without TSK's virtual files.
std::vector<FlsLine> ReadFls(const std::string& name);

struct IcatLine {
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint32_t inode = 0;
    std::string path;
};
std::vector<IcatLine> ReadIcat(const std::string& name);

// POSIX cksum (CRC-32 over the bytes, then the length) of what is written.
class CksumSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t size) override;
    std::uint32_t Value() const;
    std::uint64_t size = 0;

private:
    std::uint32_t crc_ = 0;
};

class StringSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

// The text the image script's gen() writes: numbered lines of TAG.
std::string Gen(const std::string& tag, std::size_t bytes);

}  // namespace tarnwell::test
