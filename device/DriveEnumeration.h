#pragma once
// What the machine offers to recover from, as the kernel tells it: whole-disk
// block devices (sysfs) and the block devices mounted somewhere (mountinfo).
// The roots are parameters so that tests can feed fixed trees.

#include <cstdint>
#include <string>
#include <vector>

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

// A block device that is mounted: its first mount, as the kernel lists it.
struct MountedDevice {
    std::string devicePath;   // /dev/sdb1, as mountinfo names it
    std::string deviceFile;   // the same under roots.dev, for opening
    std::string mountPoint;
    std::string kernelType;   // vfat, ext4, ntfs3, fuseblk...
    std::uint64_t sizeBytes = 0;
    bool readable = false;
};

// Disks in the order sd*, nvme*n*, mmcblk*, vd*, then loop devices with a
// backing file; partitions and drives without a medium are left out.
std::vector<PhysicalDrive> ListPhysicalDrives(const DriveListRoots& roots = {});

// Mounted block devices, one row per device, in mount order.
std::vector<MountedDevice> ListMountedDevices(const DriveListRoots& roots = {});

}  // namespace tarnwell
