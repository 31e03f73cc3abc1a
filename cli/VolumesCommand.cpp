// tarnwell volumes SOURCE [--gpt] [--advanced [--keep-size] [--range START:END]] [--json]:
// the volumes of a drive or image, from its partition tables or by a search of
// every sector for boot sectors.

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/VolumeChoice.h"
#include "core/DisplayText.h"
#include "fs/FileSystemRegistry.h"
#include "partition/PartitionScanner.h"

namespace tarnwell::cli {

namespace {

struct VolumesOptions {
    std::string source;
    bool gpt = false;
    bool advanced = false;
    bool keepSize = false;
    std::string range;
    bool json = false;
    std::string mapfile;
};

void PrintRow(const VolumeEntry& v, int index, bool json) {
    if (json) {
        nlohmann::json j = {{"index", index},
                            {"name", v.partitionName},
                            {"fs", KindNameOf(v.fileSystem)},
                            {"start_sector", v.startSector},
                            {"sectors", v.sectorCount},
                            {"sector_size", v.sectorSize},
                            {"size", v.SizeBytes()},
                            {"found_by", FoundByName(v.foundBy)}};
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("%-8d %-12s %-14s %lld\n", index, v.fileSystem.c_str(), BinarySizeText(v.SizeBytes()).c_str(),
                    static_cast<long long>(v.startSector));
    }
    std::fflush(stdout);
}

void PrintHeader(bool json) {
    if (!json) std::printf("%-8s %-12s %-14s %s\n", "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR");
}

int RunVolumes(const VolumesOptions& o) {
    PartitionScanner scanner;
    if (!o.range.empty()) {
        std::smatch m;
        static const std::regex kRange("^([0-9]{1,18}):([0-9]{1,18})$");
        if (!std::regex_match(o.range, m, kRange) || std::stoll(m[2]) <= std::stoll(m[1])) {
            std::fprintf(stderr, "--range wants START:END in sectors with END above START\n");
            return kExitUsage;
        }
        scanner.customStartSector = std::stoll(m[1]);
        scanner.customEndSector = std::stoll(m[2]);
    }

    std::unique_ptr<SectorReader> source;
    if (auto error = OpenSource(o.source, o.mapfile, source)) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return kExitUsage;
    }
    SectorReader& reader = *source;

    PrintHeader(o.json);
    int rows = 0;
    bool errors = false;
    if (!o.advanced) {
        TerminalProgress status(false);  // the table scan is too short for a bar
        scanner.progress = &status;
        scanner.gptFormat = o.gpt;
        scanner.onVolume = [&](const VolumeEntry& v) { PrintRow(v, ++rows, o.json); };
        errors = scanner.ScanPartitionTables(reader) != 0 || reader.FailedSectors() > 0;
        if (errors) std::fprintf(stderr, "%llu sectors could not be read\n",
                                 static_cast<unsigned long long>(reader.FailedSectors()));
    } else {
        TerminalProgress progress;
        JobControl control;
        InterruptGuard guard(control);
        scanner.progress = &progress;
        scanner.control = &control;
        scanner.skipVolumeSize = !o.keepSize;
        scanner.onVolume = [&](const VolumeEntry& v) {
            progress.Finish();  // the row starts on a line of its own
            PrintRow(v, ++rows, o.json);
        };
        scanner.ScanForVolumes(reader);
        progress.Finish();
        const VolumeScanSummary& s = scanner.Summary();
        if (s.stopped) {
            errors = true;
            std::fprintf(stderr, "stopped; the volumes found so far are listed\n");
        }
        if (s.unreadableBlocks > 0 || s.unreadableSectors > 0) {
            errors = true;
            std::fprintf(stderr, "%llu sectors could not be read (in %llu blocks)\n",
                         static_cast<unsigned long long>(s.unreadableSectors),
                         static_cast<unsigned long long>(s.unreadableBlocks));
        }
    }
    if (rows == 0) std::fprintf(stderr, "no volumes found\n");
    return errors ? kExitErrors : kExitOk;
}

}  // namespace

void AddVolumesCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<VolumesOptions>();
    CLI::App* cmd = app.add_subcommand("volumes", "List the volumes of a drive or image");
    cmd->add_option("SOURCE", o->source, "Device or image file")->required();
    AddMapfileOption(cmd, o->mapfile);
    cmd->add_flag("--gpt", o->gpt, "Read the GPT even without a protective MBR");
    auto* advanced = cmd->add_flag("--advanced", o->advanced, "Search every sector for boot sectors");
    cmd->add_flag("--keep-size", o->keepSize, "Do not jump over found volumes (lists their backup copies too)")
        ->needs(advanced);
    cmd->add_option("--range", o->range, "Search only sectors START:END")->needs(advanced);
    cmd->add_flag("--json", o->json, "One JSON object per line");
    cmd->callback([o, &exitCode] { exitCode = RunVolumes(*o); });
}

}  // namespace tarnwell::cli
