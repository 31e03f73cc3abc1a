#include "carve/Carver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "carve/VolumeCursor.h"

namespace tarnwell {

namespace {
constexpr std::uint64_t kBlock = 4 << 20;
constexpr std::uint64_t kSector = 512;
constexpr std::size_t kMaxPending = 16;
// Bounds for types that give no approximate size.
constexpr std::uint64_t kDefaultPendingLimit = 64ULL << 20;
constexpr std::uint64_t kDefaultStructureLimit = 1ULL << 30;

std::uint64_t AlignUp(std::uint64_t v) { return (v + kSector - 1) / kSector * kSector; }
}  // namespace

bool Carver::Pattern::Matches(const std::uint8_t* at, std::size_t available) const {
    if (bytes.size() > available) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != 0x2A && bytes[i] != at[i]) return false;
    return true;
}

std::vector<std::string> Carver::AddSignatures(const std::vector<SignatureRecord>& records) {
    std::vector<std::string> refused;
    for (const auto& r : records) {
        if (settings_.size() >= kMaxSignatureTypes) {
            refused.push_back("type " + r.extension + ": at most 128 types can be loaded in all");
            continue;
        }
        settings_.push_back(r);
        formats_.push_back(FormatOf(r.extension, r.start));
    }
    return refused;
}

std::string Carver::Extension(const FoundFile& f) const {
    return f.type < settings_.size() ? settings_[f.type].extension : std::string();
}

std::string Carver::Category(const FoundFile& f) const {
    return f.type < settings_.size() ? settings_[f.type].category : std::string();
}

std::string Carver::ItemName(const FoundFile& f) const {
    char text[48];
    std::snprintf(text, sizeof text, "%lld .", static_cast<long long>(f.start));
    return text + Extension(f);
}

void Carver::Emit(FoundFile file, const std::function<void(const FoundFile&)>& onFound) {
    found_.push_back(file);
    ++categoryCounts_[Category(file)];
    ++summary_.filesFound;
    if (onFound) onFound(file);
}

