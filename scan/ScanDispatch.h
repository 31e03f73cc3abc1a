#pragma once
// Which parser reads a volume, and which worker runs for a recovery mode.

#include <string>

#include "scan/ScanSession.h"

namespace tarnwell {

enum class ParserKind { None, Ntfs, Fat32, Fat16, Ext, ExFat, HfsPlus };

struct DispatchRow {
    ParserKind kind = ParserKind::None;
    bool startsWorker = false;  // the mode has a worker for this kind
    // The name MakeParser knows the kind by.
    const char* parserName = "";
};

// By the volume's file-system name, compared without regard to ASCII case.
DispatchRow Dispatch(const std::string& fileSystemName, RecoveryMode mode);

const char* ParserKindName(ParserKind kind);  // "NTFS", "FAT32", ... for messages

}  // namespace tarnwell
