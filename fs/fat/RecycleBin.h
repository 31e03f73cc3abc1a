#pragma once
// Windows recycle-bin index files ("$I..."), which record the path a recycled
// file had (Parts 4.3, 5.3). The data file beside it is named "$R" with the
// same suffix.
//
//   offset  size  version 1 (Vista to 8.1)        version 2 (Windows 10 on)
//   0       8     version = 1                     version = 2
//   8       8     file size                       file size
//   16      8     deletion time (FILETIME)        deletion time
//   24      520   path, UTF-16LE, NUL-terminated  4: path length in units, NUL included
//   28                                            path, UTF-16LE

#include <optional>
#include <string>

#include "fs/ByteView.h"

namespace tarnwell {

// The largest "$I" file worth reading: a version 2 path of 32 767 units.
inline constexpr std::size_t kMaxRecycleInfoBytes = 28 + 2 * 32768;

// The former path recorded by an "$I" file (UTF-8), or nothing when the bytes
// are not one.
std::optional<std::string> RecycleInfoPath(ByteView info);

// The last component of a Windows path ("C:\Users\x\notes.txt" -> "notes.txt").
std::string RecycleLeafName(const std::string& path);

}  // namespace tarnwell
