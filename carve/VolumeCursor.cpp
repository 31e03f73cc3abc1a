#include "carve/VolumeCursor.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

bool VolumeCursor::Load(std::uint64_t block) {
    if (block == cached_) return true;
    std::uint64_t at = block * kBlock;
    if (at >= end_) return false;
    data_.resize(static_cast<std::size_t>(std::min(kBlock, end_ - at)));
    reader_.ReadAt(static_cast<std::int64_t>(at), data_.data(), data_.size());
    cached_ = block;
    return true;
}

std::uint8_t VolumeCursor::At(std::uint64_t pos) {
    if (pos >= end_ || !Load(pos / kBlock)) return 0;
    return data_[pos % kBlock];
}

std::uint64_t VolumeCursor::Le(std::uint64_t pos, int width) {
    std::uint64_t v = 0;
    for (int i = width; i-- > 0;) v = v << 8 | At(pos + i);
    return v;
}

bool VolumeCursor::Equals(std::uint64_t pos, const char* text, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (At(pos + i) != static_cast<std::uint8_t>(text[i])) return false;
    return pos + size <= end_;
}

std::uint64_t VolumeCursor::Find(std::uint64_t from, std::uint64_t limit, const std::uint8_t* needle,
                                 std::size_t size) {
    limit = std::min(limit, end_);
    if (size == 0 || from >= limit) return limit;
    for (std::uint64_t pos = from; pos < limit;) {
        if (!Load(pos / kBlock)) return limit;
        std::size_t in = static_cast<std::size_t>(pos % kBlock);
        std::size_t stop = static_cast<std::size_t>(std::min<std::uint64_t>(data_.size(), in + (limit - pos)));
        auto* hit = static_cast<const std::uint8_t*>(std::memchr(data_.data() + in, needle[0], stop - in));
        if (hit == nullptr) {
            pos += stop - in;
            continue;
        }
        std::uint64_t at = pos + static_cast<std::uint64_t>(hit - (data_.data() + in));
        bool whole = true;
        for (std::size_t k = 1; k < size && whole; ++k) whole = At(at + k) == needle[k];
        if (whole && at + size <= end_) return at;
        Load(at / kBlock);
        pos = at + 1;
    }
    return limit;
}

}  // namespace tarnwell
