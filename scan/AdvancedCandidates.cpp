#include "scan/AdvancedCandidates.h"

#include <algorithm>

#include "fs/ntfs/NtfsParser.h"

namespace tarnwell {

std::uint64_t AdvancedVolumeSize(const SectorReader& reader, const VolumeEntry& volume) {
    const std::uint64_t base = volume.StartByte();
    const std::uint64_t length = reader.fileLength() > base ? reader.fileLength() - base : 0;
    return volume.SizeBytes() != 0 ? std::min(volume.SizeBytes(), length) : length;
}

TableCandidates FindAdvancedCandidates(SectorReader& reader, const VolumeEntry& volume, TableKind kind,
                                       int maximum, ProgressSink& progress, Prompter& prompter,
                                       JobControl* control) {
    const std::uint64_t volumeSize = AdvancedVolumeSize(reader, volume);
    const VolumeView view = ViewOf(reader, volume);
    TableFinder finder(view, volumeSize, kind, progress, control);
    TableCandidates found = finder.Find(maximum);
    if (kind == TableKind::Ntfs && !(control != nullptr && control->StopRequested())) {
        ParserLinks links;
        links.view = view;
        links.volume = volume;
        links.progress = &progress;
        links.prompter = &prompter;
        links.control = control;
        NtfsParser parser(links);
        parser.FindMftCandidates(static_cast<std::uint64_t>(CandidateLimit(maximum)));
        for (const MftCandidate& c : parser.MftCandidates()) found.tables.push_back(c.entry.recordOffset);
    }
    if (control != nullptr && control->StopRequested()) found.stopped = true;
    return found;
}

std::string TableEntryText(TableKind kind, std::size_t index) {
    const char* prefix = kind == TableKind::Ntfs    ? "MFT_ENTRY:"
                         : kind == TableKind::Fat32 ? "FAT32_ENTRY:"
                         : kind == TableKind::ExFat ? "FAT64_ENTRY:"
                                                    : "FAT_ENTRY:";
    return prefix + std::to_string(index);
}

std::string HeapEntryText(std::size_t index) { return "HEAP_OFFSET_ENTRY:" + std::to_string(index); }

std::string TableListLabel(TableKind kind) {
    switch (kind) {
        case TableKind::Fat12:
        case TableKind::Fat16: return "Total fat16 Entries Found:";
        case TableKind::ExFat: return "Total fat64 Entries Found:";
        default: return "TFS :";
    }
}

std::string FinderStartStatus(TableKind kind) {
    switch (kind) {
        case TableKind::Ntfs: return "ntfs partition selected....";
        case TableKind::Fat12:
        case TableKind::Fat16: return "Finding Fat entries....";
        case TableKind::ExFat: return "Finding Fat64 entries....";
        default: return "";
    }
}

FinderReport FinderEndReport(TableKind kind, const TableCandidates& found) {
    const std::string tables = std::to_string(found.tables.size());
    const std::string choose = " . Please select the choice from combo box and click Next button to proceed.";
    switch (kind) {
        case TableKind::Ntfs:
            return {"Number of MFT-ENTRY found = " + tables + choose, "Parsing done.Click next to continue."};
        case TableKind::Fat32:
            if (found.tables.empty()) return {"NO FAT  FAT32-ENTRY found ..", ""};
            return {"Number of FAT32-ENTRY found = " + tables + choose, "Parsing done.Click Next to continue."};
        case TableKind::ExFat:
            return {"Number of FAT64-ENTRY found = " + tables + " and Number of HeapOffset-ENTRY found =  " +
                        std::to_string(found.heaps.size()) +
                        "  . Please select the choice from ( Entry and Heap ) Combobox and click Next button to "
                        "proceed.",
                    "Parsing done.Click Next to continue."};
        default:
            return {"Number of FAT-ENTRY found = " + tables + choose, "Parsing done.Click Next to continue."};
    }
}

}  // namespace tarnwell
