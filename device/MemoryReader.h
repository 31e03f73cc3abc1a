#pragma once
// A reader over bytes held in memory, for tests and fuzzers. Sectors can be
// marked bad to see how callers cope with a failing device.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "device/SectorReader.h"

namespace tarnwell {

class MemoryReader final : public SectorReader {
public:
    MemoryReader() = default;
    explicit MemoryReader(std::vector<std::uint8_t> bytes);

    // Loads a whole file into memory.
    bool Open(const std::string& path) override;

    void MarkBad(std::uint64_t sector) { badSectors_.insert(sector); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    std::vector<std::uint8_t> bytes_;
    std::set<std::uint64_t> badSectors_;
};

}  // namespace tarnwell
