#include "fs/FileSystemRegistry.h"

#include <utility>

#include "fs/exfat/ExFatParser.h"
#include "fs/ext/ExtParser.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "fs/ntfs/NtfsParser.h"
#include "partition/BootSectors.h"

namespace tarnwell {

namespace {
FileSystemInfo Row(FsType type, ParserKind parser, bool option) {
    return {type, KindName(type), ShownName(type), parser, option};
}

const std::vector<FileSystemInfo>& Table() {
    static const std::vector<FileSystemInfo> rows = {
        Row(FsType::Unknown, ParserKind::None, false), Row(FsType::Ntfs, ParserKind::Ntfs, true),
        Row(FsType::Fat12, ParserKind::Fat16, true),   Row(FsType::Fat16, ParserKind::Fat16, true),
        Row(FsType::Fat32, ParserKind::Fat32, true),   Row(FsType::Fat, ParserKind::Fat16, false),
        Row(FsType::ExFat, ParserKind::ExFat, true),   Row(FsType::Ext, ParserKind::Ext, true),
        Row(FsType::Ext2, ParserKind::Ext, true),      Row(FsType::Ext3, ParserKind::Ext, true),
        Row(FsType::Ext4, ParserKind::Ext, true),      Row(FsType::HfsPlus, ParserKind::HfsPlus, true),
        Row(FsType::HfsX, ParserKind::HfsPlus, false),
    };
    return rows;
}
}  // namespace

const FileSystemInfo& FileSystemOf(FsType type) {
    for (const FileSystemInfo& row : Table())
        if (row.type == type) return row;
    return Table().front();
}

const FileSystemInfo& FileSystemByName(std::string_view name) { return FileSystemOf(FsTypeOfName(name)); }

FsType DetectFileSystem(ByteView start) {
    auto m = DetectVolume(start);
    return m ? m->type : FsType::Unknown;
}

std::vector<std::string> FileSystemOptions() {
    std::vector<std::string> kinds;
    for (const FileSystemInfo& row : Table())
        if (row.option) kinds.emplace_back(row.kind);
    return kinds;
}

const char* KindNameOf(std::string_view fileSystemName) { return FileSystemByName(fileSystemName).kind; }

std::unique_ptr<FileSystemParser> MakeParser(const std::string& fileSystemName, ParserLinks links) {
    const FileSystemInfo& fs = FileSystemByName(fileSystemName);
    switch (fs.parser) {
        case ParserKind::Ntfs: return std::make_unique<NtfsParser>(std::move(links));
        case ParserKind::Fat32: return std::make_unique<Fat32Parser>(std::move(links));
        case ParserKind::Fat16:
            // A mounted volume whose boot sector could not be read is only "FAT".
            if (fs.type == FsType::Fat) return MakeFatParserByBootSector(std::move(links));
            return std::make_unique<Fat16Parser>(std::move(links));
        case ParserKind::ExFat: return std::make_unique<ExFatParser>(std::move(links));
        case ParserKind::Ext: return std::make_unique<ExtParser>(std::move(links));
        case ParserKind::HfsPlus: return std::make_unique<HfsPlusParser>(std::move(links));
        case ParserKind::None: break;
    }
    return nullptr;
}

}  // namespace tarnwell
