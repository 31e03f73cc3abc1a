#include "cli/VolumeChoice.h"

#include "device/DdrescueMap.h"
#include "device/SourceOpener.h"

#include <vector>

#include "core/ByteView.h"
#include "core/DisplayText.h"
#include "fs/FileSystemRegistry.h"
#include "partition/PartitionScanner.h"

namespace tarnwell::cli {

void AddVolumeOptions(CLI::App* command, VolumeOptions& o) {
    auto* volume = command->add_option("--volume", o.volumeIndex, "Row N of `tarnwell volumes`")
                       ->check(CLI::PositiveNumber);
    auto* start = command->add_option("--start", o.startSector, "First sector of the volume")
                      ->check(CLI::NonNegativeNumber);
    command->add_option("--size-mib", o.sizeMiB, "Volume size in MiB (with --start)")
        ->needs(start)
        ->check(CLI::PositiveNumber);
    std::vector<std::string> kinds = FileSystemOptions();
    kinds.insert(kinds.begin(), "auto");
    std::string help = "File system:";
    for (const std::string& k : kinds) help += (k == "auto" ? " " : "|") + k;
    command->add_option("--fs", o.fsKind, help)->check(CLI::IsMember(kinds));
    command->add_flag("--gpt", o.gpt, "Read the GPT even without a protective MBR");
    volume->excludes(start);
}

void AddMapfileOption(CLI::App* command, std::string& mapfile) {
    command->add_option("--mapfile", mapfile,
                        "ddrescue mapfile: areas not finished ('+') read as unreadable, never from the source");
}

std::optional<std::string> OpenSource(const std::string& source, const std::string& mapfile,
                                      std::unique_ptr<SectorReader>& reader) {
    SilentPrompter quiet;  // the error below says more than "invalid handle ..."
    OpenedSource opened = OpenSourceReader(source, quiet);
    if (!opened.reader) return opened.error;
    if (!mapfile.empty()) {
        std::string error;
        auto map = ReadDdrescueMap(mapfile, error);
        if (!map) return mapfile + ": " + error;
        // An image shorter than its map is the usual end of a rescue that stopped
        // early; one longer than the map does not belong to it.
        if (map->Size() < opened.reader->fileLength())
            return mapfile + ": the mapfile covers " + std::to_string(map->Size()) + " bytes but " + source +
                   " holds " + std::to_string(opened.reader->fileLength());
        reader = std::make_unique<MappedReader>(std::move(opened.reader), std::move(*map));
        return std::nullopt;
    }
    reader = std::move(opened.reader);
    return std::nullopt;
}

std::string FileSystemForOption(const std::string& v) {
    const FileSystemInfo& fs = FileSystemByName(v);
    return fs.option && fs.kind == v ? fs.shown : std::string();
}

namespace {
// --fs picks the parser; a volume that parser reads keeps its own, finer name
// (ext4 under --fs ext, HFSX under --fs hfsplus).
std::string ForcedName(const std::string& option, const std::string& found) {
    const FileSystemInfo& forced = FileSystemByName(option);
    const FileSystemInfo& own = FileSystemByName(found);
    if (forced.type == FsType::Ext || forced.type == FsType::HfsPlus)
        if (own.parser == forced.parser) return own.shown;
    return FileSystemForOption(option);
}
}  // namespace

namespace {
// The file system whose boot sector or header starts at sector; empty when none.
std::string DetectAt(SectorReader& reader, std::int64_t sector, std::uint32_t unit, std::uint64_t& sectors) {
    if (sector < 0) return {};
    auto m = DetectVolumeAt(reader, std::uint64_t(sector), unit);
    if (!m) return {};
    sectors = m->ExtentIn(unit);
    return ShownName(m->type);
}

// The rows of `tarnwell volumes SOURCE` (the table scan), quietly.
std::vector<VolumeEntry> TableRows(SectorReader& reader, bool gpt) {
    PartitionScanner scanner;
    scanner.gptFormat = gpt;
    scanner.ScanPartitionTables(reader);
    return scanner.Entries();
}

std::string ListRows(const std::vector<VolumeEntry>& rows) {
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const VolumeEntry& v = rows[i];
        text += "  " + std::to_string(i + 1) + "  " + v.fileSystem + "  " + BinarySizeText(v.SizeBytes()) +
                "  start sector " + std::to_string(v.startSector) + "\n";
    }
    return text;
}
}  // namespace

