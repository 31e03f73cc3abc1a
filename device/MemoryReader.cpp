#include "device/MemoryReader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tarnwell {

MemoryReader::MemoryReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    SetLength(bytes_.size());
}

bool MemoryReader::Open(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    bytes_.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!in) return false;
    SetLength(bytes_.size());
    return true;
}

SectorReader::RawResult MemoryReader::ReadRaw(std::uint64_t position, void* destination,
                                                    std::size_t count) {
    if (position >= bytes_.size()) return {RawStatus::EndOfData, 0};
    std::size_t n = std::min<std::uint64_t>(count, bytes_.size() - position);
    // Stop short of the first bad sector in the range, as a device would fail there.
    if (!badSectors_.empty()) {
        std::uint64_t first = position / kSectorSize;
        std::uint64_t last = (position + n - 1) / kSectorSize;
        auto bad = badSectors_.lower_bound(first);
        if (bad != badSectors_.end() && *bad <= last) {
            if (*bad == first) return {RawStatus::Error, 0};
            n = static_cast<std::size_t>(*bad * kSectorSize - position);
        }
    }
    std::memcpy(destination, bytes_.data() + position, n);
    return {RawStatus::Ok, n};
}

}  // namespace tarnwell
