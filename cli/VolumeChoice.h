#pragma once
// Opening a SOURCE and choosing the volume a command works on:
//   --volume N                     row N of `tarnwell volumes`
//   --start SECTOR [--size-mib N] [--fs KIND]
//   default: the whole SOURCE when it begins with a volume, else an error
//   that lists the volumes found.

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "partition/VolumeEntry.h"
#include <memory>

#include "device/SectorReader.h"

namespace tarnwell::cli {

struct VolumeOptions {
    int volumeIndex = 0;                 // 0: not given (rows count from 1)
    std::optional<std::int64_t> startSector;
    std::optional<std::int64_t> sizeMiB;
    std::string fsKind = "auto";         // auto or a KIND name of FileSystemOptions()
    bool gpt = false;                    // force the GPT walk when listing rows for --volume
};

void AddVolumeOptions(CLI::App* command, VolumeOptions& options);

// --mapfile FILE: a ddrescue mapfile whose unfinished areas are not read.
void AddMapfileOption(CLI::App* command, std::string& mapfile);

// Opens source read-only as what it is (device, raw, split raw, EWF, VHD(X),
// VMDK, QCOW), behind the mapfile when one is given; on failure returns the
// text to print (exit code 2).
std::optional<std::string> OpenSource(const std::string& source, const std::string& mapfile,
                                      std::unique_ptr<SectorReader>& reader);

struct VolumeChoice {
    std::optional<VolumeEntry> volume;
    std::string error;  // set when no volume could be chosen (exit code 2)
};

VolumeChoice ChooseVolume(SectorReader& reader, const VolumeOptions& options);

// Why --start or --size-mib cannot be used on this source (past its end), or
// nothing. --start counts in the source's own sectors (SourceSectorSize).
// ChooseVolume checks it; commands that read --start themselves call it.
std::optional<std::string> CheckVolumeRange(SectorReader& reader, const VolumeOptions& options);

// The shown name for a --fs KIND name ("fat32" -> "FAT32", "exfat" -> "exFAT"); empty when unknown.
std::string FileSystemForOption(const std::string& value);

}  // namespace tarnwell::cli
