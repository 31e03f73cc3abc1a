#include "device/VolumeView.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

namespace {
// Sector numbers beyond this would overflow a byte offset in either unit.
constexpr std::uint64_t kMaxSector = 1ULL << 50;
}  // namespace

bool VolumeView::ReadSectors(std::uint64_t sector, void* destination, std::size_t count) const {
    if (sector >= kMaxSector) {
        std::memset(destination, 0, count);
        return false;
    }
    return ReadAt(static_cast<std::int64_t>(sector * sectorSize_), destination, count);
}

VolumeView VolumeView::Sub(std::uint64_t offset, std::uint64_t length) const {
    VolumeView v = *this;
    v.offset_ = offset_ + offset;
    const std::uint64_t rest = length_ > offset ? length_ - offset : 0;
    v.length_ = length == 0 ? rest : std::min(length, rest);
    return v;
}

}  // namespace tarnwell
