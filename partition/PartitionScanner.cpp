#include "partition/PartitionScanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "core/TextEncoding.h"
#include "device/AlignedBuffer.h"
#include "partition/FatBootSector.h"
#include "partition/FsKind.h"

namespace tarnwell {

namespace {

constexpr std::size_t kBlockSectors = 2048;  // the sector search reads 1 MiB at a time
constexpr int kMaxExtendedRecords = 50;
// Bounds for what a GPT header may ask us to read.
constexpr std::uint64_t kMaxGptArrayBytes = 4 << 20;
// Sector numbers beyond this would overflow a byte offset.
constexpr std::uint64_t kMaxSector = 1ULL << 54;

std::string Printf(const char* format, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Size texts as each scan writes them.
std::string MiBText(std::uint64_t bytes, const char* separator) {
    return Printf("%lld", static_cast<long long>(bytes >> 20)) + separator + "MB";
}

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// {name, what the MBR's entry is reported as, and a chain's} for an MBR
// partition type; nullptr is not reported.
struct TypeRow {
    FsType type;
    const char* mbrStatus;
    const char* chainStatus;
};

TypeRow TypeTable(std::uint8_t type) {
    switch (type) {
        case 0x01: return {FsType::Fat12, nullptr, nullptr};
        case 0x04: case 0x06: case 0x0E: return {FsType::Fat16, "fat16", "fat16"};
        case 0x07: return {FsType::Ntfs, "ntfs", "ntfs"};
        case 0x0B: case 0x0C: return {FsType::Fat32, "fat32", "fat32"};
        case 0x42: return {FsType::Ntfs, "dynamic", nullptr};
        case 0x83: return {FsType::Ext, "ext2", "ext"};
        default: return {FsType::Unknown, "unknown", "unknown"};
    }
}

// A volume named by its boot sector; NTFS volumes are counted.
Event StatusFor(BootKind kind, int ntfsCount) {
    Event e(Step::VolumeFound, kind == BootKind::Ntfs ? ntfsCount : 0);
    switch (kind) {
        case BootKind::Ntfs: return e.Kind("ntfs");
        case BootKind::Fat12: return e.Kind("fat12");
        case BootKind::Fat16: return e.Kind("fat16");
        case BootKind::Fat32: return e.Kind("fat32");
        case BootKind::ExFat: return e.Kind("exfat");
        case BootKind::HfsPlus: return e.Kind("hfsplus");
        case BootKind::Ext: return e.Kind("ext");
    }
    return {};
}

// The Microsoft reserved partition holds no file system.
bool IsMicrosoftReserved(ByteView entry, const std::string& name) {
    static constexpr std::uint8_t kType[16] = {0x16, 0xE3, 0xC9, 0xE3, 0x5C, 0x0B, 0xB8, 0x4D,
                                               0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE};
    return std::equal(kType, kType + 16, entry.data()) || name == "Microsoft reserved partition";
}

// GPT header: 0x00 "EFI PART", 0x0C header size, 0x48 first sector of the entry
// array (64-bit), 0x50 number of entries, 0x54 size of one entry.
struct GptHeader {
    std::uint64_t entryLba = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t entrySize = 0;
};

std::optional<GptHeader> ParseGptHeader(ByteView h, std::uint64_t deviceSectors, std::uint32_t unit) {
    if (!h.Has(0, 92) || !h.Matches(0, "EFI PART")) return std::nullopt;
    std::uint32_t headerSize = h.Le32(0x0C);
    if (headerSize < 92 || headerSize > unit) return std::nullopt;
    GptHeader g{h.Le64(0x48), h.Le32(0x50), h.Le32(0x54)};
    if (g.entrySize < 128 || g.entrySize % 8 != 0 || g.entrySize > 4096 || g.entryCount == 0) return std::nullopt;
    if (g.entryLba < 1 || g.entryLba >= deviceSectors) return std::nullopt;
    // Never read more than a sane array, nor past the end of the source.
    std::uint64_t maxEntries = kMaxGptArrayBytes / g.entrySize;
    std::uint64_t fit = (deviceSectors - g.entryLba) * unit / g.entrySize;
    g.entryCount = static_cast<std::uint32_t>(std::min<std::uint64_t>({g.entryCount, maxEntries, fit}));
    if (g.entryCount == 0) return std::nullopt;
    return g;
}

}  // namespace

bool ReadSectorsAt(SectorReader& reader, std::uint64_t sector, void* destination, std::size_t bytes,
                   std::uint32_t unit) {
    if (sector >= kMaxSector) {
        std::fill_n(static_cast<std::uint8_t*>(destination), bytes, 0);
        return false;
    }
    return reader.ReadAt(static_cast<std::int64_t>(sector * unit), destination, bytes);
}

std::optional<BootMatch> DetectVolumeAt(SectorReader& reader, std::uint64_t sector, std::uint32_t unit) {
    std::vector<std::uint8_t> start(4096);
    ReadSectorsAt(reader, sector, start.data(), start.size(), unit);  // what could not be read is zero
    return DetectVolume(start);
}

namespace {
// Whether an MBR entry's target holds what it should (a volume, or the extended
// partition's first record) when its sectors are unit bytes long.
bool EntryHoldsTarget(SectorReader& reader, std::uint8_t type, std::uint64_t first, std::uint32_t unit) {
    if (first == 0 || first >= kMaxSector || first * unit + 4096 > reader.fileLength()) return false;
    if (!IsExtended(type)) return DetectVolumeAt(reader, first, unit).has_value();
    std::uint8_t record[512];
    return ReadSectorsAt(reader, first, record, sizeof record, unit) && HoldsPartitionTable(ByteView(record, sizeof record));
}
}  // namespace

std::uint32_t MbrSectorSize(SectorReader& reader, ByteView mbr) {
    // The entries count in the drive's logical sectors. 512 stands unless no
    // entry finds its target under 512 and some entry does under 4096, so a
    // 512-byte disk is read just as it always was.
    bool at4096 = false;
    for (std::uint32_t unit : {512u, 4096u}) {
        for (int i = 0; i < 4; ++i) {
            ByteView e = mbr.Sub(0x1BE + 16 * i, 16);
            if (e.U8(4) == 0 || !EntryHoldsTarget(reader, e.U8(4), e.Le32(8), unit)) continue;
            if (unit == 512) return 512;
            at4096 = true;
        }
    }
    return at4096 ? 4096 : 512;
}

bool PartitionScanner::StopNow() { return control != nullptr && !control->Checkpoint(); }

void PartitionScanner::Add(VolumeEntry entry, const Event& status) {
    entry.location = std::to_string(entries_.size());
    if (status.step != Step::None) progress->Report(status);
    entries_.push_back(entry);
    if (onVolume) onVolume(entries_.back());
}

std::uint32_t SourceSectorSize(SectorReader& reader) {
    if (reader.ReportedSectorSize() == 512 || reader.ReportedSectorSize() == 4096) return reader.ReportedSectorSize();
    std::uint8_t sector[512];
    for (std::uint32_t unit : {512u, 4096u})
        if (reader.fileLength() >= 2 * unit && ReadSectorsAt(reader, 1, sector, sizeof sector, unit) &&
            ParseGptHeader(ByteView(sector, sizeof sector), reader.fileLength() / unit, unit))
            return unit;
    if (!ReadSectorsAt(reader, 0, sector, sizeof sector, 512) || !HoldsPartitionTable(ByteView(sector, sizeof sector)))
        return 512;
    return MbrSectorSize(reader, ByteView(sector, sizeof sector));
}

// ---- the table scan ----------------------------------------------------------

int PartitionScanner::ScanPartitionTables(SectorReader& reader) {
    entries_.clear();
    summary_ = {};
    ntfsCount_ = 0;
    logicalNumber_ = 5;
    bool readFailed = false;
    unit_ = reader.ReportedSectorSize() == 4096 ? 4096 : 512;
    std::uint64_t deviceSectors = reader.fileLength() / unit_;

    std::vector<std::uint8_t> head(4096);
    if (!ReadSectorsAt(reader, 0, head.data(), head.size(), 1) && reader.deviceSectorCount() >= 8) readFailed = true;
    ByteView mbr(head.data(), 512);
    bool signature = mbr.U8(510) == 0x55 && mbr.U8(511) == 0xAA;

    // A source that is itself one volume (a card formatted without a partition
    // table, or an image of a single partition) is listed as that volume.
    std::optional<BootMatch> whole = DetectSourceVolume(head);
    if (whole) {
        VolumeEntry v;
        v.fileSystem = ShownName(whole->type);
        v.startSector = 0;
        v.sectorSize = unit_;
        v.sectorCount = whole->extentSectors ? whole->ExtentIn(unit_) : deviceSectors;
        v.sizeText = MiBText(v.sectorCount * unit_, "  ");
        v.foundBy = FoundBy::WholeSource;
        if (whole->kind == BootKind::Ntfs) ++ntfsCount_;
        Add(v, StatusFor(whole->kind, ntfsCount_));
        return readFailed ? EIO : 0;
    }

    bool protective = false, anyEntry = false;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t type = mbr.U8(0x1BE + 16 * i + 4);
        protective |= type == 0xEE;
        anyEntry |= type != 0;
    }
    // The GPT is read when asked for, behind a protective MBR, and when sector 0
    // holds no partition table at all (wiped, or never written).
    bool noTable = !signature || !anyEntry;
    if (gptFormat || protective || noTable) {
        // The header lies at LBA 1, 512 or 4096 bytes in, as the drive's sectors are long.
        std::vector<std::uint8_t> lba1(512);
        const bool at512 = ParseGptHeader(ByteView(head.data() + 512, 512), reader.fileLength() / 512, 512).has_value();
        const bool at4096 = !at512 && reader.fileLength() >= 8192 && ReadSectorsAt(reader, 1, lba1.data(), 512, 4096) &&
                            ParseGptHeader(lba1, reader.fileLength() / 4096, 4096);
        if (at512 || at4096) {
            unit_ = at512 ? 512 : 4096;
            deviceSectors = reader.fileLength() / unit_;
            summary_.gptWalked = WalkGpt(reader, 1, readFailed);
        } else {
            // The primary header is gone: the backup in the last sector describes the same table.
            std::vector<std::uint8_t> backup(512);
            for (std::uint32_t unit : {unit_, unit_ == 512 ? 4096u : 512u}) {
                const std::uint64_t sectors = reader.fileLength() / unit;
                if (sectors > 2 && ReadSectorsAt(reader, sectors - 1, backup.data(), 512, unit) &&
                    ParseGptHeader(backup, sectors, unit)) {
                    unit_ = unit;
                    summary_.gptWalked = WalkGpt(reader, sectors - 1, readFailed);
                    break;
                }
            }
        }
        if (!summary_.gptWalked && gptFormat) progress->Report(Event(Step::GptHeaderMissing));
    }
    if (!summary_.gptWalked && !gptFormat) {
        if (unit_ == 512 && reader.ReportedSectorSize() == 0) unit_ = MbrSectorSize(reader, mbr);
        WalkMbr(reader, mbr, readFailed);
    }
    return readFailed ? EIO : 0;
}

bool PartitionScanner::WalkGpt(SectorReader& reader, std::uint64_t headerSector, bool& readFailed) {
    const std::uint64_t deviceSectors = reader.fileLength() / unit_;
    std::vector<std::uint8_t> headerBytes(512);
    if (!ReadSectorsAt(reader, headerSector, headerBytes.data(), 512, unit_)) readFailed = true;
    auto header = ParseGptHeader(headerBytes, deviceSectors, unit_);
    if (!header) return false;

    std::vector<std::uint8_t> array(std::size_t(header->entryCount) * header->entrySize);
    if (!ReadSectorsAt(reader, header->entryLba, array.data(), array.size(), unit_)) readFailed = true;
    ByteView entries(array);
    std::vector<std::uint8_t> start(4096);

    for (std::uint32_t i = 0; i < header->entryCount; ++i) {
        ByteView e = entries.Sub(std::size_t(i) * header->entrySize, 128);
        if (std::all_of(e.data(), e.data() + 16, [](std::uint8_t b) { return b == 0; })) continue;  // unused
        std::uint64_t first = e.Le64(0x20), last = e.Le64(0x28);
        if (first == 0 || last < first || first >= kMaxSector) continue;
        std::string name = Utf16LeToUtf8(e, 0x38, 36);
        if (IsMicrosoftReserved(e, name)) continue;

        bool inside = first * unit_ + start.size() <= reader.fileLength();
        if (!ReadSectorsAt(reader, first, start.data(), start.size(), unit_) && inside) readFailed = true;

        VolumeEntry v;
        v.sectorSize = unit_;
        v.startSector = static_cast<std::int64_t>(first);
        v.sectorCount = last - first + 1;
        v.foundBy = FoundBy::Gpt;
        v.partitionName = name;
        ByteView boot(start.data(), 512);
        std::optional<BootMatch> m = TestNtfsBootSector(boot, false);
        if (!m) m = TestExFatBootSector(boot);
        if (!m) m = TestFatBootSector(boot);
        if (m) {
            // Boot-sector volumes are sized by their boot sector; below 1 MiB they are not listed.
            if (m->kind == BootKind::Ntfs) ++ntfsCount_;
            Event status = StatusFor(m->kind, ntfsCount_);
            if (m->volumeBytes >= (1u << 20)) {
                v.fileSystem = ShownName(m->type);
                v.sizeText = MiBText(m->volumeBytes, m->kind == BootKind::Ntfs ? "   " : "  ");
                Add(v, status);
            } else {
                progress->Report(status);
            }
        } else {
            m = TestHfsPlusHeader(ByteView(start).Sub(kHfsHeaderOffset, 512));
            if (!m) m = TestExtSuperblock(ByteView(start).Sub(kExtSuperblockOffset, 1024));
            v.fileSystem = m ? ShownName(m->type) : name;
            v.sizeText = Printf("%lld", static_cast<long long>((v.sectorCount * unit_) >> 20));
            Add(v, m ? StatusFor(m->kind, ntfsCount_) : Event());
        }
        if (StopNow()) {
            summary_.stopped = true;
            break;
        }
    }
    return true;
}

void PartitionScanner::AddTableEntry(SectorReader& reader, std::uint8_t type, std::uint64_t first,
                              std::uint64_t count, bool inChain, int slot) {
    TypeRow row = TypeTable(type);
    VolumeEntry v;
    v.sectorSize = unit_;
    v.startSector = static_cast<std::int64_t>(first);
    v.sectorCount = count;
    v.sizeText = MiBText(count * unit_, "   ");
    v.foundBy = inChain ? FoundBy::Ebr : FoundBy::Mbr;
    v.partitionName = "partition " + std::to_string(slot);
    v.fileSystem = ShownName(inChain && type == 0x42 ? FsType::Unknown : row.type);

    // The boot sector names the volume when it is one we know: partition types
    // are often wrong (mkfs.fat on a Linux-type partition, FAT32 on a FAT16 type).
    // A Linux partition whose start holds nothing we know stays "ext".
    std::optional<BootMatch> m;
    if (first > 0 && first < kMaxSector) m = DetectVolumeAt(reader, first, unit_);
    Event status;
    if (m) {
        v.fileSystem = ShownName(m->type);
        if (m->kind == BootKind::Ntfs) ++ntfsCount_;
        status = StatusFor(m->kind, ntfsCount_);
        if (m->kind == BootKind::ExFat) status = Event(Step::TypeFound).Kind("exfat");
        if (m->kind == BootKind::Ntfs && inChain) status = Event(Step::TypeFound).Kind("ntfs");
    } else {
        const char* text = inChain ? row.chainStatus : row.mbrStatus;
        if (inChain && type == 0x42) text = "unknown";
        if (type == 0x07) {
            ++ntfsCount_;
            status = Event(Step::TypeFound, inChain ? 0 : ntfsCount_).Kind("ntfs");
        } else if (text != nullptr) {
            status = Event(Step::TypeFound).Kind(text);
        }
    }
    Add(v, status);
}

void PartitionScanner::WalkMbr(SectorReader& reader, ByteView mbr, bool& readFailed) {
    // Every entry is examined: an empty slot or the extended partition does not
    // end the table.
    for (int i = 0; i < 4; ++i) {
        ByteView e = mbr.Sub(0x1BE + 16 * i, 16);
        std::uint8_t type = e.U8(4);
        std::uint64_t first = e.Le32(8), count = e.Le32(12);
        if (type == 0) continue;
        if (IsExtended(type)) {
            WalkExtended(reader, first, readFailed);
            continue;
        }
        AddTableEntry(reader, type, first, count, false, i + 1);
    }
}

void PartitionScanner::WalkExtended(SectorReader& reader, std::uint64_t extBase, bool& readFailed) {
    std::set<std::uint64_t> visited;  // a chain that links back on itself ends there
    std::uint64_t ebrOffset = 0;
    std::vector<std::uint8_t> record(512);
    for (int n = 0; n < kMaxExtendedRecords; ++n) {
        std::uint64_t at = extBase + ebrOffset;
        if (!visited.insert(at).second) break;
        if (!ReadSectorsAt(reader, at, record.data(), record.size(), unit_)) {
            readFailed = true;
            break;
        }
        ByteView ebr(record);
        std::optional<std::uint64_t> link;
        for (int i = 0; i < 4; ++i) {
            ByteView e = ebr.Sub(0x1BE + 16 * i, 16);
            std::uint8_t type = e.U8(4);
            std::uint64_t first = e.Le32(8), count = e.Le32(12);
            if (type == 0) continue;
            if (IsExtended(type)) {
                if (!link) link = first;  // relative to the extended partition's start
                continue;
            }
            AddTableEntry(reader, type, at + first, count, true, logicalNumber_++);
        }
        if (!link) break;
        ebrOffset = *link;
    }
}

// ---- the sector search -------------------------------------------------------

namespace {
struct SearchHit {
    BootMatch match;
    std::uint64_t volumeStart;
};

// The per-sector tests of the search. Most sectors fail the cheap first look (a
// jump or boot signature, an HFS+ header, the ext magic) and cost a few loads.
std::optional<SearchHit> TestSearchSector(const std::uint8_t* p, std::uint64_t sector) {
    bool boot = p[0] == 0xEB || (p[510] == 0x55 && p[511] == 0xAA);
    bool hfs = p[0] == 'H' && (p[1] == '+' || p[1] == 'X') && p[2] == 0;
    bool ext = p[0x38] == 0x53 && p[0x39] == 0xEF;
    if (!boot && !hfs && !ext) return std::nullopt;
    ByteView s(p, 512);
    if (boot) {
        std::optional<BootMatch> m = TestNtfsBootSector(s, true);
        if (!m) m = TestExFatBootSector(s);
        if (!m) m = TestFatBootSector(s);
        if (m) return SearchHit{*m, sector};
    }
    // The HFS+ header and the ext superblock lie 1024 bytes into their volume.
    if (sector < 2) return std::nullopt;
    if (hfs)
        if (auto m = TestHfsPlusHeader(s)) return SearchHit{*m, sector - 2};
    if (ext)
        if (auto m = TestExtSuperblock(s)) return SearchHit{*m, sector - 2};
    return std::nullopt;
}

// A boot sector the search meets may be a volume's backup copy, its primary gone:
// FAT32 keeps one at the sector its 0x32 field names, exFAT its backup region 12
// sectors in, NTFS one after its last counted sector. The copy carries the
// primary's values, so the tables it describes lie where the primary's would:
// when they are found there, and not where the copy's own position puts them,
// the volume starts that far back.
bool FatTableAt(SectorReader& reader, std::uint64_t byteOffset, bool exfat) {
    std::uint8_t b[512];
    if (byteOffset % 512 != 0 || !ReadSectorsAt(reader, byteOffset / 512, b, 512, 512)) return false;
    if (exfat) return b[0] == 0xF8 && b[1] == 0xFF && b[2] == 0xFF && b[3] == 0xFF;
    return (b[0] == 0xF0 || b[0] >= 0xF8) && b[1] == 0xFF && b[2] == 0xFF && (b[3] & 0x0F) == 0x0F;
}

bool MftAt(SectorReader& reader, std::uint64_t byteOffset) {
    std::uint8_t b[512];
    return byteOffset % 512 == 0 && ReadSectorsAt(reader, byteOffset / 512, b, 512, 512) && std::memcmp(b, "FILE", 4) == 0;
}

// The volume's first sector for a boot sector found at sector.
std::uint64_t StartCountedBack(SectorReader& reader, const std::uint8_t* p, std::uint64_t sector,
                               BootKind kind) {
    ByteView s(p, 512);
    std::uint64_t back = 0;                  // sectors from the start to the copy
    std::uint64_t table = 0, second = 0;     // bytes from the start to what is looked for (second: 0, none)
    if (kind == BootKind::Fat32) {
        auto bpb = ParseFatBootSector(s);
        if (!bpb || bpb->bytesPerSector % 512 != 0 || s.Le16(0x32) >= bpb->reservedSectors) return sector;
        back = std::uint64_t(s.Le16(0x32)) * (bpb->bytesPerSector / 512);
        table = bpb->FatOffset();
        if (bpb->fatCount > 1) second = table + std::uint64_t(bpb->sectorsPerFat) * bpb->bytesPerSector;
    } else if (kind == BootKind::ExFat) {
        const unsigned shift = s.U8(0x6C);
        if (shift < 9 || shift > 12) return sector;
        back = 12ull << (shift - 9);
        table = std::uint64_t(s.Le32(0x50)) << shift;
    } else if (kind == BootKind::Ntfs) {
        const std::uint64_t cluster = std::uint64_t(s.Le16(0x0B)) * s.U8(0x0D);
        const std::uint64_t mft = s.Le64(0x30);
        if (cluster == 0 || mft >= kMaxSector / cluster) return sector;
        back = s.Le64(0x28);
        table = mft * cluster;
    } else {
        return sector;
    }
    if (back == 0 || back > sector || back >= kMaxSector) return sector;
    // Whether the structures lie where a volume starting at start has them.
    auto holds = [&](std::uint64_t start) {
        const std::uint64_t at = start * 512;
        if (kind == BootKind::Ntfs) return MftAt(reader, at + table);
        const bool exfat = kind == BootKind::ExFat;
        return FatTableAt(reader, at + table, exfat) || (second != 0 && FatTableAt(reader, at + second, exfat));
    };
    if (holds(sector)) return sector;
    return holds(sector - back) ? sector - back : sector;
}

// The search reads a block in one piece; after a skip that lands inside a block
// the rest of it is read from there, so the skipped stretch is never read.
constexpr std::size_t kPieceSectors = kBlockSectors;
}  // namespace

bool PartitionScanner::Listed(std::uint64_t startSector) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const VolumeEntry& v) { return v.StartByte() == startSector * 512; });
}

