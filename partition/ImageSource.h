#pragma once
// What an image file holds: a single volume (it begins with a boot sector or
// volume header), or a whole disk whose volumes a partition scan finds.

#include <optional>
#include <string>

#include "partition/VolumeEntry.h"

namespace tarnwell {

// The image as one volume, or nothing when it looks like a whole disk (or
// cannot be read). The entry's location is the image path.
std::optional<VolumeEntry> ImageAsVolume(const std::string& path);

}  // namespace tarnwell
