#pragma once
// A gzip-compressed image (the public fixtures of ../shared/fixtures), held in
// memory sparsely: only the blocks that are not all zero are kept, so images
// of a gigabyte that hold a few files cost a few megabytes.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/SectorReader.h"

namespace tarnwell::test {

class GzipImage final : public SectorReader {
public:
    // Inflates path; false when it cannot be read.
    bool Open(const std::string& path) override;

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
};

}  // namespace tarnwell::test
