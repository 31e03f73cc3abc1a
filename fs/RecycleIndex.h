#pragma once
// Windows recycle-bin index files ("$I..."): the path the recycled file had.
//   version 1: 8-byte version (1), 8-byte size, 8-byte deletion time, path as
//              260 UTF-16 units at 24
//   version 2: 8-byte version (2), size, time, 4-byte name length in units at
//              24, path at 28

#include <cstddef>
#include <optional>
#include <string>

#include "core/ByteView.h"

namespace tarnwell {

// The largest "$I" file worth reading: a version 2 path of 32,767 units.
inline constexpr std::size_t kMaxRecycleIndexBytes = 28 + 2 * 32768;

// The former full path (UTF-8), or nothing when bytes are no index file.
std::optional<std::string> ParseRecycleIndex(ByteView bytes);

// The last component of a Windows path ("C:\Users\x\notes.txt" -> "notes.txt").
std::string WindowsFileName(const std::string& path);

// The data file's name for an index name: every "$I" becomes "$R".
std::string RecycleDataName(const std::string& indexName);

}  // namespace tarnwell
