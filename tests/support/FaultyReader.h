#pragma once
// A reader that misbehaves on a plan, over any other reader: it refuses given
// sectors, hands back short reads, or flips bytes on their way out, so tests
// can show how every parser copes with a dying device.

#include <cstdint>
#include <map>
#include <memory>
#include <set>

#include "device/DdrescueMap.h"

namespace tarnwell::test {

struct FaultPlan {
    std::set<std::uint64_t> badSectors;          // 512-byte sectors from the source start, refused
    std::size_t maxBytesPerRead = 0;             // when not 0, no raw read delivers more
    std::map<std::uint64_t, std::uint8_t> flips; // byte position -> XOR mask applied when read
};

class FaultyReader final : public ReaderDecorator {
public:
    FaultyReader(std::unique_ptr<SectorReader> inner, FaultPlan plan);

    // Raw reads made so far (a reader that stalls on a bad sector shows here).
    std::uint64_t RawReads() const { return rawReads_; }
    // Refused reads of a planned bad sector.
    std::uint64_t Refusals() const { return refusals_; }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    FaultPlan plan_;
    std::uint64_t rawReads_ = 0;
    std::uint64_t refusals_ = 0;
};

// A plain image file wrapped in a FaultyReader; null when it cannot be opened.
std::unique_ptr<FaultyReader> OpenFaulty(const std::string& path, FaultPlan plan);

}  // namespace tarnwell::test
