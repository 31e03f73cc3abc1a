#pragma once
// The one reader through which every byte of a source is read. Positions are
// bytes relative to baseOffset, so a parser can address its volume from 0.
// Sources are only ever read: no implementation opens anything for writing.
//
// A read never leaves stale bytes behind: whatever could not be read (past the
// end, cut off by a source that shrank, or refused by the device) is zero in
// the destination and counted, in bytes and in sectors, so that a job can
// report it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwell {

inline constexpr std::size_t kSectorSize = 512;

class SectorReader {
public:
    virtual ~SectorReader() = default;

    virtual bool Open(const std::string& path) = 0;

    // Reads count bytes at the current position and moves past them. True only
    // when every byte was read.
    bool Read(void* destination, std::size_t count);
    // origin 0: from baseOffset; 1: from the current position; 2: from the end.
    bool Seek(std::int64_t offset, int origin = 0);
    // Reads count bytes at baseOffset + offset without moving the position;
    // safe to call from several threads at once.
    bool ReadAt(std::int64_t offset, void* destination, std::size_t count);

    void SetBaseOffset(std::int64_t bytes) { baseOffset_ = bytes; }
    std::int64_t baseOffset() const { return baseOffset_; }
    std::int64_t Position() const { return position_; }

    // Length in bytes of what is open (0 when nothing is).
    std::uint64_t fileLength() const { return length_; }
    // Whole 512-byte sectors of what is open.
    std::uint64_t deviceSectorCount() const { return length_ / kSectorSize; }

    // Sectors that could not be read since the last reset: refused by the
    // device, or past the end of the source.
    std::uint64_t FailedSectors() const { return failedSectors_.load(); }
    void ResetFailedSectors() { failedSectors_ = 0; }
    // Bytes handed out as zeros because they could not be read (never reset),
    // so that a caller can tell how much of one file was lost.
    std::uint64_t UnreadableBytes() const { return unreadableBytes_.load(); }

protected:
    friend class ReaderDecorator;
    enum class RawStatus { Ok, EndOfData, Error };
    struct RawResult {
        RawStatus status;
        std::size_t bytes;  // bytes delivered, also for EndOfData
    };
    // Reads from an absolute byte position. A short count with status Ok is
    // allowed; the caller asks again for the rest.
    virtual RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) = 0;

    void SetLength(std::uint64_t bytes) { length_ = bytes; }

private:
    bool ReadAbsolute(std::int64_t position, unsigned char* destination, std::size_t count);
    bool ReadSectorBySector(std::uint64_t position, unsigned char* destination, std::size_t count);
    // Zeros for count bytes at position that the source does not hold, counted.
    void Missing(std::uint64_t position, unsigned char* destination, std::size_t count);

    std::int64_t baseOffset_ = 0;
    std::int64_t position_ = 0;
    std::uint64_t length_ = 0;
    std::atomic<std::uint64_t> failedSectors_{0};
    std::atomic<std::uint64_t> unreadableBytes_{0};
};

}  // namespace tarnwell
