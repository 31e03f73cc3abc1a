#pragma once
// A page-aligned byte buffer for the long sequential reads of the searches: the
// kernel copies from the page cache into an aligned buffer markedly faster.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace tarnwell {

class AlignedBuffer {
public:
    static constexpr std::size_t kAlignment = 4096;

    explicit AlignedBuffer(std::size_t size)
        : bytes_(new (std::align_val_t(kAlignment)) std::uint8_t[size]), size_(size) {}

    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t(kAlignment)); }
    };
    std::unique_ptr<std::uint8_t[], Free> bytes_;
    std::size_t size_;
};

}  // namespace tarnwell
