#include "partition/FsKind.h"

#include <cctype>
#include <iterator>

namespace tarnwell {

namespace {
struct Names {
    FsType type;
    const char* kind;
    const char* shown;
};

// HFSX shares hfsplus with HFS+: the KIND names are what `--fs` takes, and one
// parser reads both; the first row of a KIND name is the one it stands for.
constexpr Names kNames[] = {
    {FsType::Unknown, "unknown", "Unknown"}, {FsType::Ntfs, "ntfs", "NTFS"},
    {FsType::Fat, "fat", "FAT"},             {FsType::Fat12, "fat12", "FAT12"},
    {FsType::Fat16, "fat16", "FAT16"},       {FsType::Fat32, "fat32", "FAT32"},
    {FsType::ExFat, "exfat", "exFAT"},       {FsType::Ext, "ext", "ext"},
    {FsType::Ext2, "ext2", "ext2"},          {FsType::Ext3, "ext3", "ext3"},
    {FsType::Ext4, "ext4", "ext4"},          {FsType::HfsPlus, "hfsplus", "HFS+"},
    {FsType::HfsX, "hfsplus", "HFSX"},
};

const Names& Row(FsType type) {
    for (const Names& n : kNames)
        if (n.type == type) return n;
    return kNames[0];
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

const char* ShownName(FsType type) { return Row(type).shown; }
const char* KindName(FsType type) { return Row(type).kind; }

FsType FsTypeOfName(std::string_view name) {
    // Shown names first: "HFSX" must stay HFSX, while "hfsplus" is HFS+.
    for (const Names& n : kNames)
        if (SameNoCase(name, n.shown)) return n.type;
    for (const Names& n : kNames)
        if (SameNoCase(name, n.kind)) return n.type;
    return FsType::Unknown;
}

bool SameFileSystem(std::string_view a, std::string_view b) {
    FsType t = FsTypeOfName(a);
    return t != FsType::Unknown && t == FsTypeOfName(b);
}

}  // namespace tarnwell
