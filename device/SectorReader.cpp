#include "device/SectorReader.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

bool SectorReader::ReadAt(std::int64_t position, void* destination, std::size_t count) {
    return ReadAbsolute(position, static_cast<unsigned char*>(destination), count, length_);
}

bool SectorReader::ReadBefore(std::uint64_t end, std::int64_t position, void* destination, std::size_t count) {
    return ReadAbsolute(position, static_cast<unsigned char*>(destination), count, std::min(end, length_));
}

bool SectorReader::ReadAbsolute(std::int64_t position, unsigned char* destination, std::size_t count,
                                std::uint64_t length) {
    if (count == 0) return true;
    if (position < 0) {
        std::memset(destination, 0, count);
        unreadableBytes_ += count;
        failedSectors_ += (count + kSectorSize - 1) / kSectorSize;
        return false;
    }
    const auto at = static_cast<std::uint64_t>(position);
    // Bytes past the source's end are as lost as a refused sector: a caller
    // that asked for them wanted data that is not there (a short image, a
    // volume or a run reaching past the source or its volume).
    const std::size_t inside = at >= length ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, length - at));
    std::size_t done = 0;
    while (done < inside) {
        RawResult r = ReadRaw(at + done, destination + done, inside - done);
        done += std::min(r.bytes, inside - done);
        if (r.status == RawStatus::Error) {
            // Salvage what can be read around the bad area, one sector at a time.
            bool ok = ReadSectorBySector(at + done, destination + done, inside - done);
            if (inside == count) return ok;
            Missing(at + inside, destination + inside, count - inside);
            return false;
        }
        // The source ended early: it is shorter than when it was opened.
        if (r.status == RawStatus::EndOfData || r.bytes == 0) break;
    }
    if (done == count) return true;
    Missing(at + done, destination + done, count - done);
    return false;
}

void SectorReader::Missing(std::uint64_t position, unsigned char* destination, std::size_t count) {
    std::memset(destination, 0, count);
    unreadableBytes_ += count;
    failedSectors_ += (position + count - 1) / kSectorSize - position / kSectorSize + 1;
}

bool SectorReader::ReadSectorBySector(std::uint64_t position, unsigned char* destination,
                                            std::size_t count) {
    bool ok = true;
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t at = position + done;
        std::size_t toBoundary = kSectorSize - static_cast<std::size_t>(at % kSectorSize);
        std::size_t piece = std::min(toBoundary, count - done);
        std::size_t got = 0;
        RawStatus status = RawStatus::Ok;
        while (got < piece) {
            RawResult r = ReadRaw(at + got, destination + done + got, piece - got);
            got += std::min(r.bytes, piece - got);
            status = r.status;
            if (status != RawStatus::Ok || r.bytes == 0) break;
        }
        if (got < piece) {
            ok = false;
            if (status != RawStatus::Error) {  // the source ended here
                Missing(at + got, destination + done + got, count - done - got);
                return false;
            }
            std::memset(destination + done + got, 0, piece - got);
            ++failedSectors_;
            unreadableBytes_ += piece - got;
        }
        done += piece;
    }
    return ok;
}

}  // namespace tarnwell
