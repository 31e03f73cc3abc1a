#pragma once
// Windows recycle-bin index files ("$I..."): the path the recycled file had.
//   version 1: 8-byte version (1), 8-byte size, 8-byte deletion time, path as
//              260 UTF-16 units at 24
//   version 2: 8-byte version (2), size, time, 4-byte name length in units at
//              24, path at 28

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "core/ByteView.h"
#include "fs/FileSystemParser.h"

namespace tarnwell {

// The largest "$I" file worth reading: a version 2 path of 32,767 units.
inline constexpr std::size_t kMaxRecycleIndexBytes = 28 + 2 * 32768;

// The former full path (UTF-8), or nothing when bytes are no index file.
std::optional<std::string> ParseRecycleIndex(ByteView bytes);

// The last component of a Windows path ("C:\Users\x\notes.txt" -> "notes.txt").
std::string WindowsFileName(const std::string& path);

// The recycle-bin name pass every parser with a Windows recycle bin runs after
// its scan: in "$RECYCLE.BIN" (or "$RECYCLEBIN") below the root and in each of
// its per-user folders, every "$I..." index file that records a path gives its
// "$R..." data file that path's last component. Names compare without regard
// to ASCII case, as Windows compares them, and without the blanks a FAT 8.3
// name is padded with. rename(row, name) gives a row its new name.
using RenameRow = std::function<void(RowId row, const std::string& name)>;
void RenameRecycledFiles(FileSystemParser& parser, const RenameRow& rename);

}  // namespace tarnwell
