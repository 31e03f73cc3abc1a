#pragma once
// A file's bytes kept in memory up to a limit: what a parser reads for itself
// (a recycle-bin index file) and what tests compare. Bytes past the limit are
// dropped, never refused, so a reader that wants a file's head gets it whole.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "fs/OutputWriter.h"

namespace tarnwell {

class MemorySink final : public FileSink {
public:
    explicit MemorySink(std::size_t limit = std::numeric_limits<std::size_t>::max()) : limit_(limit) {}
    bool Write(const void* data, std::size_t size) override {
        auto p = static_cast<const std::uint8_t*>(data);
        std::size_t take = std::min(size, limit_ - std::min(limit_, bytes.size()));
        bytes.insert(bytes.end(), p, p + take);
        dropped_ |= take < size;
        return true;
    }
    // Whether bytes past the limit were dropped.
    bool Dropped() const { return dropped_; }

    std::vector<std::uint8_t> bytes;

private:
    std::size_t limit_;
    bool dropped_ = false;
};

}  // namespace tarnwell
