#include "device/DriveEnumeration.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace tarnwell {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string Trim(std::string s) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    return s.substr(i);
}

std::uint64_t SectorsFile(const fs::path& file) {
    std::string text = ReadLine(file);
    try {
        return text.empty() ? 0 : std::stoull(text);
    } catch (...) {
        return 0;
    }
}

// Kinds of whole disks we list, in listing order.
int DiskGroup(const std::string& name) {
    static const std::array<std::regex, 5> kinds = {
        std::regex("sd[a-z]+"), std::regex("nvme[0-9]+n[0-9]+"), std::regex("mmcblk[0-9]+"),
        std::regex("vd[a-z]+"), std::regex("loop[0-9]+")};
    for (std::size_t i = 0; i < kinds.size(); ++i)
        if (std::regex_match(name, kinds[i])) return static_cast<int>(i);
    return -1;
}

// sdb before sdaa, nvme2n1 before nvme10n1: shorter names of a kind first.
bool DiskOrder(const std::pair<int, std::string>& a, const std::pair<int, std::string>& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.second.size() != b.second.size()) return a.second.size() < b.second.size();
    return a.second < b.second;
}

// Virtio and some bridges put a numeric bus id ("0x1af4") where a name belongs.
std::string NameField(const fs::path& file) {
    std::string text = Trim(ReadLine(file));
    return text.rfind("0x", 0) == 0 ? std::string() : text;
}

std::string ModelText(const fs::path& disk) {
    fs::path device = disk / "device";
    std::string vendor = NameField(device / "vendor");
    std::string model = NameField(device / "model");
    if (model.empty()) model = NameField(device / "name");  // MMC/SD cards
    if (vendor.empty()) return model;
    if (model.empty()) return vendor;
    return vendor + " " + model;
}

std::string DeviceFile(const DriveListRoots& roots, const std::string& devicePath) {
    // Device paths in mountinfo are absolute /dev paths; map them into the root.
    if (devicePath.rfind("/dev/", 0) == 0) return (fs::path(roots.dev) / devicePath.substr(5)).string();
    return devicePath;
}

bool Readable(const std::string& file) { return ::access(file.c_str(), R_OK) == 0; }

// mountinfo escapes blanks, tabs, newlines and backslashes as octal.
std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto octal = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
        if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

std::vector<PhysicalDrive> ListPhysicalDrives(const DriveListRoots& roots) {
    std::vector<std::pair<int, std::string>> disks;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(roots.sysBlock, ec)) {
        std::string name = item.path().filename().string();
        int group = DiskGroup(name);
        if (group < 0) continue;
        if (fs::exists(item.path() / "partition")) continue;  // a partition, not a disk
        disks.emplace_back(group, name);
    }
    std::sort(disks.begin(), disks.end(), DiskOrder);

    std::vector<PhysicalDrive> drives;
    for (const auto& [group, name] : disks) {
        fs::path disk = fs::path(roots.sysBlock) / name;
        PhysicalDrive d;
        d.name = name;
        d.sizeBytes = SectorsFile(disk / "size") * 512;
        if (d.sizeBytes == 0) continue;  // a reader without a card, a detached loop
        if (name.rfind("loop", 0) == 0) {
            d.backingFile = Trim(ReadLine(disk / "loop" / "backing_file"));
            if (d.backingFile.empty()) continue;
        }
        d.devicePath = "/dev/" + name;
        d.itemText = ModelText(disk);
        if (d.itemText.empty()) d.itemText = d.devicePath;
        d.removable = Trim(ReadLine(disk / "removable")) == "1";
        d.readable = Readable(DeviceFile(roots, d.devicePath));
        d.number = static_cast<int>(drives.size());
        drives.push_back(std::move(d));
    }
    return drives;
}

std::vector<MountedDevice> ListMountedDevices(const DriveListRoots& roots) {
    std::vector<MountedDevice> devices;
    std::ifstream in(roots.mountinfo);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mountpoint options [optional...] - type source superoptions
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;) f.push_back(w);
        auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || std::distance(dash, f.end()) < 3) continue;
        std::string mountPoint = Unescape(f[4]);
        std::string type = *(dash + 1);
        std::string source = Unescape(*(dash + 2));
        if (source.rfind("/dev/", 0) != 0) continue;
        bool seen = std::any_of(devices.begin(), devices.end(),
                                [&](const MountedDevice& d) { return d.devicePath == source; });
        if (seen) continue;

        MountedDevice d;
        d.devicePath = source;
        d.deviceFile = DeviceFile(roots, source);
        d.mountPoint = mountPoint;
        d.kernelType = type;
        d.readable = Readable(d.deviceFile);
        std::error_code ec;
        fs::path real = fs::weakly_canonical(d.deviceFile, ec);
        std::string kernelName = (ec ? fs::path(d.deviceFile) : real).filename().string();
        d.sizeBytes = SectorsFile(fs::path(roots.sysClassBlock) / kernelName / "size") * 512;
        if (d.sizeBytes == 0) {
            struct statvfs st {};
            if (::statvfs(mountPoint.c_str(), &st) == 0) d.sizeBytes = std::uint64_t(st.f_blocks) * st.f_frsize;
        }
        devices.push_back(std::move(d));
    }
    return devices;
}

}  // namespace tarnwell
