#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scan/DriveList.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

struct FakeDisk {
    std::string name;
    std::string sectors;  // content of "size"
    std::string vendor, model, mmcName, backingFile;
    bool removable = false;
    bool partitionMarker = false;  // a "partition" file, as partitions have
    bool deviceNode = true;
};

// A system in miniature: /sys/block, /sys/class/block, /dev and mountinfo.
class FakeSystem {
public:
    DriveListRoots roots;
    test::TempDir dir;

    FakeSystem() {
        roots.sysBlock = (dir / "sys/block").string();
        roots.sysClassBlock = (dir / "sys/class/block").string();
        roots.dev = (dir / "dev").string();
        roots.mountinfo = (dir / "mountinfo").string();
        std::filesystem::create_directories(roots.sysBlock);
        std::filesystem::create_directories(roots.dev);
    }

    void Add(const FakeDisk& d) {
        std::string base = "sys/block/" + d.name + "/";
        dir.Write(base + "size", d.sectors + "\n");
        dir.Write(base + "removable", d.removable ? "1\n" : "0\n");
        if (!d.vendor.empty()) dir.Write(base + "device/vendor", d.vendor + "\n");
        if (!d.model.empty()) dir.Write(base + "device/model", d.model + "\n");
        if (!d.mmcName.empty()) dir.Write(base + "device/name", d.mmcName + "\n");
        if (!d.backingFile.empty()) dir.Write(base + "loop/backing_file", d.backingFile + "\n");
        if (d.partitionMarker) dir.Write(base + "partition", "1\n");
        if (d.deviceNode) dir.Write("dev/" + d.name, "");
    }

    void AddPartition(const std::string& name, std::uint64_t sectors, const std::vector<std::uint8_t>& boot = {}) {
        dir.Write("sys/class/block/" + name + "/size", std::to_string(sectors) + "\n");
        dir.Write("dev/" + name, std::string(boot.begin(), boot.end()));
    }
};

TEST(PhysicalDrives, ListsWholeDisksInKindOrderWithTheirNames) {
    FakeSystem sys;
    sys.Add({.name = "sdaa", .sectors = "2048", .model = "Disk27"});
    sys.Add({.name = "sdb", .sectors = "15633408", .vendor = "SanDisk ", .model = "Cruzer Blade    ",
             .removable = true});
    sys.Add({.name = "nvme0n1", .sectors = "1953525168", .model = "Samsung SSD 980 1TB"});
    sys.Add({.name = "mmcblk0", .sectors = "62333952", .mmcName = "SD64G"});
    sys.Add({.name = "vda", .sectors = "4096", .vendor = "0x1af4"});  // a bus id is no name
    sys.Add({.name = "sdc", .sectors = "0", .vendor = "Generic", .model = "SD Reader"});  // no card in it
    sys.Add({.name = "loop0", .sectors = "65536", .backingFile = "/images/card.img"});
    sys.Add({.name = "loop1", .sectors = "0"});                  // detached
    sys.Add({.name = "loop2", .sectors = "100"});                // no backing file
    sys.Add({.name = "sdb1", .sectors = "2048", .partitionMarker = true});
    sys.Add({.name = "mmcblk0p1", .sectors = "2048"});
    sys.Add({.name = "nvme0n1p1", .sectors = "2048"});
    sys.Add({.name = "mmcblk0boot0", .sectors = "8192"});
    sys.Add({.name = "sr0", .sectors = "2048"});
    sys.Add({.name = "dm-0", .sectors = "2048"});
    sys.Add({.name = "ram0", .sectors = "2048"});
    sys.Add({.name = "zram0", .sectors = "2048", .deviceNode = false});

    struct Expected {
        std::string name, text;
        std::uint64_t bytes;
        bool removable;
    };
    const std::vector<Expected> expected = {
        {"sdb", "SanDisk Cruzer Blade", 15633408ULL * 512, true},
        {"sdaa", "Disk27", 2048 * 512, false},
        {"nvme0n1", "Samsung SSD 980 1TB", 1953525168ULL * 512, false},
        {"mmcblk0", "SD64G", 62333952ULL * 512, false},
        {"vda", "/dev/vda", 4096 * 512, false},
        {"loop0", "/dev/loop0", 65536 * 512, false},
    };
    auto drives = ListPhysicalDrives(sys.roots);
    ASSERT_EQ(drives.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(drives[i].number, static_cast<int>(i));
        EXPECT_EQ(drives[i].name, expected[i].name);
        EXPECT_EQ(drives[i].devicePath, "/dev/" + expected[i].name);
        EXPECT_EQ(drives[i].itemText, expected[i].text);
        EXPECT_EQ(drives[i].sizeBytes, expected[i].bytes);
        EXPECT_EQ(drives[i].removable, expected[i].removable);
        EXPECT_TRUE(drives[i].readable);
    }
    EXPECT_EQ(drives[5].backingFile, "/images/card.img");
}