int PartitionScanner::ScanForVolumes(SectorReader& reader) {
    entries_.clear();
    summary_ = {};
    ntfsCount_ = 0;
    const std::uint64_t deviceSectors = reader.deviceSectorCount();
    const std::uint64_t failedBefore = reader.FailedSectors();
    // The search steps through 512-byte sectors, which finds a volume of either
    // size; the rows count in the drive's own sectors when it reports 4096.
    const std::uint32_t searchUnit = reader.ReportedSectorSize() == 4096 ? 4096 : 512;
    const std::uint64_t firstSector = customStartSector > 0 ? std::uint64_t(customStartSector) : 0;
    const bool hasEnd = customEndSector > 0;
    const std::uint64_t lastOfRange = std::min(hasEnd ? std::uint64_t(customEndSector) : deviceSectors, deviceSectors);
    const std::uint64_t span = std::max<std::uint64_t>(1, lastOfRange > firstSector ? lastOfRange - firstSector : 0);

    progress->Report(Event(Step::PartitionScan));
    progress->SetRange(0, 1000);
    AlignedBuffer piece(kPieceSectors * 512);

    std::uint64_t current = firstSector;  // the block starts here
    while (current < deviceSectors && !(hasEnd && current > std::uint64_t(customEndSector))) {
        if (StopNow()) {
            summary_.stopped = true;
            break;
        }
        // The last block of a source that is no whole number of MiB is shorter.
        const std::uint64_t blockEnd = std::min<std::uint64_t>(current + kBlockSectors, deviceSectors);
        std::uint64_t next = blockEnd;
        bool blockFailed = false;
        std::uint64_t at = current;  // the next sector to examine
        while (at < blockEnd && !summary_.stopped) {
            const std::uint64_t pieceStart = at;
            const std::uint64_t count = std::min<std::uint64_t>(kPieceSectors, blockEnd - pieceStart);
            // Sectors that could not be read are zeros and match nothing; the rest is examined.
            if (!ReadSectorsAt(reader, pieceStart, piece.data(), count * 512, 512)) blockFailed = true;
            std::uint64_t resume = pieceStart + count;
            for (std::uint64_t i = 0; i < count; ++i) {
                if (control != nullptr && control->StopRequested()) {
                    summary_.stopped = true;
                    break;
                }
                const std::uint64_t sector = pieceStart + i;
                auto hit = TestSearchSector(piece.data() + i * 512, sector);
                if (!hit) continue;
                const BootMatch& m = hit->match;
                std::uint64_t mib = m.volumeBytes >> 20;
                if (m.kind == BootKind::Ntfs && mib >= 1) ++ntfsCount_;
                if (mib >= 1 && (m.kind == BootKind::Fat32 || m.kind == BootKind::ExFat || m.kind == BootKind::Ntfs)) {
                    // A backup whose primary was listed stays a row of its own, as every
                    // copy is when the skip rule is off.
                    const std::uint64_t start = StartCountedBack(reader, piece.data() + i * 512, sector, m.kind);
                    if (start != sector && !Listed(start)) hit->volumeStart = start;
                }
                if (mib >= 1 && !(m.kind == BootKind::HfsPlus && mib > 20971519)) {
                    VolumeEntry v;
                    v.fileSystem = ShownName(m.type);
                    // In the drive's own sectors where the volume starts on one.
                    const bool whole4096 = searchUnit == 4096 && hit->volumeStart % 8 == 0;
                    v.sectorSize = whole4096 ? 4096 : 512;
                    v.startSector = static_cast<std::int64_t>(whole4096 ? hit->volumeStart / 8 : hit->volumeStart);
                    v.sectorCount = m.ExtentIn(v.sectorSize);
                    v.sizeText = MiBText(m.volumeBytes, m.kind == BootKind::Ntfs ? "   " : "  ");
                    v.foundBy = FoundBy::Scan;
                    Add(v, StatusFor(m.kind, ntfsCount_));
                    if (control != nullptr && control->StopRequested()) {
                        summary_.stopped = true;
                        break;
                    }
                } else if (mib == 0 && m.kind != BootKind::Ext && m.kind != BootKind::HfsPlus) {
                    progress->Report(Event(Step::UnknownVolumeFound));
                }
                // The skip rule: go on at the first sector after the volume, so that
                // its copies of the boot sector and its bulk are never read.
                if (skipVolumeSize && mib >= 1 && hit->volumeStart + m.extentSectors > sector) {
                    resume = hit->volumeStart + m.extentSectors;
                    break;
                }
            }
            if (resume >= blockEnd) next = std::max(next, resume);
            at = resume;
        }
        if (blockFailed) ++summary_.unreadableBlocks;
        if (summary_.stopped) break;
        current = next;
        std::uint64_t done = std::min(current, lastOfRange);
        done = done > firstSector ? done - firstSector : 0;
        progress->SetPosition(static_cast<std::int64_t>(std::min<double>(1000.0, double(done) / double(span) * 1000.0)));
    }
    summary_.unreadableSectors = reader.FailedSectors() - failedBefore;
    progress->Report(Event(Step::PartitionsScanned));
    return 1;
}

}  // namespace tarnwell
