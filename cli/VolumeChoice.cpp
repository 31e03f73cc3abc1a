#include "cli/VolumeChoice.h"

#include <vector>

#include "fs/ByteView.h"
#include "fs/DisplayText.h"
#include "partition/FatBootSector.h"

namespace tarnwell::cli {

void AddVolumeOptions(CLI::App* command, VolumeOptions& o) {
    auto* volume = command->add_option("--volume", o.volumeIndex, "Row N of `tarnwell volumes`")
                       ->check(CLI::PositiveNumber);
    auto* start = command->add_option("--start", o.startSector, "First sector of the volume")
                      ->check(CLI::NonNegativeNumber);
    command->add_option("--size-mib", o.sizeMiB, "Volume size in MiB (with --start)")
        ->needs(start)
        ->check(CLI::PositiveNumber);
    command->add_option("--fs", o.fsKind, "File system: auto|ntfs|fat12|fat16|fat32|exfat|ext|hfsplus")
        ->check(CLI::IsMember({"auto", "ntfs", "fat12", "fat16", "fat32", "exfat", "ext", "hfsplus"}));
    command->add_flag("--gpt", o.gpt, "Read the GPT even without a protective MBR");
    volume->excludes(start);
}

std::optional<std::string> OpenSource(const std::string& source, FileReadSeek& reader) {
    SilentPrompter quiet;  // the message below says more than "invalid handle ..."
    FileReadSeek probe(quiet);
    if (!probe.Open(source)) return "cannot open " + source + ": " + probe.LastError();
    probe.Close();
    if (!reader.Open(source)) return "cannot open " + source + ": " + reader.LastError();
    return std::nullopt;
}

std::string FsKindForOption(const std::string& v) {
    if (v == "ntfs") return "NTFS";
    if (v == "fat12") return "FAT12";
    if (v == "fat16") return "FAT16";
    if (v == "fat32") return "FAT32";
    if (v == "exfat") return "FAT64";
    if (v == "ext") return "extX";
    if (v == "hfsplus") return "HFS+";
    return {};
}

namespace {
// The file system whose boot sector or header starts at sector; empty when none.
// TODO(partition): replace with the shared boot-sector tests of every kind.
std::string DetectAt(readWriteInterface& reader, std::int64_t sector, std::uint64_t& sectors) {
    std::vector<std::uint8_t> boot(512);
    if (!reader.ReadAt(sector * 512 - reader.baseOffset(), boot.data(), boot.size())) return {};
    if (auto fat = ParseFatBootSector(boot)) {
        sectors = fat->VolumeBytes() / 512;
        return FatKindName(fat->kind);
    }
    return {};
}
}  // namespace

VolumeChoice ChooseVolume(readWriteInterface& reader, const VolumeOptions& o) {
    VolumeChoice choice;
    VolumeEntry v;
    std::uint64_t detected = 0;
    if (o.volumeIndex > 0) {
        choice.error = "--volume needs the partition scanner";
        return choice;
    }
    v.startSector = o.startSector.value_or(0);
    v.foundBy = o.startSector ? FoundBy::Manual : FoundBy::WholeSource;
    std::string kind = o.fsKind == "auto" ? DetectAt(reader, v.startSector, detected) : FsKindForOption(o.fsKind);
    if (kind.empty()) {
        choice.error = o.startSector ? "no known file system starts at sector " + std::to_string(v.startSector)
                                     : "the source does not begin with a volume; choose one with --volume N "
                                       "or --start SECTOR";
        return choice;
    }
    v.fileSystem = kind;
    std::uint64_t available = reader.deviceSectorCount() > std::uint64_t(v.startSector)
                                  ? reader.deviceSectorCount() - v.startSector
                                  : 0;
    v.sectorCount = o.sizeMiB ? std::uint64_t(*o.sizeMiB) * 2048 : (detected ? detected : available);
    v.sizeText = MiBSizeText(v.sectorCount * 512, "  ");
    choice.volume = v;
    return choice;
}

}  // namespace tarnwell::cli
