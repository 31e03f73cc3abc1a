#pragma once
// One volume of a source as a value: the source, where the volume begins, how
// long it is and the logical sector size it is addressed in. Every parser,
// carver and finder reads through its own view, so no reader carries a
// position or an offset that another user could move.
//
// Reads are relative to the volume. Bytes past the volume's end read as zeros
// and are counted on the source, as bytes past the source's end are.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "device/SectorReader.h"

namespace tarnwell {

class VolumeView {
public:
    VolumeView() = default;
    // length 0: to the end of the source.
    explicit VolumeView(SectorReader& source, std::uint64_t offset = 0, std::uint64_t length = 0,
                        std::uint32_t sectorSize = 512)
        : source_(&source), offset_(offset), sectorSize_(sectorSize == 0 ? 512 : sectorSize) {
        const std::uint64_t rest = source.fileLength() > offset ? source.fileLength() - offset : 0;
        length_ = length == 0 ? rest : length;
    }

    bool ReadAt(std::int64_t offset, void* destination, std::size_t count) const {
        const std::int64_t at = offset < 0 ? -1 : static_cast<std::int64_t>(offset_) + offset;
        return source_->ReadBefore(offset_ + length_, at, destination, count);
    }
    // Reads count bytes from the sector-th sector of the volume, in its own unit.
    bool ReadSectors(std::uint64_t sector, void* destination, std::size_t count) const;

    // The same source from offset bytes into this volume, length bytes long (0:
    // to this volume's end).
    VolumeView Sub(std::uint64_t offset, std::uint64_t length = 0) const;

    explicit operator bool() const { return source_ != nullptr; }
    SectorReader& source() const { return *source_; }
    std::uint64_t offset() const { return offset_; }
    std::uint64_t length() const { return length_; }
    std::uint32_t sectorSize() const { return sectorSize_; }
    std::uint64_t SectorCount() const { return length_ / sectorSize_; }
    // The bytes of the volume the source holds: less than length() when the
    // source ends inside the volume.
    std::uint64_t Available() const {
        const std::uint64_t end = source_ == nullptr ? 0 : source_->fileLength();
        return end <= offset_ ? 0 : std::min(length_, end - offset_);
    }
    std::uint64_t FailedSectors() const { return source_->FailedSectors(); }
    std::uint64_t UnreadableBytes() const { return source_->UnreadableBytes(); }

private:
    SectorReader* source_ = nullptr;
    std::uint64_t offset_ = 0;
    std::uint64_t length_ = 0;
    std::uint32_t sectorSize_ = 512;
};

}  // namespace tarnwell
