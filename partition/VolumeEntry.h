#pragma once
// One volume as the wizard hands it on: found by a partition scan, a mounted
// file system, or entered by hand.

#include <cstdint>
#include <string>

#include "device/VolumeView.h"

namespace tarnwell {

// How a volume came to be known; shown by `tarnwell volumes --json`.
enum class FoundBy { Mounted, Mbr, Ebr, Gpt, Scan, Manual, WholeSource };

const char* FoundByName(FoundBy how);

struct VolumeEntry {
    std::string fileSystem;  // an FsKind name, or the kernel's name for a mounted volume
    std::string rootPath;    // mount point of a mounted volume; empty for a scanned one
    std::string location;    // device path of a mounted volume; list number of a scanned one
    std::string sizeText;    // MiB as leading decimal number, then a unit ("100  MB")
    std::int64_t startSector = 0;  // first sector on the drive, in sectorSize units
    // The logical sector size the volume is addressed in (512, or 4096 on a 4Kn drive).
    std::uint32_t sectorSize = 512;

    // Exact extent where it is known (0 when not); consumers that need the volume's
    // size prefer it to the whole MiB of sizeText.
    std::uint64_t sectorCount = 0;
    FoundBy foundBy = FoundBy::Manual;
    // The partition's name where the table has one (a GPT entry's name, "partition 5"
    // for the first logical volume of an MBR disk); empty otherwise.
    std::string partitionName;

    // The leading number of sizeText (0 when it has none).
    std::int64_t SizeMiB() const;
    // Volume size in bytes: sectorCount when known, else SizeMiB() MiB.
    std::uint64_t SizeBytes() const;
    // The first byte of the volume on its source.
    std::uint64_t StartByte() const;
};

// The view of volume on source: from its first sector, sectorCount sectors long
// (to the end of the source when the count is not known).
VolumeView ViewOf(SectorReader& source, const VolumeEntry& volume);

}  // namespace tarnwell
