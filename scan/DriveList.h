#pragma once
// What the machine offers to recover from: whole-disk block devices and the
// mounted file systems on block devices. The roots are parameters so that
// tests can feed fixed trees.

#include <cstdint>
#include <string>
#include <vector>

#include "partition/VolumeEntry.h"

namespace tarnwell {

struct DriveListRoots {
    std::string sysBlock = "/sys/block";            // one folder per whole disk
    std::string sysClassBlock = "/sys/class/block"; // disks and partitions, for sizes
    std::string dev = "/dev";                       // where device nodes live
    std::string mountinfo = "/proc/self/mountinfo";
};

struct PhysicalDrive {
    int number = 0;            // position in the list, the N of a drive
    std::string name;          // kernel name: sdb, nvme0n1, mmcblk0, loop3
    std::string devicePath;    // /dev/sdb
    std::string itemText;      // vendor and model, else the device path
    std::string backingFile;   // loop devices: the image behind them
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool readable = false;     // this user may open it for reading
};

struct MountedVolume {
    VolumeEntry entry;  // rootPath = mount point, location = device path
    std::string kernelType;
    bool readable = false;
};

// Disks in the order sd*, nvme*n*, mmcblk*, vd*, then loop devices with a
// backing file; partitions and drives without a medium are left out.
std::vector<PhysicalDrive> ListPhysicalDrives(const DriveListRoots& roots = {});

// Mounted file systems on block devices, one row per device, in mount order.
std::vector<MountedVolume> ListMountedVolumes(const DriveListRoots& roots = {});

// Our name for a mounted file system of kernel type, reading the boot sector of
// the device where the type alone does not tell (vfat, fuseblk).
std::string MountedFileSystemName(const std::string& kernelType, const std::string& deviceFile);

}  // namespace tarnwell
