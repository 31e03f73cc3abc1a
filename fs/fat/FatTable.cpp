#include "fs/fat/FatTable.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

namespace {
constexpr std::size_t kChunk = 12u << 20;  // bytes per read of the table: whole entries of 12, 16 and 32 bits

unsigned BitsOf(FatKind kind) { return kind == FatKind::Fat12 ? 12 : kind == FatKind::Fat16 ? 16 : 32; }

bool AllZero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}
}  // namespace

void FatTable::SetKind(FatKind kind) {
    switch (kind) {
        case FatKind::Fat12: bad_ = 0xFF7; endMin_ = 0xFF8; break;
        case FatKind::Fat16: bad_ = 0xFFF7; endMin_ = 0xFFF8; break;
        case FatKind::Fat32: bad_ = 0x0FFFFFF7; endMin_ = 0x0FFFFFF8; break;
    }
}

bool FatTable::Load(const VolumeView& reader, const FatBootParameters& p, unsigned activeFat) {
    SetKind(p.kind);
    entries_.clear();
    stamps_.clear();
    limit_ = 0;
    complete_ = true;

    const unsigned bits = BitsOf(p.kind);
    const std::uint64_t fatBytes = std::uint64_t(p.sectorsPerFat) * p.bytesPerSector;
    if (activeFat >= p.fatCount) activeFat = 0;
    const std::uint64_t offset = p.FatOffset() + activeFat * fatBytes;
    const std::uint64_t mirror = p.FatOffset() + (activeFat == 0 ? 1 : 0) * fatBytes;
    const bool hasMirror = p.fatCount >= 2;

    // Entries of clusters 0 .. clusterCount + 1, as far as the table and the source reach.
    std::uint64_t wanted = p.clusterCount + 2;
    std::uint64_t needBytes = std::min<std::uint64_t>((wanted * bits + 7) / 8, fatBytes);
    const std::uint64_t held = reader.Available();
    if (reader.source().fileLength() > 0) {
        std::uint64_t available = held > offset ? held - offset : 0;
        needBytes = std::min(needBytes, available);
    }
    if (needBytes == 0) return false;

    // Read and decoded a piece at a time, so that the largest table FAT32 can
    // have (a GiB of entries) never needs its raw bytes beside it.
    std::uint64_t count = std::min<std::uint64_t>(wanted, needBytes * 8 / bits);
    entries_.resize(static_cast<std::size_t>(count));
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> other;
    for (std::uint64_t at = 0; at < needBytes; at += kChunk) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, needBytes - at));
        raw.resize(n);
        std::uint8_t* dst = raw.data();
        if (!reader.ReadAt(static_cast<std::int64_t>(offset + at), dst, n)) {
            complete_ = false;
            if (hasMirror) {
                // Sectors of this copy that could not be read come back as zeros;
                // take those from the other copy.
                other.resize(n);
                reader.ReadAt(static_cast<std::int64_t>(mirror + at), other.data(), n);
                for (std::size_t s = 0; s < n; s += kSectorSize) {
                    std::size_t len = std::min(kSectorSize, n - s);
                    if (AllZero(dst + s, len)) std::memcpy(dst + s, other.data() + s, len);
                }
            }
        }
        // kChunk holds whole entries of every width, so a piece starts at an
        // entry (an even one for FAT12).
        ByteView v(raw);
        const std::uint64_t first = at * 8 / bits;
        const std::uint64_t last = std::min<std::uint64_t>(count, (at + n) * 8 / bits);
        for (std::uint64_t c = first; c < last; ++c) {
            const std::uint64_t k = c - first;
            std::uint32_t value;
            if (bits == 12) {
                std::uint16_t pair = v.Le16(static_cast<std::size_t>(k + k / 2));
                value = (k & 1) ? pair >> 4 : pair & 0x0FFF;
            } else if (bits == 16) {
                value = v.Le16(static_cast<std::size_t>(k * 2));
            } else {
                value = v.Le32(static_cast<std::size_t>(k * 4)) & 0x0FFFFFFF;
            }
            entries_[static_cast<std::size_t>(c)] = value;
        }
    }
    limit_ = static_cast<std::uint32_t>(count);
    return true;
}

void FatTable::SetForTest(FatKind kind, std::vector<std::uint32_t> entries, std::uint32_t clusterCount) {
    SetKind(kind);
    entries_ = std::move(entries);
    entries_.resize(std::size_t(clusterCount) + 2, 0);
    limit_ = clusterCount + 2;
    stamps_.clear();
    complete_ = true;
}

std::vector<ClusterRun> FatTable::Chain(std::uint32_t start, std::uint64_t maxClusters, ChainEnd& end) const {
    std::vector<ClusterRun> runs;
    end = ChainEnd::OutOfRange;
    if (!Exists(start)) return runs;
    if (stamps_.size() != entries_.size()) stamps_.assign(entries_.size(), 0);
    if (++epoch_ == 0) {  // the stamps wrapped: start afresh
        std::fill(stamps_.begin(), stamps_.end(), 0);
        epoch_ = 1;
    }
    std::uint32_t c = start;
    std::uint64_t taken = 0;
    for (;;) {
        if (taken >= maxClusters) {
            end = ChainEnd::Limit;
            break;
        }
        if (stamps_[c] == epoch_) {
            end = ChainEnd::Loop;
            break;
        }
        stamps_[c] = epoch_;
        if (!runs.empty() && runs.back().first + runs.back().count == c)
            ++runs.back().count;
        else
            runs.push_back({c, 1});
        ++taken;
        std::uint32_t next = entries_[c];
        if (IsEnd(next)) {
            end = ChainEnd::EndMark;
            break;
        }
        if (next == 0) {
            end = ChainEnd::Free;
            break;
        }
        if (IsBad(next)) {
            end = ChainEnd::Bad;
            break;
        }
        if (!Exists(next)) {
            end = ChainEnd::OutOfRange;
            break;
        }
        c = next;
    }
    return runs;
}

}  // namespace tarnwell
