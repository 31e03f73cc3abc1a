#pragma once
// Which parser reads a volume, and which worker runs for a recovery mode.

#include <string>

#include "fs/FileSystemRegistry.h"
#include "scan/ScanSession.h"

namespace tarnwell {

struct DispatchRow {
    ParserKind kind = ParserKind::None;
    bool startsWorker = false;  // the mode has a worker for this kind
    // The name MakeParser is given: the volume's KIND name.
    const char* parserName = "";
};

// By the volume's file-system name, as the registry reads it.
DispatchRow Dispatch(const std::string& fileSystemName, RecoveryMode mode);

const char* ParserKindName(ParserKind kind);  // "NTFS", "FAT32", ... for messages

}  // namespace tarnwell
