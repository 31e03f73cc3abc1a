// tarnwell candidates SOURCE [VOLUME] [--max N] [--json]: what the advanced
// mode would offer for a damaged volume: where its table (FAT or MFT) may
// begin, the cluster sizes, and for exFAT the cluster heap's start, each entry
// with its byte position from the volume start.

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/VolumeChoice.h"
#include "fs/FileSystemRegistry.h"
#include "scan/AdvancedCandidates.h"

namespace tarnwell::cli {

namespace {

struct CandidatesOptions {
    std::string source;
    VolumeOptions volume;
    int max = 3;
    bool json = false;
    std::string mapfile;
};

const char* BootSourceName(BootSource s) {
    return s == BootSource::Primary ? "primary" : s == BootSource::Backup ? "backup" : "none";
}

// "exFAT table 0", "NTFS MFT 2": the row's --table index under the volume's shown name.
std::string TableLabel(const VolumeEntry& volume, std::size_t i) {
    const FileSystemInfo& fs = FileSystemByName(volume.fileSystem);
    return std::string(fs.shown) + (fs.type == FsType::Ntfs ? " MFT " : " table ") + std::to_string(i);
}

int RunCandidates(const CandidatesOptions& o) {
    std::unique_ptr<SectorReader> source;
    if (auto error = OpenSource(o.source, o.mapfile, source)) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return kExitUsage;
    }
    VolumeChoice choice = ChooseVolume(*source, o.volume);
    if (!choice.volume) {
        std::fprintf(stderr, "%s\n", choice.error.c_str());
        return kExitUsage;
    }
    const VolumeEntry& volume = *choice.volume;
    TableKind kind;
    if (!TableKindForName(volume.fileSystem, kind)) {
        std::fprintf(stderr, "the advanced mode reads NTFS, FAT12, FAT16, FAT32 and exFAT volumes, not %s\n",
                     FileSystemByName(volume.fileSystem).type == FsType::Unknown
                         ? ("\"" + volume.fileSystem + "\"").c_str()
                         : FileSystemByName(volume.fileSystem).shown);
        return kExitUsage;
    }
    TerminalProgress progress;
    CliPrompter prompter;
    JobControl control;
    InterruptGuard guard(control);
    TableCandidates found = FindAdvancedCandidates(*source, volume, kind, o.max, progress, prompter, &control);
    progress.Finish();

    const bool exfat = kind == TableKind::ExFat;
    if (o.json) {
        nlohmann::json j;
        j["fs"] = KindNameOf(volume.fileSystem);
        j["boot"] = BootSourceName(found.boot.source);
        j["stopped"] = found.stopped;
        j["tables"] = nlohmann::json::array();
        for (std::size_t i = 0; i < found.tables.size(); ++i)
            j["tables"].push_back({{"index", i},
                                   {"name", TableLabel(volume, i)},
                                   {"position", found.tables[i]}});
        j["cluster_sizes"] = found.clusterSizes;
        j["cluster_size_unit"] = exfat ? "shift" : "sectors";
        if (exfat) {
            j["heaps"] = nlohmann::json::array();
            for (std::size_t i = 0; i < found.heaps.size(); ++i)
                j["heaps"].push_back({{"index", i},
                                      {"name", "heap " + std::to_string(i)},
                                      {"position", found.heaps[i]}});
        }
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("%-22s %s\n", "TABLE", "POSITION");
        for (std::size_t i = 0; i < found.tables.size(); ++i)
            std::printf("%-22s %llu\n", TableLabel(volume, i).c_str(),
                        static_cast<unsigned long long>(found.tables[i]));
        if (exfat) {
            std::printf("%-22s %s\n", "HEAP", "POSITION");
            for (std::size_t i = 0; i < found.heaps.size(); ++i)
                std::printf("%-22s %llu\n", ("heap " + std::to_string(i)).c_str(),
                            static_cast<unsigned long long>(found.heaps[i]));
        }
        std::printf("%s", exfat ? "CLUSTER_SHIFT" : "SECTORS_PER_CLUSTER");
        for (std::uint32_t s : found.clusterSizes) std::printf(" %u", s);
        std::printf("\n");
        std::printf("BOOT_SECTOR %s\n", BootSourceName(found.boot.source));
    }
    if (found.stopped) std::fprintf(stderr, "stopped; the candidates found so far are listed\n");
    if (found.tables.empty()) std::fprintf(stderr, "no table found\n");
    std::uint64_t bad = source->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    return found.stopped || bad > 0 ? kExitErrors : kExitOk;
}

}  // namespace

void AddCandidatesCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<CandidatesOptions>();
    CLI::App* cmd = app.add_subcommand("candidates", "Where a damaged volume's table, clusters and heap may lie");
    cmd->add_option("SOURCE", o->source, "Device or image file")->required();
    AddVolumeOptions(cmd, o->volume);
    AddMapfileOption(cmd, o->mapfile);
    cmd->add_option("--max", o->max, "At most N table (and heap) candidates; below 1 counts as 3");
    cmd->add_flag("--json", o->json, "One JSON object");
    cmd->callback([o, &exitCode] { exitCode = RunCandidates(*o); });
}

}  // namespace tarnwell::cli
