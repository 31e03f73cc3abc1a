#pragma once
// The row table of the FAT parsers: one row per directory entry
// found, live or deleted, linked into a tree by index.
//
// Directory entry layout (32 bytes, little-endian):
//   0   11  short name: 8 base + 3 extension, blank padded; byte 0 is 0xE5 when
//           the entry is deleted, 0x05 for a leading 0xE5 character, 0x00 when
//           this and every later slot of the directory were never used
//   11  1   attributes: 0x01 read-only, 0x02 hidden, 0x04 system, 0x08 volume
//           label, 0x10 directory, 0x20 archive; 0x0F marks a long-name slot
//   12  1   case flags: 0x08 base in lower case, 0x10 extension in lower case
//   13  1   creation time, 10 ms units (0-199)
//   14  2   creation time (DOS time)       16  2  creation date (DOS date)
//   18  2   last access date               20  2  start cluster, high word (FAT32)
//   22  2   last write time                24  2  last write date
//   26  2   start cluster, low word        28  4  file size in bytes

#include <cstdint>
#include <string>

namespace tarnwell {

inline constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;

namespace fat_attr {
inline constexpr std::uint8_t kReadOnly = 0x01;
inline constexpr std::uint8_t kHidden = 0x02;
inline constexpr std::uint8_t kSystem = 0x04;
inline constexpr std::uint8_t kVolumeLabel = 0x08;
inline constexpr std::uint8_t kDirectory = 0x10;
inline constexpr std::uint8_t kArchive = 0x20;
inline constexpr std::uint8_t kLongName = 0x0F;

inline bool IsLongNameSlot(std::uint8_t a) { return (a & 0x3F) == kLongName; }
inline bool IsVolumeLabel(std::uint8_t a) { return !IsLongNameSlot(a) && (a & kVolumeLabel) != 0; }
// A folder has the directory bit and is neither a long-name slot nor a label.
inline bool IsFolder(std::uint8_t a) { return !IsLongNameSlot(a) && (a & (kDirectory | kVolumeLabel)) == kDirectory; }
}  // namespace fat_attr

struct FatEntry {
    // Bytes 11 to 31 of the short entry (byte 12 kept as caseFlags).
    std::uint8_t attributes = 0;
    std::uint8_t createTimeTenth = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t clusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t clusterLow = 0;
    std::uint32_t fileSize = 0;
    bool deleted = false;  // the entry, or a folder above it, was deleted
    std::string name;      // display name, UTF-8

    // Tree links: row indexes, kNoIndex for none.
    std::uint32_t parentIndex = kNoIndex;
    std::uint32_t selfIndex = 0;
    std::uint32_t firstChild = kNoIndex;
    std::uint32_t nextSibling = kNoIndex;

    // Beyond the Part's fields.
    std::uint8_t caseFlags = 0;
    std::uint32_t startCluster = 0;  // FAT32: high << 16 | low; FAT12/16: the low word
    std::uint64_t entryOffset = 0;   // byte offset of the short entry in the volume (0: synthetic row)
    bool orphan = false;             // found by the search for lost folders: its parent is lost
    bool longName = false;           // the name came from long-name slots

    bool IsFolder() const { return fat_attr::IsFolder(attributes); }
};

}  // namespace tarnwell