TEST(PhysicalDrives, TellsWhichCannotBeOpened) {
    FakeSystem sys;
    sys.Add({.name = "sda", .sectors = "2048", .deviceNode = false});
    auto drives = ListPhysicalDrives(sys.roots);
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_FALSE(drives[0].readable);
}

TEST(PhysicalDrives, MissingSysfsGivesAnEmptyList) {
    DriveListRoots roots;
    roots.sysBlock = "/nonexistent/sys/block";
    EXPECT_TRUE(ListPhysicalDrives(roots).empty());
}

std::vector<std::uint8_t> Fat16BootSector() {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB; s[1] = 0x3C; s[2] = 0x90;
    std::memcpy(&s[3], "mkfs.fat", 8);
    s[11] = 0x00; s[12] = 0x02;  // 512 bytes per sector
    s[13] = 4;                   // sectors per cluster
    s[14] = 4;                   // reserved
    s[16] = 2;                   // FATs
    s[17] = 0x00; s[18] = 0x02;  // 512 root entries
    s[21] = 0xF8;
    s[22] = 200;                 // sectors per FAT
    s[32] = 0x00; s[33] = 0x20; s[34] = 0x03;  // 204800 sectors
    s[510] = 0x55; s[511] = 0xAA;
    return s;
}

std::vector<std::uint8_t> NtfsBootSector() {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB; s[1] = 0x52; s[2] = 0x90;
    std::memcpy(&s[3], "NTFS    ", 8);
    s[510] = 0x55; s[511] = 0xAA;
    return s;
}

TEST(MountedVolumes, MapsKernelTypesAndSizesFromMountinfo) {
    FakeSystem sys;
    sys.AddPartition("sda2", 976773168);
    sys.AddPartition("sdb1", 204800, Fat16BootSector());
    sys.AddPartition("sdb2", 62521344);
    sys.AddPartition("sdb3", 409600, NtfsBootSector());
    sys.AddPartition("nvme0n1p2", 2097152);
    sys.dir.Write("mountinfo",
                  "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                  "25 22 0:22 / /proc rw,nosuid - proc proc rw\n"
                  "30 22 8:17 / /media/user/CARD\\040ONE rw,nosuid shared:2 - vfat /dev/sdb1 rw,fmask=0022\n"
                  "32 22 8:18 / /mnt/ex rw master:3 - exfat /dev/sdb2 rw\n"
                  "33 22 8:19 / /mnt/win rw - fuseblk /dev/sdb3 rw,user_id=0\n"
                  "34 22 8:2 /home /home rw - ext4 /dev/sda2 rw\n"
                  "35 22 259:2 / /mnt/mac rw - hfsplus /dev/nvme0n1p2 rw\n"
                  "36 22 0:40 / /tmp rw - tmpfs tmpfs rw\n");

    struct Expected {
        std::string mount, device, fs, size;
    };
    const std::vector<Expected> expected = {
        {"/", "/dev/sda2", "ext4", "476940  MB"},
        {"/media/user/CARD ONE", "/dev/sdb1", "FAT16", "100  MB"},
        {"/mnt/ex", "/dev/sdb2", "exFAT", "30528  MB"},
        {"/mnt/win", "/dev/sdb3", "NTFS", "200  MB"},
        {"/mnt/mac", "/dev/nvme0n1p2", "HFS+", "1024  MB"},
    };
    auto volumes = ListMountedVolumes(sys.roots);
    ASSERT_EQ(volumes.size(), expected.size()) << "one row per device, block devices only";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].device);
        EXPECT_EQ(volumes[i].entry.rootPath, expected[i].mount);
        EXPECT_EQ(volumes[i].entry.location, expected[i].device);
        EXPECT_EQ(volumes[i].entry.fileSystem, expected[i].fs);
        EXPECT_EQ(volumes[i].entry.sizeText, expected[i].size);
        EXPECT_EQ(volumes[i].entry.startSector, 0);
        EXPECT_TRUE(volumes[i].readable);
    }
}

TEST(MountedVolumes, UnreadableFatDeviceKeepsTheFamilyName) {
    FakeSystem sys;
    sys.dir.Write("mountinfo", "30 22 8:17 / /media/card rw - vfat /dev/sdz1 rw\n");
    auto volumes = ListMountedVolumes(sys.roots);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].entry.fileSystem, "FAT");
    EXPECT_FALSE(volumes[0].readable);
}

}  // namespace
}  // namespace tarnwell
