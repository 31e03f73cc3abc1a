#pragma once
// What a parser lists, and what The Sleuth Kit's `fls -r -p` listed for the same
// image, as path -> deleted maps that tests compare.

#include <cstdint>
#include <map>
#include <string>

#include "fs/FileSystemParser.h"

namespace tarnwell::test {

struct Listed {
    bool deleted = false;
    bool folder = false;
    RowId row = kNoRow;      // ours
    std::string inode;       // fls's
};

// Every row below the root, by "/"-joined path. Rows of one path keep the first.
std::map<std::string, Listed> ListParser(const FileSystemParser& parser);

// The entries of a recorded fls listing (the block after "# offset N", or the
// whole text), without the virtual entries fls adds ($MBR, $FAT1, $OrphanFiles,
// the volume label, exFAT's bitmap and up-case table).
std::map<std::string, Listed> ParseFls(const std::string& text, std::int64_t offset = 0);

// The bytes the parser extracts for a row (whatever its status).
std::string ExtractedBytes(FileSystemParser& parser, RowId row);

// `icat` of an inode, or nothing when The Sleuth Kit is not installed.
bool HaveSleuthKit();
std::string Icat(const std::string& image, const std::string& inode, std::int64_t offset = 0);

}  // namespace tarnwell::test
