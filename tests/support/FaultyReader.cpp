#include "support/FaultyReader.h"

#include <algorithm>

#include "device/FileReader.h"

namespace tarnwell::test {

FaultyReader::FaultyReader(std::unique_ptr<SectorReader> inner, FaultPlan plan)
    : ReaderDecorator(std::move(inner)), plan_(std::move(plan)) {}

SectorReader::RawResult FaultyReader::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    ++rawReads_;
    std::uint64_t sector = position / kSectorSize;
    if (plan_.badSectors.count(sector)) {
        ++refusals_;
        return {RawStatus::Error, 0};
    }
    // Stop short of the next bad sector so the caller meets it on its own read.
    auto next = plan_.badSectors.upper_bound(sector);
    if (next != plan_.badSectors.end()) {
        std::uint64_t until = *next * kSectorSize;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, until - position));
    }
    if (plan_.maxBytesPerRead != 0) count = std::min(count, plan_.maxBytesPerRead);
    RawResult r = ForwardRaw(position, destination, count);
    auto* bytes = static_cast<std::uint8_t*>(destination);
    for (auto it = plan_.flips.lower_bound(position); it != plan_.flips.end() && it->first < position + r.bytes; ++it)
        bytes[it->first - position] ^= it->second;
    return r;
}

std::unique_ptr<FaultyReader> OpenFaulty(const std::string& path, FaultPlan plan) {
    static SilentPrompter quiet;
    auto file = std::make_unique<FileReader>(quiet);
    if (!file->Open(path)) return nullptr;
    return std::make_unique<FaultyReader>(std::move(file), std::move(plan));
}

}  // namespace tarnwell::test
