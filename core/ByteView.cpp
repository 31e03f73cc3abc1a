#include "core/ByteView.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

std::uint64_t ByteView::Le(std::size_t offset, std::size_t width) const {
    if (width == 0 || width > 8 || !Has(offset, width)) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = (v << 8) | bytes_[offset + i];
    return v;
}

std::uint64_t ByteView::Be(std::size_t offset, std::size_t width) const {
    if (width == 0 || width > 8 || !Has(offset, width)) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes_[offset + i];
    return v;
}

ByteView ByteView::Sub(std::size_t offset, std::size_t length) const {
    if (offset >= bytes_.size()) return {};
    return ByteView(bytes_.subspan(offset, std::min(length, bytes_.size() - offset)));
}

bool ByteView::Matches(std::size_t offset, std::string_view text) const {
    return Has(offset, text.size()) && std::memcmp(bytes_.data() + offset, text.data(), text.size()) == 0;
}

}  // namespace tarnwell
