#pragma once
// The advanced mode's candidate search as one call, and the texts its lists
// and messages are shown with, so that `tarnwell candidates` and the advanced
// input page offer the same entries under the same names.

#include <cstdint>
#include <string>

#include "advanced/TableFinder.h"
#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "device/SectorReader.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

// The bytes of volume that reader holds: its recorded size, cut at the source's end.
std::uint64_t AdvancedVolumeSize(const SectorReader& reader, const VolumeEntry& volume);

// Runs the finders of kind over volume (for NTFS the MFT search too, whose
// record positions fill tables), through the volume's own view of reader.
// Stop through control keeps what was found so far.
TableCandidates FindAdvancedCandidates(SectorReader& reader, const VolumeEntry& volume, TableKind kind,
                                       int maximum, ProgressSink& progress, Prompter& prompter,
                                       JobControl* control = nullptr);

// "MFT_ENTRY:3", "FAT32_ENTRY:3", "FAT64_ENTRY:3", "FAT_ENTRY:3" (FAT12 and FAT16).
std::string TableEntryText(TableKind kind, std::size_t index);
// "HEAP_OFFSET_ENTRY:0".
std::string HeapEntryText(std::size_t index);
// The label of the table list: "TFS :", "Total fat16 Entries Found:" or "Total fat64 Entries Found:".
std::string TableListLabel(TableKind kind);
// What the status line says while the finder of kind runs ("" when nothing).
std::string FinderStartStatus(TableKind kind);

// What the user is told once the search has ended: a message and the status
// line's text ("" leaves the status line as it is).
struct FinderReport {
    std::string message;
    std::string status;
};
FinderReport FinderEndReport(TableKind kind, const TableCandidates& found);

}  // namespace tarnwell
