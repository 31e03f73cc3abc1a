#pragma once
// Structure checks for the common formats: from a start signature, walk the
// file's own structure to its exact end. A start whose structure does not hold
// is no file of that format.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "carve/VolumeCursor.h"

namespace tarnwell {

enum class CarveFormat { None, Jpeg, Png, Gif, Bmp, Zip, Pdf };

// The check for a type, chosen by its extension and its start signature; None
// for types that are delimited by their signatures and sizes alone.
CarveFormat FormatOf(const std::string& extension, const std::vector<std::uint8_t>& start);

// The length of the file of format f that starts at start, read no further
// than limit; nothing when its structure does not hold there.
std::optional<std::uint64_t> MeasureFile(CarveFormat f, VolumeCursor& cursor, std::uint64_t start, std::uint64_t limit);

}  // namespace tarnwell
