#include "partition/VolumeEntry.h"

#include <algorithm>
#include <cctype>

namespace tarnwell {

const char* FoundByName(FoundBy how) {
    switch (how) {
        case FoundBy::Mounted: return "mounted";
        case FoundBy::Mbr: return "mbr";
        case FoundBy::Ebr: return "ebr";
        case FoundBy::Gpt: return "gpt";
        case FoundBy::Scan: return "scan";
        case FoundBy::Manual: return "manual";
        case FoundBy::WholeSource: return "whole";
    }
    return "manual";
}

std::int64_t VolumeEntry::SizeMiB() const {
    std::size_t i = 0;
    while (i < sizeText.size() && std::isspace(static_cast<unsigned char>(sizeText[i]))) ++i;
    std::int64_t n = 0;
    bool any = false;
    for (; i < sizeText.size() && std::isdigit(static_cast<unsigned char>(sizeText[i])); ++i) {
        if (n > (INT64_MAX - 9) / 10) break;  // absurd text: keep what fits
        n = n * 10 + (sizeText[i] - '0');
        any = true;
    }
    return any ? n : 0;
}

std::uint64_t VolumeEntry::SizeBytes() const {
    if (sectorCount > 0) return sectorCount * std::uint64_t(sectorSize == 0 ? 512 : sectorSize);
    return static_cast<std::uint64_t>(SizeMiB()) * 1048576ULL;
}

std::uint64_t VolumeEntry::StartByte() const {
    return std::uint64_t(std::max<std::int64_t>(0, startSector)) * (sectorSize == 0 ? 512 : sectorSize);
}

VolumeView ViewOf(SectorReader& source, const VolumeEntry& volume) {
    return VolumeView(source, volume.StartByte(), volume.sectorCount > 0 ? volume.SizeBytes() : 0,
                      volume.sectorSize);
}

}  // namespace tarnwell
