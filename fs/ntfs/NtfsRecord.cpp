#include "fs/ntfs/NtfsRecord.h"

#include <bit>

#include "core/TextEncoding.h"

namespace tarnwell::ntfsfmt {

namespace {
constexpr std::size_t kFixupStride = 512;

// Rank of a $FILE_NAME namespace: lower is preferred. DOS 8.3 names come last.
int NameRank(std::uint8_t nameSpace) { return nameSpace == 2 ? 1 : 0; }
}  // namespace

bool UsableRecordSize(std::uint64_t size) { return std::has_single_bit(size) && size >= 256 && size <= 65536; }

std::optional<BootSector> DecodeBootSector(ByteView b) {
    if (!b.Has(0, 512) || !b.Matches(3, "NTFS")) return std::nullopt;
    BootSector boot;
    boot.bytesPerSector = b.Le16(11);
    if (!std::has_single_bit(boot.bytesPerSector) || boot.bytesPerSector < 256 || boot.bytesPerSector > 4096)
        return std::nullopt;
    std::uint8_t spc = b.U8(13);
    std::uint64_t sectorsPerCluster = spc <= 0x80 ? spc : (1ULL << (256 - spc));
    if (!std::has_single_bit(sectorsPerCluster)) return std::nullopt;
    boot.clusterSize = sectorsPerCluster * boot.bytesPerSector;
    if (boot.clusterSize > (2ULL << 20)) return std::nullopt;
    boot.totalSectors = b.Le64(40);
    boot.mftLcn = b.Le64(48);
    boot.mftMirrorLcn = b.Le64(56);
    auto perRecord = static_cast<std::int8_t>(b.U8(64));
    std::uint64_t recordSize = 0;
    if (perRecord > 0)
        recordSize = static_cast<std::uint64_t>(perRecord) * boot.clusterSize;
    else if (perRecord < 0 && perRecord > -31)
        recordSize = 1ULL << (-perRecord);
    boot.recordSize = UsableRecordSize(recordSize) ? static_cast<std::uint32_t>(recordSize) : kDefaultRecordSize;
    return boot;
}

FixupResult ApplyFixups(std::uint8_t* record, std::size_t size) {
    ByteView r(record, size);
    std::size_t usaOffset = r.Le16(4);
    std::size_t count = r.Le16(6);
    if (count < 2 || !r.Has(usaOffset, count * 2) || (usaOffset & 1) != 0) return FixupResult::Damaged;
    std::size_t strides = std::min(count - 1, size / kFixupStride);
    std::uint16_t check = r.Le16(usaOffset);
    bool torn = false;
    for (std::size_t i = 1; i <= strides; ++i) {
        std::size_t end = i * kFixupStride - 2;
        std::uint16_t onDisk = static_cast<std::uint16_t>(record[end] | (record[end + 1] << 8));
        if (onDisk != check) torn = true;
        record[end] = record[usaOffset + 2 * i];
        record[end + 1] = record[usaOffset + 2 * i + 1];
    }
    return torn ? FixupResult::Torn : FixupResult::Ok;
}

ByteView Attribute::Value() const {
    if (nonResident) return {};
    std::uint32_t length = bytes.Le32(16);
    std::uint16_t offset = bytes.Le16(20);
    if (offset >= bytes.size()) return {};
    return bytes.Sub(offset, length);
}

ByteView Attribute::MappingPairs() const {
    if (!nonResident) return {};
    std::uint16_t offset = bytes.Le16(32);
    if (offset >= bytes.size()) return {};
    return bytes.Sub(offset);
}

std::vector<Attribute> Attributes(ByteView record) {
    std::vector<Attribute> out;
    ForEachAttribute(record, [&](const Attribute& a) { out.push_back(a); });
    return out;
}

UnixTime FromFileTime(std::uint64_t fileTime) {
    constexpr std::int64_t kEpochDelta = 11644473600LL;  // 1601 to 1970, seconds
    auto seconds = static_cast<std::int64_t>(fileTime / 10000000ULL) - kEpochDelta;
    auto nanos = static_cast<std::uint32_t>((fileTime % 10000000ULL) * 100);
    return {seconds, nanos};
}

void OfferName(RecordSummary& s, ByteView v) {
    // $FILE_NAME: 0 parent, 40 allocated, 48 real size, 56 flags, 64 length, 65 namespace, 66 name.
    if (!v.Has(0, 66)) return;
    std::uint8_t length = v.U8(64);
    std::uint8_t nameSpace = v.U8(65);
    if (!v.Has(66, length * 2u)) return;
    if (s.hasName && NameRank(nameSpace) >= NameRank(s.nameSpace)) return;
    s.hasName = true;
    s.nameSpace = nameSpace;
    s.name = Utf16LeToUtf8(v, 66, length, false);
    s.parentReference = v.Le64(0);
    s.nameAttributes = v.Le32(56);
    s.nameAllocatedSize = v.Le64(40);
}

RecordSummary SummarizeRecord(std::uint8_t* record, std::size_t size) {
    RecordSummary s;
    ByteView r(record, size);
    if (!IsRecordSignature(r)) return s;
    s.fileSignature = true;
    s.torn = ApplyFixups(record, size) != FixupResult::Ok;
    s.flags = r.Le16(22);
    s.sequence = r.Le16(16);
    s.baseReference = r.Le64(32);
    if (r.Le16(4) >= 48) {
        s.hasRecordNumber = true;
        s.recordNumber = r.Le32(44);
    }
    ForEachAttribute(r, [&](const Attribute& a) {
        switch (a.type) {
            case kStandardInformation: {
                ByteView v = a.Value();
                if (!v.Has(0, 32)) break;
                s.hasTimes = true;
                s.created = v.Le64(0);
                s.modified = v.Le64(8);
                s.accessed = v.Le64(24);
                if (v.Has(32, 4)) {
                    s.hasStandardAttributes = true;
                    s.standardAttributes = v.Le32(32);
                }
                break;
            }
            case kFileName:
                if (!a.nonResident) OfferName(s, a.Value());
                break;
            case kData:
                if (a.nameLength != 0) break;  // a named stream, not the file's data
                if (!a.nonResident) {
                    s.hasData = true;
                    s.dataSize = a.bytes.Le32(16);
                    s.dataAllocated = s.dataSize;
                } else if (a.StartVcn() == 0) {
                    s.hasData = true;
                    s.dataSize = a.RealSize();
                    s.dataAllocated = a.AllocatedSize();
                }
                break;
            case kAttributeList:
                s.hasAttributeList = true;
                break;
            default:
                break;
        }
    });
    return s;
}

}  // namespace tarnwell::ntfsfmt