bool Carver::CarveVolume(const VolumeView& reader, ProgressSink& progress, JobControl* control,
                         const std::function<void(const FoundFile&)>& onFound) {
    const std::uint64_t volumeBytes = reader.length();
    if (settings_.empty() || volumeBytes == 0) return false;
    summary_ = {};
    categoryCounts_.clear();
    for (const auto& s : settings_) categoryCounts_[s.category];
    const std::uint64_t failedBefore = reader.FailedSectors();

    // Which types can start with each byte: one lookup per sector start.
    std::vector<Pattern> starts, ends;
    std::vector<std::vector<std::uint8_t>> byFirstByte(256);
    std::vector<std::uint8_t> anyFirstByte;
    std::size_t longest = 1;
    for (std::size_t t = 0; t < settings_.size(); ++t) {
        starts.push_back({settings_[t].start});
        ends.push_back({settings_[t].end});
        longest = std::max({longest, settings_[t].start.size(), settings_[t].end.size()});
        if (settings_[t].start.size() < 2) continue;  // a single byte would match everywhere
        if (settings_[t].start[0] == 0x2A)
            anyFirstByte.push_back(static_cast<std::uint8_t>(t));
        else
            byFirstByte[settings_[t].start[0]].push_back(static_cast<std::uint8_t>(t));
    }
    const std::uint64_t overlap = longest - 1;

    std::vector<std::vector<std::uint64_t>> pending(settings_.size());
    std::vector<std::uint64_t> searchFrom(settings_.size(), 0);
    std::size_t pendingCount = 0;  // starts waiting for their end, all types together
    VolumeCursor cursor(reader, volumeBytes);
    std::vector<std::uint8_t> buf;
    progress.SetRange(0, 1000);

    auto pendingLimit = [&](std::size_t t) {
        return settings_[t].approximateSize > 0 ? std::uint64_t(settings_[t].approximateSize) : kDefaultPendingLimit;
    };
    auto emitCut = [&](std::size_t t, std::uint64_t start) {
        if (!keepPartial) return;
        std::uint64_t length = std::min(pendingLimit(t), volumeBytes - start);
        Emit({static_cast<std::int64_t>(start), static_cast<std::int64_t>(length), static_cast<std::uint8_t>(t), true},
             onFound);
    };

    std::uint64_t s = 0;  // the next sector start to test
    for (std::uint64_t blockStart = 0; blockStart < volumeBytes;) {
        if (control && !control->Checkpoint()) {
            summary_.stopped = true;
            break;
        }
        progress.SetPosition(static_cast<std::int64_t>(blockStart * 1000 / volumeBytes));
        const std::uint64_t blockEnd = std::min(blockStart + kBlock, volumeBytes);
        const std::size_t n = static_cast<std::size_t>(std::min(kBlock + overlap, volumeBytes - blockStart));
        buf.resize(n);
        reader.ReadAt(static_cast<std::int64_t>(blockStart), buf.data(), n);
        summary_.bytesScanned += blockEnd - blockStart;

        // Ends of pending types that begin before limit, in this buffer.
        auto resolveEnds = [&](std::uint64_t limit) {
            if (pendingCount == 0) return;
            for (std::size_t t = 0; t < pending.size(); ++t) {
                auto& stack = pending[t];
                const Pattern& end = ends[t];
                while (!stack.empty()) {
                    if (limit - stack.back() > pendingLimit(t) + kSector) {  // expired: it never ended
                        emitCut(t, stack.back());
                        stack.pop_back();
                        --pendingCount;
                        continue;
                    }
                    std::uint64_t from = std::max(searchFrom[t], blockStart);
                    std::uint64_t hit = limit;
                    const std::uint8_t first = end.bytes[0];
                    for (std::uint64_t p = from; p < limit;) {
                        std::size_t at = static_cast<std::size_t>(p - blockStart);
                        std::size_t span = static_cast<std::size_t>(limit - p);
                        if (first != 0x2A) {
                            auto* f = static_cast<const std::uint8_t*>(std::memchr(buf.data() + at, first, span));
                            if (f == nullptr) break;
                            at = static_cast<std::size_t>(f - buf.data());
                            p = blockStart + at;
                        }
                        if (end.Matches(buf.data() + at, n - at)) {
                            hit = p;
                            break;
                        }
                        ++p;
                    }
                    if (hit >= limit) {
                        searchFrom[t] = limit;
                        break;
                    }
                    std::uint64_t start = stack.back();
                    stack.pop_back();
                    --pendingCount;
                    std::uint64_t fileEnd = hit + end.bytes.size();
                    Emit({static_cast<std::int64_t>(start), static_cast<std::int64_t>(fileEnd - start),
                          static_cast<std::uint8_t>(t), false},
                         onFound);
                    searchFrom[t] = fileEnd;
                    s = std::max(s, AlignUp(fileEnd));
                }
            }
        };

        while (s < blockEnd) {
            resolveEnds(std::min(s, blockEnd));
            if (s >= blockEnd) break;
            const std::size_t at = static_cast<std::size_t>(s - blockStart);
            const std::size_t available = n - at;
            int match = -1;
            auto consider = [&](const std::vector<std::uint8_t>& types) {
                for (std::uint8_t t : types)
                    if ((match < 0 || t < match) && starts[t].Matches(buf.data() + at, available)) match = t;
            };
            consider(byFirstByte[buf[at]]);
            consider(anyFirstByte);
            if (match < 0) {
                s += kSector;
                continue;
            }
            const std::size_t t = static_cast<std::size_t>(match);
            const SignatureRecord& r = settings_[t];
            const auto type = static_cast<std::uint8_t>(t);
            if (formats_[t] != CarveFormat::None) {
                std::uint64_t limit = r.approximateSize > 0 ? s + std::uint64_t(r.approximateSize) : s + kDefaultStructureLimit;
                if (auto length = MeasureFile(formats_[t], cursor, s, limit)) {
                    Emit({static_cast<std::int64_t>(s), static_cast<std::int64_t>(*length), type, false}, onFound);
                    s = AlignUp(s + *length);
                } else {
                    emitCut(t, s);
                    s += kSector;
                }
            } else if (!r.end.empty()) {
                auto& stack = pending[t];
                if (stack.size() == kMaxPending) {
                    stack.erase(stack.begin());
                    --pendingCount;
                }
                stack.push_back(s);
                ++pendingCount;
                searchFrom[t] = std::max(searchFrom[t], s + r.start.size());
                s += kSector;
            } else if (r.sizeBytes > 0) {
                std::uint64_t size = cursor.Le(s + std::uint64_t(r.sizeOffset), r.sizeBytes);
                std::uint64_t length = size + (r.sizeIncludesHeader ? 0 : std::uint64_t(r.headerSize));
                bool plausible = size > 0 && (r.approximateSize <= 0 || length <= std::uint64_t(r.approximateSize));
                if (!plausible) {
                    s += kSector;
                    continue;
                }
                bool cut = length > volumeBytes - s;
                length = std::min(length, volumeBytes - s);
                if (!cut || keepPartial) Emit({static_cast<std::int64_t>(s), static_cast<std::int64_t>(length), type, cut}, onFound);
                s = AlignUp(s + length);
            } else {
                std::uint64_t length = std::min(std::uint64_t(r.approximateSize), volumeBytes - s);
                Emit({static_cast<std::int64_t>(s), static_cast<std::int64_t>(length), type, false}, onFound);
                s += std::max<std::uint64_t>(kSector, std::uint64_t(r.skipSize) / kSector * kSector);
            }
        }
        resolveEnds(std::min(s, blockEnd));
        // A skip may pass whole blocks: they are not read at all.
        blockStart = std::max(blockStart + kBlock, s / kBlock * kBlock);
    }
    if (!summary_.stopped)
        for (std::size_t t = 0; t < pending.size(); ++t)
            for (std::uint64_t start : pending[t]) emitCut(t, start);
    progress.SetPosition(1000);
    summary_.unreadableSectors = reader.FailedSectors() - failedBefore;
    return true;
}

}  // namespace tarnwell
