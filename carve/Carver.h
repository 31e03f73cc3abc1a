#pragma once
// The carving engine: finds files in a volume's sectors by their start
// signatures, then delimits each by its structure (common formats), its end
// signature, a size field in its header, or its type's approximate size. One
// streaming pass over the volume in large reads.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "carve/FormatChecks.h"
#include "carve/SignatureRecord.h"
#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "device/VolumeView.h"

namespace tarnwell {

inline constexpr std::size_t kMaxSignatureTypes = 128;

struct FoundFile {
    std::int64_t start = 0;   // bytes from the volume start
    std::int64_t length = 0;
    std::uint8_t type = 0;    // index into the engine's settings
    bool partial = false;     // its structure did not hold, or it was cut (kept on request)
};

struct CarveSummary {
    std::uint64_t filesFound = 0;
    std::uint64_t unreadableSectors = 0;
    std::uint64_t bytesScanned = 0;
    bool stopped = false;
};

class Carver {
public:
    // Appends a file's types; past the 128th a type is refused. Returns the
    // refusals, each naming the record.
    std::vector<std::string> AddSignatures(const std::vector<SignatureRecord>& records);
    const std::vector<SignatureRecord>& Settings() const { return settings_; }

    // List starts whose structure does not hold (marked partial) instead of dropping them.
    bool keepPartial = false;

    // Scans the whole volume. onFound is called for each file as it is found
    // (starts relative to the volume). False when there is nothing to look for.
    bool CarveVolume(const VolumeView& volume, ProgressSink& progress,
                     JobControl* control, const std::function<void(const FoundFile&)>& onFound);

    const std::vector<FoundFile>& Found() const { return found_; }
    const CarveSummary& Summary() const { return summary_; }
    // Files found per category in the last run.
    const std::map<std::string, std::uint64_t>& CategoryCounts() const { return categoryCounts_; }

    // "1048576 .jpg": the file's start and its type's extension.
    std::string ItemName(const FoundFile& file) const;
    std::string Category(const FoundFile& file) const;
    std::string Extension(const FoundFile& file) const;

private:
    struct Pattern {
        std::vector<std::uint8_t> bytes;
        bool Matches(const std::uint8_t* at, std::size_t available) const;
    };
    void Emit(FoundFile file, const std::function<void(const FoundFile&)>& onFound);

    std::vector<SignatureRecord> settings_;
    std::vector<CarveFormat> formats_;
    std::vector<FoundFile> found_;
    std::map<std::string, std::uint64_t> categoryCounts_;
    CarveSummary summary_;
};

}  // namespace tarnwell
