// tarnwell search SOURCE [VOLUME] PATTERN [--json]: the rows whose names match an
// ECMAScript regular expression, without regard to case, with their paths.

#include <cstdio>
#include <chrono>
#include <memory>
#include <thread>

#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/ScanVolume.h"
#include "scan/NameSearch.h"

namespace tarnwell::cli {

namespace {

struct SearchOptions {
    ScanOptions scan;
    std::string pattern;
    bool json = false;
};

int RunSearch(const SearchOptions& o) {
    // A pattern that cannot be used is known before a long scan.
    if (!NamePattern::Make(o.pattern)) {
        std::fprintf(stderr, "not a regular expression: %s\n", VisibleText(o.pattern).c_str());
        return kExitUsage;
    }
    ScannedVolume s;
    if (int rc = OpenAndScan(o.scan, s); rc != kExitOk) return rc;
    std::uint64_t hits = 0;
    SearchEnd end = SearchEnd::Finished;
    InterruptGuard guard(s.control);
    bool started = s.job->StartSearch(
        o.pattern,
        [&](const SearchHit& hit) {
            EntryInfo info = s.parser->Info(hit.row);
            std::string path = hit.RelativePath();
            std::printf("%s\n", (o.json ? EntryJsonLine(info, path) : EntryTextLine(info, path)).c_str());
            ++hits;
        },
        [&](SearchEnd e) { end = e; });
    if (!started) return kExitUsage;
    while (s.job->WorkerBusy()) {
        if (s.control.StopRequested()) s.job->Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    s.job->Wait();
    s.progress.Finish();
    if (end == SearchEnd::InvalidPattern) return kExitUsage;
    bool stopped = s.stopped || end == SearchEnd::Stopped;
    std::fprintf(stderr, "%s%llu found\n", stopped ? "stopped: " : "", static_cast<unsigned long long>(hits));
    std::uint64_t bad = s.reader->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    return stopped || bad > 0 ? kExitErrors : kExitOk;
}

}  // namespace

void AddSearchCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<SearchOptions>();
    CLI::App* cmd = app.add_subcommand("search", "Find files by name: a regular expression, case ignored");
    AddScanOptions(cmd, o->scan);
    cmd->add_option("PATTERN", o->pattern, "Regular expression, e.g. '\\.jpg$|\\.png$'")->required();
    cmd->add_flag("--json", o->json, "The hits as `list --json` lines");
    cmd->callback([o, &exitCode] { exitCode = RunSearch(*o); });
}

}  // namespace tarnwell::cli
