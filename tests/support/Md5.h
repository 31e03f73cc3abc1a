#pragma once
// MD5 (RFC 1321), to compare recovered bytes with the digests The Sleuth Kit
// recorded for the fixtures. A test helper, not a security function.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace tarnwell::test {

class Md5 {
public:
    void Update(const void* data, std::size_t size) {
        auto p = static_cast<const std::uint8_t*>(data);
        length_ += size;
        while (size > 0) {
            std::size_t take = std::min(size, sizeof block_ - used_);
            std::memcpy(block_ + used_, p, take);
            used_ += take;
            p += take;
            size -= take;
            if (used_ == sizeof block_) {
                Transform(block_);
                used_ = 0;
            }
        }
    }

    // Lower-case hex digest; the object is spent afterwards.
    std::string Hex() {
        std::uint64_t bits = length_ * 8;
        const std::uint8_t pad = 0x80;
        Update(&pad, 1);
        const std::uint8_t zero = 0;
        while (used_ != 56) Update(&zero, 1);
        std::uint8_t len[8];
        for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (8 * i));
        Update(len, 8);
        std::string hex;
        char buf[3];
        for (std::uint32_t v : state_)
            for (int i = 0; i < 4; ++i) {
                std::snprintf(buf, sizeof buf, "%02x", (v >> (8 * i)) & 0xFF);
                hex += buf;
            }
        return hex;
    }

    static std::string Of(const std::string& bytes) {
        Md5 m;
        m.Update(bytes.data(), bytes.size());
        return m.Hex();
    }

private:
    static std::uint32_t Rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

    void Transform(const std::uint8_t* chunk) {
        static const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
        static std::array<std::uint32_t, 64> k = [] {
            std::array<std::uint32_t, 64> t{};
            for (int i = 0; i < 64; ++i)
                t[i] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(
                    std::fabs(std::sin(double(i + 1))) * 4294967296.0));
            return t;
        }();
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = chunk[4 * i] | (chunk[4 * i + 1] << 8) | (chunk[4 * i + 2] << 16) | (std::uint32_t(chunk[4 * i + 3]) << 24);
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) f = (b & c) | (~b & d), g = i;
            else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
            else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else f = c ^ (b | ~d), g = (7 * i) % 16;
            std::uint32_t t = d;
            d = c;
            c = b;
            b = b + Rotl(a + f + k[i] + w[g], kShift[i]);
            a = t;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    std::uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::uint8_t block_[64] = {};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace tarnwell::test
