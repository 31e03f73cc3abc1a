// tarnwell drives [--json]: the physical drives and mounted volumes to recover from.

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "core/DisplayText.h"
#include "fs/FileSystemRegistry.h"
#include "scan/DriveList.h"

namespace tarnwell::cli {

namespace {

struct DrivesOptions {
    bool json = false;
    DriveListRoots roots;
};

int RunDrives(const DrivesOptions& o) {
    auto drives = ListPhysicalDrives(o.roots);
    auto volumes = ListMountedVolumes(o.roots);
    bool unreadable = false;

    if (o.json) {
        for (const auto& d : drives) {
            nlohmann::json j = {{"group", "physical"}, {"number", d.number},   {"device", d.devicePath},
                                {"name", d.itemText},  {"size", d.sizeBytes},  {"removable", d.removable},
                                {"readable", d.readable}};
            if (!d.backingFile.empty()) j["backing_file"] = d.backingFile;
            std::printf("%s\n", j.dump().c_str());
            unreadable |= !d.readable;
        }
        for (const auto& v : volumes) {
            nlohmann::json j = {{"group", "volume"},          {"mount_point", v.entry.rootPath},
                                {"device", v.entry.location}, {"fs", KindNameOf(v.entry.fileSystem)},
                                {"size", v.entry.SizeBytes()},   {"sectors", v.entry.sectorCount},
                                {"readable", v.readable}};
            std::printf("%s\n", j.dump().c_str());
        }
    } else {
        std::printf("PHYSICAL DRIVES:\n");
        if (drives.empty()) std::printf("  (none)\n");
        for (const auto& d : drives) {
            std::string text = d.itemText;
            if (!d.backingFile.empty()) text += " (" + d.backingFile + ")";
            std::printf("  %-3d %-14s %-12s %s%s%s\n", d.number, d.devicePath.c_str(),
                        BinarySizeText(d.sizeBytes).c_str(), text.c_str(), d.removable ? "  [removable]" : "",
                        d.readable ? "" : "  [no access]");
            unreadable |= !d.readable;
        }
        std::printf("VOLUMES:\n");
        if (volumes.empty()) std::printf("  (none)\n");
        for (const auto& v : volumes)
            std::printf("  %-24s %-16s %-8s %s\n", v.entry.rootPath.c_str(), v.entry.location.c_str(),
                        v.entry.fileSystem.c_str(), BinarySizeText(v.entry.SizeBytes()).c_str());
    }
    if (unreadable)
        std::fprintf(stderr,
                     "Some drives cannot be opened by this user. Run tarnwell as root, or add yourself to "
                     "the disk group (sudo usermod -aG disk $USER) and log in again.\n");
    return kExitOk;
}

}  // namespace

void AddDrivesCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<DrivesOptions>();
    CLI::App* cmd = app.add_subcommand("drives", "List physical drives and mounted volumes");
    cmd->add_flag("--json", o->json, "One JSON object per line");
    // Fixed trees instead of the live system, for tests.
    cmd->add_option("--sys-block", o->roots.sysBlock)->group("");
    cmd->add_option("--sys-class-block", o->roots.sysClassBlock)->group("");
    cmd->add_option("--dev", o->roots.dev)->group("");
    cmd->add_option("--mountinfo", o->roots.mountinfo)->group("");
    cmd->callback([o, &exitCode] { exitCode = RunDrives(*o); });
}

}  // namespace tarnwell::cli
