#pragma once
// The wizard's choices and the one shared sector reader. Written by the pages
// on the interface thread, read by the workers they start.

#include <cstdint>
#include <memory>
#include <string>

#include "core/Prompter.h"
#include "device/SectorReader.h"
#include "fs/RecoveryChoice.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

enum class PartitionScanMode : int { Standard = 1, Advanced = 2 };

struct ScanSession {
    // Process-wide state.
    std::unique_ptr<SectorReader> reader;
    std::uint64_t deviceSectorCount = 0;
    bool volumeChosen = false;   // a mounted volume rather than a physical drive
    bool driveFormatted = false; // the user says the volume was formatted since
    std::string rootFolderName = "ROOT";

    // Hand-off between pages.
    std::string devicePath;
    PartitionScanMode partitionScanMode = PartitionScanMode::Standard;
    bool gptFormat = false;
    bool keepVolumeSize = false;
    bool customRangeSet = false;
    std::int64_t customStartSector = 0;
    std::int64_t customEndSector = 0;
    VolumeEntry selectedVolume;
    RecoveryMode recoveryMode = RecoveryMode::Standard;
    std::string maxFileSystems = "3";
    AdvancedChoice advanced;

    // Where the readers made by ResetReader send their messages (null: the default).
    Prompter* readerPrompter = nullptr;

    // Replaces the reader with a new, unopened one, as the drive page does on "Next".
    void ResetReader();
    // Opens path (a device, a raw image or an image container) as a new reader
    // in place of the old one, and records its sector count. Pointers to the
    // old reader are no longer valid.
    bool OpenReader(const std::string& path);
    // The device the selected volume is read from: its own device on the
    // mounted-volume road, else the drive or image of devicePath.
    std::string SourcePath() const { return volumeChosen ? selectedVolume.location : devicePath; }
};

}  // namespace tarnwell
