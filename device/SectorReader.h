#pragma once
// The one reader through which every byte of a source is read. Positions are
// absolute bytes of the source and reads keep no position, so several threads
// may read one source; a volume is addressed through a VolumeView.
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

    // Reads count bytes at position; safe to call from several threads at once.
    // True only when every byte was read.
    bool ReadAt(std::int64_t position, void* destination, std::size_t count);
    // The same, with the bytes from end on (a volume's end) zero and counted
    // as past the end of the source.
    bool ReadBefore(std::uint64_t end, std::int64_t position, void* destination, std::size_t count);

    // Length in bytes of what is open (0 when nothing is).
    std::uint64_t fileLength() const { return length_; }
    // Whole 512-byte sectors of what is open.
    std::uint64_t deviceSectorCount() const { return length_ / kSectorSize; }
    // The logical sector size the source reports (a block device's, or the one a
    // container records); 0 when it reports none.
    std::uint32_t ReportedSectorSize() const { return reportedSectorSize_; }

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
    void SetReportedSectorSize(std::uint32_t bytes) { reportedSectorSize_ = bytes; }

private:
    bool ReadAbsolute(std::int64_t position, unsigned char* destination, std::size_t count, std::uint64_t end);
    bool ReadSectorBySector(std::uint64_t position, unsigned char* destination, std::size_t count);
    // Zeros for count bytes at position that the source does not hold, counted.
    void Missing(std::uint64_t position, unsigned char* destination, std::size_t count);

    std::uint64_t length_ = 0;
    std::uint32_t reportedSectorSize_ = 0;
    std::atomic<std::uint64_t> failedSectors_{0};
    std::atomic<std::uint64_t> unreadableBytes_{0};
};

}  // namespace tarnwell
