#include "scan/ScanDispatch.h"

namespace tarnwell {

DispatchRow Dispatch(const std::string& name, RecoveryMode mode) {
    const FileSystemInfo& fs = FileSystemByName(name);
    // The advanced workers run the finders themselves and take the picks of
    // ParserLinks::advanced.
    bool worker = mode != RecoveryMode::Deep;
    if (fs.parser == ParserKind::Ntfs || fs.parser == ParserKind::HfsPlus) worker = true;
    if (fs.parser == ParserKind::Ext) worker = mode == RecoveryMode::Standard;
    if (fs.parser == ParserKind::None) return {};
    return {fs.parser, worker, fs.kind};
}

const char* ParserKindName(ParserKind kind) {
    switch (kind) {
        case ParserKind::Ntfs: return "NTFS";
        case ParserKind::Fat32: return "FAT32";
        case ParserKind::Fat16: return "FAT16";
        case ParserKind::Ext: return "ext";
        case ParserKind::ExFat: return "exFAT";
        case ParserKind::HfsPlus: return "HFS+";
        case ParserKind::None: break;
    }
    return "";
}

}  // namespace tarnwell
