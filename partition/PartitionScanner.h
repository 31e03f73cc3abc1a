#pragma once
// The partition scanner: the volumes a drive's tables describe (MBR, the chain
// of extended boot records, GPT), or those a search of every sector for boot
// sectors and volume headers finds, lost ones included.
//
// The page (or command) that owns a scanner sets its fields, runs one scan and
// takes the rows: each found volume is appended to Entries() and handed to
// onVolume at once, on the scanning thread. Progress and status texts go to the
// ProgressSink; stop and pause come from the JobControl. Stop keeps every row found.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "device/SectorReader.h"
#include "partition/BootSectors.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

struct VolumeScanSummary {
    bool stopped = false;
    bool gptWalked = false;             // the table scan read a GPT
    std::uint64_t unreadableBlocks = 0; // blocks of the sector search that did not read whole
    std::uint64_t unreadableSectors = 0;// sectors the reader could not read during the scan
};

class PartitionScanner {
public:
    // Set by the page before a scan.
    bool gptFormat = false;              // walk the GPT even without a protective MBR
    bool skipVolumeSize = true;          // sector search: jump over each found volume
    std::int64_t customStartSector = 0;  // sector search range; 0: not set
    std::int64_t customEndSector = 0;
    ProgressSink* progress = &NoProgress();
    JobControl* control = nullptr;       // may be null: no stop, no pause
    std::function<void(const VolumeEntry&)> onVolume;

    // The standard scan. 0 when the tables were read; EIO when a read failed
    // (the rows found stay).
    int ScanPartitionTables(SectorReader& reader);

    // The sector search, in 1 MiB blocks from customStartSector (or 0) to the
    // last sector of the source, or to the block holding customEndSector.
    // Unreadable blocks are counted and passed over. Returns 1.
    int ScanForVolumes(SectorReader& reader);

    const std::vector<VolumeEntry>& Entries() const { return entries_; }
    const VolumeScanSummary& Summary() const { return summary_; }

private:
    void Add(VolumeEntry entry, const Event& status);
    bool StopNow();
    bool Listed(std::uint64_t startSector) const;
    bool WalkGpt(SectorReader& reader, std::uint64_t headerSector, bool& readFailed);
    void WalkMbr(SectorReader& reader, ByteView mbr, bool& readFailed);
    void WalkExtended(SectorReader& reader, std::uint64_t extBase, bool& readFailed);
    void AddTableEntry(SectorReader& reader, std::uint8_t type, std::uint64_t first,
                       std::uint64_t count, bool inChain, int slot);

    std::vector<VolumeEntry> entries_;
    std::uint32_t unit_ = 512;  // the table scan's logical sector size
    VolumeScanSummary summary_;
    int ntfsCount_ = 0;
    int logicalNumber_ = 5;
};

// The bytes from sector on, sectors being unit bytes long; false when any could
// not be read (they are zeros then).
bool ReadSectorsAt(SectorReader& reader, std::uint64_t sector, void* destination, std::size_t bytes,
                   std::uint32_t unit = 512);

// The kind of volume that begins at sector (4 KiB read there), if any.
std::optional<BootMatch> DetectVolumeAt(SectorReader& reader, std::uint64_t sector, std::uint32_t unit = 512);

// The logical sector size an MBR's entries count in: 4096 when only under it do
// they point at volumes (or at an extended partition's record), else 512.
std::uint32_t MbrSectorSize(SectorReader& reader, ByteView mbr);

// The logical sector size of a source: the one it reports, else the one its GPT
// header (at LBA 1 of 512 or 4096) or its MBR entries are laid out in, else 512.
std::uint32_t SourceSectorSize(SectorReader& reader);

}  // namespace tarnwell
