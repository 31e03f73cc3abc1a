#include "app/ImageSource.h"

#include <cstring>
#include <vector>

#include "device/FileReadSeek.h"
#include "fs/DisplayText.h"
#include "partition/FatBootSector.h"

namespace tarnwell {

namespace {
bool At(const std::vector<std::uint8_t>& b, std::size_t offset, const char* text) {
    std::size_t n = std::strlen(text);
    return offset + n <= b.size() && std::memcmp(b.data() + offset, text, n) == 0;
}
}  // namespace

std::optional<VolumeEntry> ImageAsVolume(const std::string& path) {
    SilentPrompter quiet;
    FileReadSeek reader(quiet);
    if (!reader.Open(path)) return std::nullopt;
    std::vector<std::uint8_t> head(4096);
    reader.ReadAt(0, head.data(), head.size());

    std::string kind;
    if (At(head, 3, "NTFS    ")) kind = "NTFS";
    else if (At(head, 3, "EXFAT   ")) kind = "exFAT";
    else if (head[1080] == 0x53 && head[1081] == 0xEF) kind = "extX";
    else if (At(head, 1024, "H+") || At(head, 1024, "HX")) kind = "HFS+";
    else if (auto fat = ParseFatBootSector(ByteView(head.data(), 512))) kind = FatKindName(fat->kind);
    if (kind.empty()) return std::nullopt;

    VolumeEntry entry;
    entry.fileSystem = kind;
    entry.rootPath = path;
    entry.location = path;
    entry.sizeText = MiBSizeText(reader.fileLength());
    entry.sectorCount = reader.deviceSectorCount();
    entry.foundBy = FoundBy::WholeSource;
    return entry;
}

}  // namespace tarnwell
