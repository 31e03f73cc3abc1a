#pragma once
// One table of the file systems the engine reads: how a volume is recognised
// (boot sector, superblock or volume header), its KIND name (`--fs`, JSON),
// the name a user reads (partition/FsKind.h), and the parser that reads it.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ByteView.h"
#include "fs/FileSystemParser.h"
#include "partition/FsKind.h"

namespace tarnwell {

// The parser that reads a file system (FAT12 is read by the FAT16 parser).
enum class ParserKind { None, Ntfs, Fat32, Fat16, Ext, ExFat, HfsPlus };

struct FileSystemInfo {
    FsType type = FsType::Unknown;
    const char* kind = "unknown";   // KindName(type)
    const char* shown = "Unknown";  // ShownName(type)
    ParserKind parser = ParserKind::None;
    // Whether `--fs` takes the KIND name (HFSX goes by hfsplus, FAT by its boot sector).
    bool option = false;
};

// The row a volume's name stands for (shown or KIND name, any ASCII case); the
// Unknown row for any other text.
const FileSystemInfo& FileSystemByName(std::string_view name);
const FileSystemInfo& FileSystemOf(FsType type);

// The file system that begins at the first byte of start (2048 bytes or more),
// by the partition scan's boot-sector tests; Unknown when none.
FsType DetectFileSystem(ByteView start);

// The KIND names `--fs` takes, in the table's order ("ntfs", ..., "ext", "ext2", ..., "hfsplus").
std::vector<std::string> FileSystemOptions();

// The KIND name for JSON: "unknown" for names of no file system we know.
const char* KindNameOf(std::string_view fileSystemName);

// A parser for the file system a name stands for; null when none reads it.
std::unique_ptr<FileSystemParser> MakeParser(const std::string& fileSystemName, ParserLinks links);

}  // namespace tarnwell