std::optional<std::string> CheckVolumeRange(SectorReader& reader, const VolumeOptions& o) {
    // Compared in sectors and whole MiB, never multiplied out: a start of 2^54
    // sectors or more would overflow the byte offset.
    const std::uint32_t unit = SourceSectorSize(reader);
    const std::uint64_t sectors = reader.fileLength() / unit;
    const std::uint64_t perMiB = (1u << 20) / unit;
    const std::string extent = "the source holds " + std::to_string(sectors) + " sectors of " + std::to_string(unit) +
                               " bytes (" + std::to_string(reader.fileLength()) + " bytes)";
    if (o.startSector && std::uint64_t(*o.startSector) >= sectors)
        return "--start " + std::to_string(*o.startSector) + " is past the end of the source: " + extent;
    if (o.sizeMiB) {
        std::uint64_t rest = sectors - std::uint64_t(o.startSector.value_or(0));
        std::uint64_t restMiB = (rest + perMiB - 1) / perMiB;  // a last part-MiB counts as one
        if (std::uint64_t(*o.sizeMiB) > restMiB)
            return "--size-mib " + std::to_string(*o.sizeMiB) + " runs past the end of the source: " + extent +
                   ", " + std::to_string(restMiB) + " MiB from sector " + std::to_string(o.startSector.value_or(0));
    }
    return std::nullopt;
}

VolumeChoice ChooseVolume(SectorReader& reader, const VolumeOptions& o) {
    VolumeChoice choice;
    if (auto wrong = CheckVolumeRange(reader, o)) {
        choice.error = *wrong;
        return choice;
    }
    if (o.volumeIndex > 0) {
        std::vector<VolumeEntry> rows = TableRows(reader, o.gpt);
        if (std::size_t(o.volumeIndex) > rows.size()) {
            choice.error = rows.empty() ? "no volumes found in the partition tables; try `tarnwell volumes SOURCE "
                                          "--advanced` and --start SECTOR"
                                        : "there is no volume " + std::to_string(o.volumeIndex) +
                                              "; the volumes are:\n" + ListRows(rows);
            return choice;
        }
        VolumeEntry v = rows[o.volumeIndex - 1];
        if (o.fsKind != "auto") v.fileSystem = ForcedName(o.fsKind, v.fileSystem);
        if (FileSystemByName(v.fileSystem).type == FsType::Unknown) {
            choice.error = "can not parse unknown volume";
            return choice;
        }
        choice.volume = v;
        return choice;
    }

    VolumeEntry v;
    std::uint64_t detected = 0;
    v.sectorSize = SourceSectorSize(reader);
    const std::uint64_t deviceSectors = reader.fileLength() / v.sectorSize;
    v.startSector = o.startSector.value_or(0);
    v.foundBy = o.startSector ? FoundBy::Manual : FoundBy::WholeSource;
    std::string kind;
    if (o.fsKind != "auto") {
        // Only a family with finer names is worth a look at the volume's start.
        FsType forced = FileSystemByName(o.fsKind).type;
        std::uint64_t ignored = 0;
        std::string found;
        if (forced == FsType::Ext || forced == FsType::HfsPlus) found = DetectAt(reader, v.startSector, v.sectorSize, ignored);
        kind = ForcedName(o.fsKind, found);
    } else if (o.startSector) {
        kind = DetectAt(reader, v.startSector, v.sectorSize, detected);
        if (kind.empty()) {
            choice.error = "no known file system starts at sector " + std::to_string(v.startSector);
            return choice;
        }
    } else {
        // The whole source is the volume when the table scan takes it for one
        // (a boot sector at sector 0 that is no MBR); else the user must pick.
        std::vector<VolumeEntry> rows = TableRows(reader, o.gpt);
        if (rows.size() == 1 && rows[0].foundBy == FoundBy::WholeSource) {
            choice.volume = rows[0];
            return choice;
        }
        choice.error = rows.empty()
                           ? "the source does not begin with a volume and its partition tables list none; "
                             "find one with `tarnwell volumes SOURCE --advanced` and choose it with --start SECTOR"
                           : "the source does not begin with a volume; pick one with --volume N:\n" + ListRows(rows);
        return choice;
    }
    v.fileSystem = kind;
    std::uint64_t available = deviceSectors > std::uint64_t(v.startSector) ? deviceSectors - v.startSector : 0;
    v.sectorCount = o.sizeMiB ? std::uint64_t(*o.sizeMiB) * ((1u << 20) / v.sectorSize) : (detected ? detected : available);
    v.sizeText = MiBSizeText(v.sectorCount * v.sectorSize, "  ");
    choice.volume = v;
    return choice;
}

}  // namespace tarnwell::cli
