#include "cli/ScanVolume.h"

#include <cstdio>
#include <vector>

#include "cli/Commands.h"
#include "fs/ParserFactory.h"

namespace tarnwell::cli {

namespace {
// Deeper than any real tree (the parsers' links never loop, but stay safe).
constexpr std::size_t kMaxDepth = 512;

RecoveryMode ModeOf(const std::string& mode) {
    if (mode == "deep") return RecoveryMode::Deep;
    if (mode == "advanced") return RecoveryMode::Advanced;
    return RecoveryMode::Standard;
}
}  // namespace

void AddScanOptions(CLI::App* command, ScanOptions& o) {
    command->add_option("SOURCE", o.source, "Device or image file")->required();
    AddVolumeOptions(command, o.volume);
    AddMapfileOption(command, o.mapfile);
    command->add_option("--mode", o.mode, "Recovery mode: standard|deep|advanced")
        ->check(CLI::IsMember({"standard", "deep", "advanced"}));
    command->add_flag("--formatted", o.formatted,
                      "The volume was formatted since the lost files were written: also search it for the "
                      "folders of the earlier file system");
}

int OpenAndScan(const ScanOptions& o, ScannedVolume& s) {
    if (auto problem = OpenSource(o.source, o.mapfile, s.reader)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return kExitUsage;
    }
    VolumeChoice choice = ChooseVolume(*s.reader, o.volume);
    if (!choice.volume) {
        std::fprintf(stderr, "%s\n", choice.error.c_str());
        return kExitUsage;
    }
    s.volume = *choice.volume;

    ParserLinks links;
    links.reader = s.reader.get();
    links.volume = s.volume;
    links.progress = &s.progress;
    links.prompter = &s.prompter;
    links.control = &s.control;
    links.driveFormatted = o.formatted;
    s.parser = MakeParser(s.volume.fileSystem, links);
    if (!s.parser) {
        std::fprintf(stderr, "no parser reads %s volumes yet\n",
                     s.volume.fileSystem.empty() ? "such" : s.volume.fileSystem.c_str());
        return kExitUsage;
    }

    InterruptGuard guard(s.control);
    bool ok = s.parser->Scan(ModeOf(o.mode));
    s.progress.Finish();
    if (!ok) return kExitUsage;  // refused: the parser has said why
    s.stopped = s.control.StopRequested();
    if (s.stopped) std::fprintf(stderr, "stopped: showing what was found so far\n");
    return kExitOk;
}

void WalkTree(const FileSystemParser& parser, RowId folder,
              const std::function<bool(const EntryInfo&, const std::string&)>& visit) {
    struct Level {
        RowId next;
        std::string path;  // of the folder whose children these are
    };
    std::vector<Level> stack{{parser.FirstChild(folder), ""}};
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == kNoRow) {
            stack.pop_back();
            continue;
        }
        RowId row = top.next;
        top.next = parser.NextSibling(row);
        EntryInfo info = parser.Info(row);
        std::string path = top.path.empty() ? info.name : top.path + "/" + info.name;
        bool descend = visit(info, path);
        if (info.folder && descend && stack.size() < kMaxDepth) stack.push_back({parser.FirstChild(row), path});
    }
}

}  // namespace tarnwell::cli
