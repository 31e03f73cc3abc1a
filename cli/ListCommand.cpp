// tarnwell list SOURCE [VOLUME] [--mode standard|deep|advanced] [--formatted] [--json]:
// every file and folder the parser finds, live and deleted, in tree order.

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ScanVolume.h"
#include "fs/DisplayText.h"

namespace tarnwell::cli {

namespace {

struct ListOptions {
    ScanOptions scan;
    bool json = false;
};

nlohmann::json TimeJson(const FileTime& t) {
    if (!t.valid) return nullptr;
    return IsoText(t);
}

// "2024-06-01 11:01:00" for the listing (the ISO text with a blank for the "T").
std::string ShortTime(const FileTime& t) {
    std::string s = IsoText(t);
    if (s.size() >= 19) {
        s[10] = ' ';
        s.resize(19);
    }
    return s;
}

int RunList(const ListOptions& o) {
    ScannedVolume s;
    if (int rc = OpenAndScan(o.scan, s); rc != kExitOk) return rc;
    const FileSystemParser& p = *s.parser;

    std::uint64_t files = 0, folders = 0, deleted = 0;
    if (!o.json)
        std::printf("%s volume at sector %lld, %s\n", s.volume.fileSystem.c_str(),
                    static_cast<long long>(s.volume.startSector), s.volume.sizeText.c_str());
    WalkTree(p, p.Root(), [&](const EntryInfo& e, const std::string& path) {
        (e.folder ? folders : files)++;
        if (e.deleted) ++deleted;
        if (o.json) {
            nlohmann::ordered_json j = {{"path", path},
                                {"type", e.folder ? "dir" : "file"},
                                {"deleted", e.deleted},
                                {"orphan", e.orphan},
                                {"size", e.size},
                                {"created", TimeJson(e.created)},
                                {"modified", TimeJson(e.modified)},
                                {"accessed", TimeJson(e.accessed)},
                                {"attributes", e.attributes},
                                {"id", std::to_string(e.id)}};
            std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
        } else {
            std::string size = e.folder ? "" : std::to_string(e.size);
            std::string marks;
            if (e.deleted) marks += "  (deleted)";
            if (e.orphan) marks += "  (orphan)";
            std::printf("%c%c %12s  %-19s  %s%s%s\n", e.folder ? 'd' : '-', e.deleted ? '*' : ' ', size.c_str(),
                        ShortTime(e.modified).c_str(), path.c_str(), e.folder ? "/" : "", marks.c_str());
        }
        return true;
    });
    if (!o.json)
        std::printf("%llu files, %llu folders; %llu of them deleted (marked *)\n",
                    static_cast<unsigned long long>(files), static_cast<unsigned long long>(folders),
                    static_cast<unsigned long long>(deleted));
    std::uint64_t bad = s.reader->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    return (bad > 0 || s.stopped) ? kExitErrors : kExitOk;
}

}  // namespace

void AddListCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ListOptions>();
    CLI::App* cmd = app.add_subcommand("list", "List the files and folders of a volume, deleted ones included");
    AddScanOptions(cmd, o->scan);
    cmd->add_flag("--json", o->json, "One JSON object per line, in tree order");
    cmd->callback([o, &exitCode] { exitCode = RunList(*o); });
}

}  // namespace tarnwell::cli
