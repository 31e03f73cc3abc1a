#pragma once
// The file systems the engine tells apart, with their two names: the KIND name
// of `--fs` and of JSON ("exfat", "ext4") and the name a user reads ("exFAT",
// "ext4", "HFSX"). The partition scan names what it finds with them, so they
// live here; fs/FileSystemRegistry adds detection and the parsers.

#include <string_view>

namespace tarnwell {

enum class FsType {
    Unknown,
    Ntfs,
    Fat,  // a FAT volume whose boot sector has not been read yet (a mounted vfat)
    Fat12,
    Fat16,
    Fat32,
    ExFat,
    Ext,  // ext2, ext3 or ext4, not yet told apart (a Linux partition entry, `--fs ext`)
    Ext2,
    Ext3,
    Ext4,
    HfsPlus,
    HfsX,
};

// VolumeEntry::fileSystem holds the shown name; every comparison goes
// through FsTypeOfName, never a string compare.
const char* ShownName(FsType type);  // "exFAT", "ext4", "HFS+", "HFSX", "Unknown"
const char* KindName(FsType type);   // "exfat", "ext4", "hfsplus", "unknown"

// The type a shown or KIND name stands for, without regard to ASCII case;
// Unknown for any other text ("RAW", a partition's label, "").
FsType FsTypeOfName(std::string_view name);

// Whether a and b are the same file system by their names ("fat32", "FAT32").
bool SameFileSystem(std::string_view a, std::string_view b);

}  // namespace tarnwell
