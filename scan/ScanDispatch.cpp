#include "scan/ScanDispatch.h"

#include <algorithm>
#include <cctype>

namespace tarnwell {

namespace {
bool Same(const std::string& a, const char* b) {
    std::string lower = a;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower == b;
}
}  // namespace

DispatchRow Dispatch(const std::string& name, RecoveryMode mode) {
    const bool standard = mode == RecoveryMode::Standard;
    // The advanced workers run the finders themselves and take the picks of
    // ParserLinks::advanced.
    const bool fatWorker = mode != RecoveryMode::Deep;
    if (Same(name, "ntfs")) return {ParserKind::Ntfs, true, "NTFS"};
    if (Same(name, "fat32")) return {ParserKind::Fat32, fatWorker, "FAT32"};
    // FAT12 volumes are read by the FAT16 parser, which knows 12-bit tables.
    if (Same(name, "fat16") || Same(name, "fat") || Same(name, "fat12")) return {ParserKind::Fat16, fatWorker, "FAT16"};
    if (Same(name, "extx")) return {ParserKind::Ext, standard, "extX"};
    if (Same(name, "fat64") || Same(name, "exfat")) return {ParserKind::ExFat, fatWorker, "FAT64"};
    if (Same(name, "hfs+")) return {ParserKind::HfsPlus, true, "HFS+"};
    return {};
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
