// tarnwell list SOURCE [VOLUME] [--mode standard|deep|advanced] [--formatted] [--json]:
// every file and folder the parser finds, live and deleted, in tree order.

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/ScanVolume.h"
#include "core/DisplayText.h"

namespace tarnwell::cli {

namespace {

struct ListOptions {
    ScanOptions scan;
    bool json = false;
    bool bodyfile = false;
};

int RunList(const ListOptions& o) {
    ScannedVolume s;
    if (int rc = OpenAndScan(o.scan, s); rc != kExitOk) return rc;
    const FileSystemParser& p = *s.parser;

    std::uint64_t files = 0, folders = 0, deleted = 0;
    if (!o.json && !o.bodyfile)
        std::printf("%s volume at sector %lld, %s\n", s.volume.fileSystem.c_str(),
                    static_cast<long long>(s.volume.startSector), BinarySizeText(s.volume.SizeBytes()).c_str());
    // A large tree on a slow terminal takes its time too: a stop ends the listing.
    InterruptGuard guard(s.control);
    bool cut = false;
    WalkTree(p, p.Root(), [&](const EntryInfo& e, const std::string& path) {
        if (cut || s.control.StopRequested()) {
            cut = true;
            return false;
        }
        (e.folder ? folders : files)++;
        if (e.deleted) ++deleted;
        if (o.bodyfile)
            std::printf("%s\n", EntryBodyfileLine(e, path).c_str());
        else if (o.json)
            std::printf("%s\n", EntryJsonLine(e, path).c_str());
        else
            std::printf("%s\n", EntryTextLine(e, path).c_str());
        return true;
    });
    if (!o.json && !o.bodyfile)
        std::printf("%llu %s, %llu %s; %llu of them deleted (marked *)\n", static_cast<unsigned long long>(files),
                    files == 1 ? "file" : "files", static_cast<unsigned long long>(folders),
                    folders == 1 ? "folder" : "folders", static_cast<unsigned long long>(deleted));
    if (cut) std::fprintf(stderr, "stopped: the listing is cut short\n");
    std::uint64_t bad = s.reader->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    return (bad > 0 || s.stopped || cut) ? kExitErrors : kExitOk;
}

}  // namespace

void AddListCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ListOptions>();
    CLI::App* cmd = app.add_subcommand("list", "List the files and folders of a volume, deleted ones included");
    AddScanOptions(cmd, o->scan);
    auto* json = cmd->add_flag("--json", o->json, "One JSON object per line, in tree order");
    cmd->add_flag("--bodyfile", o->bodyfile, "The bodyfile format of `fls -m /`, for `mactime -b`")->excludes(json);
    cmd->callback([o, &exitCode] { exitCode = RunList(*o); });
}

}  // namespace tarnwell::cli
