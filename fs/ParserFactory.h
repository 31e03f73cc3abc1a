#pragma once
// The parser for a volume's file-system name (compared without regard to case).

#include <memory>
#include <string>

#include "fs/FileSystemParser.h"

namespace tarnwell {

// Null when no parser reads file systems of that name.
std::unique_ptr<FileSystemParser> MakeParser(const std::string& fileSystemName, ParserLinks links);

}  // namespace tarnwell
