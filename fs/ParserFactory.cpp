#include "fs/ParserFactory.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>
#include <vector>

#include "fs/exfat/ExFatParser.h"
#include "fs/ext/ExtParser.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "fs/ntfs/NtfsParser.h"

namespace tarnwell {

namespace {
using Maker = std::function<std::unique_ptr<FileSystemParser>(ParserLinks)>;

// One row per parser: the names it reads, upper case.
const std::vector<std::pair<std::vector<std::string>, Maker>>& Parsers() {
    static const std::vector<std::pair<std::vector<std::string>, Maker>> parsers = {
        {{"FAT64", "EXFAT"}, [](ParserLinks l) { return std::make_unique<ExFatParser>(std::move(l)); }},
        {{"NTFS"}, [](ParserLinks l) { return std::make_unique<NtfsParser>(std::move(l)); }},
        {{"FAT12", "FAT16"}, [](ParserLinks l) { return std::make_unique<Fat16Parser>(std::move(l)); }},
        {{"FAT32"}, [](ParserLinks l) { return std::make_unique<Fat32Parser>(std::move(l)); }},
        // A mounted volume whose boot sector could not be read is only "FAT".
        {{"FAT"}, [](ParserLinks l) { return MakeFatParserByBootSector(std::move(l)); }},
        {{"HFS+"}, [](ParserLinks l) { return std::make_unique<HfsPlusParser>(std::move(l)); }},
        {{"EXTX"}, [](ParserLinks l) { return std::make_unique<ExtParser>(std::move(l)); }},
    };
    return parsers;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
}  // namespace

std::unique_ptr<FileSystemParser> MakeParser(const std::string& fileSystemName, ParserLinks links) {
    std::string name = Upper(fileSystemName);
    for (const auto& [names, make] : Parsers())
        if (std::find(names.begin(), names.end(), name) != names.end()) return make(std::move(links));
    return nullptr;
}

}  // namespace tarnwell
