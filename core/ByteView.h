#pragma once
// Bounds-checked little- and big-endian reads over bytes from a disk. Every
// getter checks its range; outside it a getter yields 0, so callers test Has()
// where a missing field must be told apart from a zero one.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwell {

class ByteView {
public:
    ByteView() = default;
    ByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    ByteView(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    ByteView(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::span<const std::uint8_t> span() const { return bytes_; }

    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    std::uint8_t U8(std::size_t offset) const { return Has(offset, 1) ? bytes_[offset] : 0; }
    std::uint16_t Le16(std::size_t offset) const { return static_cast<std::uint16_t>(Le(offset, 2)); }
    std::uint32_t Le32(std::size_t offset) const { return static_cast<std::uint32_t>(Le(offset, 4)); }
    std::uint64_t Le64(std::size_t offset) const { return Le(offset, 8); }
    std::uint16_t Be16(std::size_t offset) const { return static_cast<std::uint16_t>(Be(offset, 2)); }
    std::uint32_t Be32(std::size_t offset) const { return static_cast<std::uint32_t>(Be(offset, 4)); }
    std::uint64_t Be64(std::size_t offset) const { return Be(offset, 8); }
    std::int16_t LeS16(std::size_t offset) const { return static_cast<std::int16_t>(Le16(offset)); }
    std::int32_t LeS32(std::size_t offset) const { return static_cast<std::int32_t>(Le32(offset)); }
    std::int64_t LeS64(std::size_t offset) const { return static_cast<std::int64_t>(Le64(offset)); }
    // Little-endian unsigned value of 1 to 8 bytes (NTFS run lengths and the like).
    std::uint64_t Le(std::size_t offset, std::size_t width) const;
    std::uint64_t Be(std::size_t offset, std::size_t width) const;

    // The part [offset, offset + length), clipped to what exists.
    ByteView Sub(std::size_t offset, std::size_t length) const;
    ByteView Sub(std::size_t offset) const { return Sub(offset, bytes_.size()); }

    // Whether the bytes at offset spell text exactly.
    bool Matches(std::size_t offset, std::string_view text) const;

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace tarnwell
