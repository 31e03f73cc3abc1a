#pragma once
// Random reads of a volume through a cache of large blocks, for walking file
// structures forward from a found start without a read per field.

#include <cstdint>
#include <vector>

#include "device/VolumeView.h"

namespace tarnwell {

class VolumeCursor {
public:
    VolumeCursor(const VolumeView& reader, std::uint64_t volumeBytes) : reader_(reader), end_(volumeBytes) {}

    std::uint64_t End() const { return end_; }
    // The byte at pos; 0 past the end (callers bound their walks by End()).
    std::uint8_t At(std::uint64_t pos);
    std::uint16_t Be16(std::uint64_t pos) { return static_cast<std::uint16_t>(At(pos) << 8 | At(pos + 1)); }
    std::uint32_t Be32(std::uint64_t pos) { return std::uint32_t(Be16(pos)) << 16 | Be16(pos + 2); }
    std::uint16_t Le16(std::uint64_t pos) { return static_cast<std::uint16_t>(At(pos) | At(pos + 1) << 8); }
    std::uint32_t Le32(std::uint64_t pos) { return Le16(pos) | std::uint32_t(Le16(pos + 2)) << 16; }
    std::uint64_t Le(std::uint64_t pos, int width);
    // The first position in [from, limit) where bytes of needle begin; limit when none.
    std::uint64_t Find(std::uint64_t from, std::uint64_t limit, const std::uint8_t* needle, std::size_t size);
    bool Equals(std::uint64_t pos, const char* text, std::size_t size);

private:
    static constexpr std::uint64_t kBlock = 1 << 20;
    bool Load(std::uint64_t block);

    VolumeView reader_;
    std::uint64_t end_;
    std::uint64_t cached_ = UINT64_MAX;
    std::vector<std::uint8_t> data_;
};

}  // namespace tarnwell
