#include "cli/ScanVolume.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "core/Limits.h"
#include "fs/FileSystemRegistry.h"

namespace tarnwell::cli {

namespace {
// Deeper than any real tree (the parsers' links never loop, but stay safe).
constexpr std::size_t kMaxDepth = limits::kMaxFolderDepth;

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
    // The advanced mode's picks: indices into the lists `tarnwell candidates` prints.
    command->add_option("--max", o.advanced.max, "Advanced: at most N table candidates (below 1: 3)");
    command->add_option("--table", o.advanced.table, "Advanced: the table candidate to use (index)")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--cluster", o.advanced.cluster, "Advanced: the cluster size to use (index)")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--heap", o.advanced.heap, "Advanced: the exFAT heap candidate to use (index)")
        ->check(CLI::NonNegativeNumber);
}

int OpenAndScan(const ScanOptions& o, ScannedVolume& s) {
    if (auto problem = OpenSource(o.source, o.mapfile, s.session.reader)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return kExitUsage;
    }
    if (o.recordReads) {
        auto recorder = std::make_unique<RecordingReader>(std::move(s.session.reader));
        s.recorder = recorder.get();
        s.session.reader = std::move(recorder);
    }
    s.reader = s.session.reader.get();
    s.session.devicePath = o.source;
    s.session.deviceSectorCount = s.reader->deviceSectorCount();
    VolumeChoice choice = ChooseVolume(*s.reader, o.volume);
    if (!choice.volume) {
        std::fprintf(stderr, "%s\n", choice.error.c_str());
        return kExitUsage;
    }
    s.volume = *choice.volume;
    s.session.selectedVolume = s.volume;
    s.session.recoveryMode = ModeOf(o.mode);
    s.session.driveFormatted = o.formatted;
    s.session.advanced = o.advanced;

    s.job = std::make_unique<ScanJob>(s.session, s.progress, s.prompter);
    InterruptGuard guard(s.control);
    if (!s.job->Start()) return kExitUsage;  // the job has said why
    // Ctrl-C raises our flag in the signal handler; the job is stopped from here.
    while (s.job->WorkerBusy()) {
        if (s.control.StopRequested() && !s.stopped) {
            s.stopped = true;
            s.job->Stop();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    s.job->Wait();
    s.progress.Finish();
    s.parser = s.job->Parser();
    ScanOutcome outcome = s.job->Outcome();
    if (outcome == ScanOutcome::Refused || outcome == ScanOutcome::Aborted) {
        // A parser that found nothing it could read may have had nothing more to say.
        if (s.prompter.ErrorsPrinted() == 0)
            std::fprintf(stderr, "error: no readable %s file system at sector %lld; see --fs\n",
                         s.volume.fileSystem.c_str(), static_cast<long long>(s.volume.startSector));
        return kExitUsage;
    }
    s.stopped = s.stopped || outcome == ScanOutcome::Stopped;
    if (s.stopped) std::fprintf(stderr, "stopped: showing what was found so far\n");
    // A Ctrl-C during the scan must not cut short what the command does next.
    s.control.Reset();
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
