#pragma once
// Decoding the 32-byte slots of a FAT directory into rows: short
// entries with the long name that belongs to them.
//
// Long-name slot layout:
//   0   1   sequence: 1..20, 0x40 on the slot holding the end of the name
//           (stored first); 0xE5 once deleted
//   1   10  name units 1-5 (UTF-16LE)
//   11  1   0x0F
//   12  1   0 (type)
//   13  1   checksum of the short entry's 11 name bytes
//   14  12  name units 6-11
//   26  2   0 (cluster)
//   28  4   name units 12-13
//
// A long name belongs to the short entry that follows its slots when the
// sequence runs down to 1 without a gap and the checksum matches. Deleted
// slots have lost their sequence numbers and the short entry its first byte;
// they are taken when the run is well formed and the checksum names a valid
// first character. Otherwise the short name is shown.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteView.h"
#include "fs/fat/FatEntry.h"

namespace tarnwell {

inline constexpr std::size_t kDirSlot = 32;
inline constexpr unsigned kMaxLongNameSlots = 20;   // 255 characters
inline constexpr std::size_t kMaxLongNameUnits = 255;

// Checksum of an 11-byte short name, as long-name slots record it.
std::uint8_t ShortNameChecksum(const std::uint8_t* name11);

// The display name of a short entry: base and extension without padding,
// joined by a dot, lower case where byte 12 says so, code page 437; a deleted
// entry's lost first character, and a base of blanks only, shown as "_".
std::string FormatShortName(ByteView slot);

// Whether the slot is a "." (dot 1) or ".." (dot 2) entry; 0 otherwise.
int DotEntry(ByteView slot);

// Whether a slot could be a directory entry at all (used where no table says
// that the bytes are a directory: deleted and lost folders).
bool SlotLooksValid(ByteView slot);

struct DecodedDirectory {
    std::vector<FatEntry> entries;  // one per short entry, in slot order
    std::string label;              // the volume label entry, if any
    bool ended = false;             // an end-of-directory slot (first byte 0) was met
    std::size_t bytesUsed = 0;      // bytes up to the end slot (all when none)
};

// Where the bytes of a directory lie in the volume: pieces of pieceSize bytes,
// piece i starting at volume offset pieceOffsets[i].
struct DirectoryPlace {
    std::vector<std::uint64_t> pieceOffsets;
    std::size_t pieceSize = 0;
    std::uint64_t OffsetOf(std::size_t at) const;
};

// Decodes bytes (whole slots) of one directory. fat32: the start cluster takes
// the high word. Dot entries are skipped; rows get the Part's fields, their
// name, deleted mark, case flags, start cluster and entry offset.
DecodedDirectory DecodeDirectory(ByteView bytes, const DirectoryPlace& place, bool fat32);

}  // namespace tarnwell
