#pragma once
// The file-system names the partition scans put into VolumeEntry::fileSystem.
// Every consumer compares them without regard to case.

#include <string_view>

namespace tarnwell::FsKind {

inline constexpr const char* kNtfs = "NTFS";
inline constexpr const char* kFat12 = "FAT12";
inline constexpr const char* kFat16 = "FAT16";
inline constexpr const char* kFat32 = "FAT32";
inline constexpr const char* kExFat = "FAT64";
inline constexpr const char* kExt = "extX";
inline constexpr const char* kHfsPlus = "HFS+";
inline constexpr const char* kUnknown = "Unknown";

// Whether two names stand for the same file system ("fat32" and "FAT32").
bool Same(std::string_view a, std::string_view b);

}  // namespace tarnwell::FsKind
