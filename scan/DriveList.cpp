#include "scan/DriveList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "core/ByteView.h"
#include "core/DisplayText.h"
#include "partition/FatBootSector.h"
#include "partition/FsKind.h"

namespace tarnwell {

std::string MountedFileSystemName(const std::string& type, const std::string& deviceFile) {
    // The kernel's names of these are our KIND names.
    if (type == "exfat" || type == "ext2" || type == "ext3" || type == "ext4" || type == "hfsplus")
        return ShownName(FsTypeOfName(type));
    if (type == "ntfs" || type == "ntfs3" || type == "ntfs-3g") return ShownName(FsType::Ntfs);
    if (type != "vfat" && type != "msdos" && type != "fuseblk") return type;

    std::vector<std::uint8_t> sector(512);
    int fd = ::open(deviceFile.c_str(), O_RDONLY | O_CLOEXEC);
    bool read = fd >= 0 && ::pread(fd, sector.data(), sector.size(), 0) == 512;
    if (fd >= 0) ::close(fd);
    if (read) {
        ByteView view(sector);
        if (auto fat = ParseFatBootSector(view)) return FatKindName(fat->kind);
        if (view.Matches(3, "NTFS    ")) return ShownName(FsType::Ntfs);
        if (view.Matches(3, "EXFAT   ")) return ShownName(FsType::ExFat);
    }
    return type == "fuseblk" ? type : ShownName(FsType::Fat);  // unreadable: the family is all we know
}

std::vector<MountedVolume> ListMountedVolumes(const DriveListRoots& roots) {
    std::vector<MountedVolume> volumes;
    for (const MountedDevice& d : ListMountedDevices(roots)) {
        MountedVolume v;
        v.kernelType = d.kernelType;
        v.readable = d.readable;
        v.entry.fileSystem = MountedFileSystemName(d.kernelType, d.deviceFile);
        v.entry.rootPath = d.mountPoint;
        v.entry.location = d.devicePath;
        v.entry.foundBy = FoundBy::Mounted;
        v.entry.sectorCount = d.sizeBytes / 512;
        v.entry.sizeText = MiBSizeText(d.sizeBytes, "  ");
        volumes.push_back(std::move(v));
    }
    return volumes;
}

}  // namespace tarnwell
