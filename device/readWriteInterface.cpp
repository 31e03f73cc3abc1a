#include "device/readWriteInterface.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

bool readWriteInterface::Read(void* destination, std::size_t count) {
    bool ok = ReadAbsolute(position_, static_cast<unsigned char*>(destination), count);
    // Move past the whole request even when part of it failed: the caller got
    // zeros for it, and a sequential reader must not stall on a bad area.
    position_ += static_cast<std::int64_t>(count);
    return ok;
}

bool readWriteInterface::Seek(std::int64_t offset, int origin) {
    std::int64_t target;
    switch (origin) {
        case 0: target = baseOffset_ + offset; break;
        case 1: target = position_ + offset; break;
        case 2: target = static_cast<std::int64_t>(length_) + offset; break;
        default: return false;
    }
    if (target < 0) return false;
    position_ = target;
    return true;
}

bool readWriteInterface::ReadAt(std::int64_t offset, void* destination, std::size_t count) {
    return ReadAbsolute(baseOffset_ + offset, static_cast<unsigned char*>(destination), count);
}

bool readWriteInterface::ReadAbsolute(std::int64_t position, unsigned char* destination,
                                      std::size_t count) {
    if (count == 0) return true;
    if (position < 0) {
        std::memset(destination, 0, count);
        return false;
    }
    std::size_t done = 0;
    auto at = static_cast<std::uint64_t>(position);
    while (done < count) {
        RawResult r = ReadRaw(at + done, destination + done, count - done);
        done += std::min(r.bytes, count - done);
        if (r.status == RawStatus::EndOfData) {
            std::memset(destination + done, 0, count - done);
            return false;
        }
        if (r.status == RawStatus::Error) {
            // Salvage what can be read around the bad area, one sector at a time.
            return ReadSectorBySector(at + done, destination + done, count - done);
        }
        if (r.bytes == 0) {  // no progress and no error: treat as the end
            std::memset(destination + done, 0, count - done);
            return false;
        }
    }
    return true;
}

bool readWriteInterface::ReadSectorBySector(std::uint64_t position, unsigned char* destination,
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
            std::memset(destination + done + got, 0, piece - got);
            ok = false;
            if (status == RawStatus::Error) {
                ++failedSectors_;
                unreadableBytes_ += piece - got;
            } else {
                std::memset(destination + done + piece, 0, count - done - piece);
                return false;
            }
        }
        done += piece;
    }
    return ok;
}

}  // namespace tarnwell
