#pragma once
// NTFS on-disk structures below the file tree: the boot sector, file records
// with their update-sequence fixups, and the attribute headers inside them.
// Everything is decoded from bytes through ByteView; all values little-endian.
//
// Boot sector (offsets in bytes):
//   3   4  "NTFS"                 40  8  total sectors
//   11  2  bytes per sector       48  8  LCN of the MFT
//   13  1  sectors per cluster    56  8  LCN of the MFT mirror
//          (> 0x80: 2^(256 - v))  64  1  clusters per file record (< 0: 2^-v bytes)
//
// File record header:
//   0   4  "FILE"                 22  2  flags: 0x1 in use, 0x2 directory
//   4   2  update sequence offset 24  4  bytes in use
//   6   2  update sequence count  28  4  bytes allocated (the record size)
//   16  2  sequence number        32  8  base record reference (0: a base record)
//   20  2  first attribute offset 44  4  own record number (NTFS 3.1, usa at >= 48)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ByteView.h"

namespace tarnwell::ntfsfmt {

inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kFileName = 0x30;
inline constexpr std::uint32_t kData = 0x80;
inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
inline constexpr std::uint32_t kDefaultRecordSize = 1024;
inline constexpr std::uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFULL;

struct BootSector {
    std::uint32_t bytesPerSector = 512;
    std::uint64_t clusterSize = 4096;
    std::uint64_t totalSectors = 0;
    std::uint64_t mftLcn = 0;
    std::uint64_t mftMirrorLcn = 0;
    std::uint32_t recordSize = kDefaultRecordSize;  // 1024 when the field is not usable
    std::uint64_t VolumeBytes() const { return totalSectors * bytesPerSector; }
};

// Nothing when the bytes are no NTFS boot sector or its geometry is impossible.
std::optional<BootSector> DecodeBootSector(ByteView bytes);

// A record size that a volume can have: a power of two from 256 bytes to 64 KiB.
bool UsableRecordSize(std::uint64_t size);

enum class FixupResult {
    Ok,
    Torn,     // a sector's check value did not match: written only in part
    Damaged,  // the update sequence array lies outside the record; nothing replaced
};

// Applies every entry of the update sequence array in place: entry i holds the
// true last two bytes of the record's 512-byte stride i - 1.
FixupResult ApplyFixups(std::uint8_t* record, std::size_t size);

// One attribute header inside a fixed-up record.
struct Attribute {
    std::uint32_t type = 0;
    std::size_t offset = 0;  // from the record's start
    std::size_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;
    std::uint16_t flags = 0;  // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
    ByteView bytes;           // the whole attribute

    // Resident: the value, clipped to the attribute.
    ByteView Value() const;
    // Non-resident fields.
    std::uint64_t StartVcn() const { return bytes.Le64(16); }
    std::uint64_t LastVcn() const { return bytes.Le64(24); }
    std::uint16_t CompressionUnit() const { return bytes.Le16(34); }
    std::uint64_t AllocatedSize() const { return bytes.Le64(40); }
    std::uint64_t RealSize() const { return bytes.Le64(48); }
    std::uint64_t InitializedSize() const { return bytes.Le64(56); }
    ByteView MappingPairs() const;
};

// Calls visit(const Attribute&) for the record's attributes in order, up to the
// end marker or the first header that does not fit.
template <typename Visit>
void ForEachAttribute(ByteView record, Visit&& visit) {
    std::size_t limit = record.size();
    std::uint32_t inUse = record.Le32(24);
    if (inUse >= 24 && inUse < limit) limit = inUse;
    std::size_t offset = record.Le16(20);
    while (offset + 16 <= limit) {
        std::uint32_t type = record.Le32(offset);
        if (type == kEndMarker) break;
        std::uint32_t length = record.Le32(offset + 4);
        if (length < 16 || length > limit - offset) break;
        Attribute a;
        a.type = type;
        a.offset = offset;
        a.length = length;
        a.nonResident = record.U8(offset + 8) != 0;
        a.nameLength = record.U8(offset + 9);
        a.flags = record.Le16(offset + 12);
        a.bytes = record.Sub(offset, length);
        if (a.nonResident ? length >= 64 : length >= 24) visit(a);
        offset += length;
    }
}

std::vector<Attribute> Attributes(ByteView record);

inline bool IsRecordSignature(ByteView b) { return b.Matches(0, "FILE"); }

// Windows FILETIME (100 ns since 1601) to seconds and nanoseconds since 1970.
struct UnixTime {
    std::int64_t seconds;
    std::uint32_t nanoseconds;
};
UnixTime FromFileTime(std::uint64_t fileTime);

// What the scan keeps of one record.
struct RecordSummary {
    bool fileSignature = false;
    bool torn = false;
    std::uint16_t flags = 0;
    std::uint16_t sequence = 0;
    std::uint64_t baseReference = 0;  // 0 for a base record
    bool hasRecordNumber = false;
    std::uint32_t recordNumber = 0;

    bool hasTimes = false;
    std::uint64_t created = 0, modified = 0, accessed = 0;
    bool hasStandardAttributes = false;
    std::uint32_t standardAttributes = 0;

    bool hasName = false;
    std::string name;  // UTF-8
    std::uint8_t nameSpace = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::uint64_t parentReference = 0;
    std::uint32_t nameAttributes = 0;
    std::uint64_t nameAllocatedSize = 0;

    bool hasData = false;     // an unnamed $DATA starting at VCN 0
    std::uint64_t dataSize = 0;
    std::uint64_t dataAllocated = 0;
    bool hasAttributeList = false;

    bool InUse() const { return (flags & 0x0001) != 0; }
    bool IsFolder() const { return (flags & 0x0002) != 0 || (nameAttributes & 0x10000000) != 0; }
};

// Applies the fixups to record (a writable copy) and reads what the scan needs.
RecordSummary SummarizeRecord(std::uint8_t* record, std::size_t size);

// Offers a name of another $FILE_NAME to summary: a Win32 or POSIX name wins
// over a DOS one; otherwise the first one stays.
void OfferName(RecordSummary& summary, ByteView value);

}  // namespace tarnwell::ntfsfmt
