#pragma once
// The mounted volumes as the wizard and `tarnwell drives` list them: the
// kernel's mounted devices, each named by its file system.

#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

struct MountedVolume {
    VolumeEntry entry;  // rootPath = mount point, location = device path
    std::string kernelType;
    bool readable = false;
};

// Mounted file systems on block devices, one row per device, in mount order.
std::vector<MountedVolume> ListMountedVolumes(const DriveListRoots& roots = {});

// Our name for a mounted file system of kernel type, reading the boot sector of
// the device where the type alone does not tell (vfat, fuseblk).
std::string MountedFileSystemName(const std::string& kernelType, const std::string& deviceFile);

}  // namespace tarnwell
