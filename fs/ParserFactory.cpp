#include "fs/ParserFactory.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>
#include <vector>

#include "fs/fat/Fat64Class.h"
#include "fs/ntfs/ntfs.h"

namespace tarnwell {

namespace {
using Maker = std::function<std::unique_ptr<FileSystemParser>(ParserLinks)>;

// One row per parser: the names it reads, upper case.
const std::vector<std::pair<std::vector<std::string>, Maker>>& Parsers() {
    static const std::vector<std::pair<std::vector<std::string>, Maker>> parsers = {
        {{"FAT64", "EXFAT"}, [](ParserLinks l) { return std::make_unique<Fat64Class>(std::move(l)); }},
        {{"NTFS"}, [](ParserLinks l) { return std::make_unique<ntfs>(std::move(l)); }},
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
