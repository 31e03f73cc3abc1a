// tarnwell recover SOURCE [VOLUME] [--mode ...] [--formatted] --out DIR [--path PATH]
//                  [--match REGEX] [--no-deleted] [--domain-out FILE] [--report FILE]
// Copies the files of a volume (or of one folder or file of it) into DIR with
// their times, through the output writer: safe names, nothing outside DIR,
// clashes kept as "name (2).ext", every failure counted.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "cli/Commands.h"
#include "cli/ScanVolume.h"
#include "fs/OutputWriter.h"
#include "fs/RunReport.h"
#include "fs/SavePlan.h"
#include "scan/NameSearch.h"

namespace tarnwell::cli {

namespace {

constexpr std::size_t kErrorsShown = 50;

struct RecoverOptions {
    ScanOptions scan;
    std::string out;
    std::string path;
    std::string match;
    bool noDeleted = false;
    std::string domainOut;
    std::string report;
};

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The row at a "/"-separated path below the root: exact names first, then
// without regard to case; a live row before a deleted one of the same name.
// found is the path as the volume spells it, parent the folder holding the row.
std::optional<RowId> Resolve(const FileSystemParser& p, const std::string& path, std::string& found, RowId& parent) {
    found.clear();
    RowId at = p.Root();
    parent = kNoRow;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t cut = path.find('/', from);
        std::string part = path.substr(from, cut == std::string::npos ? std::string::npos : cut - from);
        from = cut == std::string::npos ? path.size() + 1 : cut + 1;
        if (part.empty() || part == ".") continue;
        std::optional<RowId> match;
        for (int pass = 0; pass < 4 && !match; ++pass) {
            bool exact = pass < 2, live = pass % 2 == 0;
            for (RowId r = p.FirstChild(at); r != kNoRow && !match; r = p.NextSibling(r)) {
                EntryInfo e = p.Info(r);
                if (e.deleted == live) continue;
                if (exact ? e.name == part : SameNoCase(e.name, part)) match = r;
            }
        }
        if (!match) return std::nullopt;
        parent = at;
        at = *match;
        found.append(found.empty() ? "" : "/").append(p.Info(at).name);
    }
    return at;
}

// The options that shape what a run recovers (not where its side files go).
nlohmann::ordered_json ReportOptions(const RecoverOptions& o) {
    auto orNull = [](const std::string& v) { return v.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(v); };
    const VolumeOptions& v = o.scan.volume;
    return {{"out", o.out},
            {"mode", o.scan.mode},
            {"formatted", o.scan.formatted},
            {"path", orNull(o.path)},
            {"match", orNull(o.match)},
            {"no_deleted", o.noDeleted},
            {"mapfile", orNull(o.scan.mapfile)},
            {"volume",
             {{"index", v.volumeIndex > 0 ? nlohmann::ordered_json(v.volumeIndex) : nlohmann::ordered_json(nullptr)},
              {"start", v.startSector ? nlohmann::ordered_json(*v.startSector) : nlohmann::ordered_json(nullptr)},
              {"size_mib", v.sizeMiB ? nlohmann::ordered_json(*v.sizeMiB) : nlohmann::ordered_json(nullptr)},
              {"fs", v.fsKind}}},
            {"advanced", o.scan.mode != "advanced" ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json{{"max", o.scan.advanced.max},
                                                                            {"table", o.scan.advanced.table},
                                                                            {"cluster", o.scan.advanced.cluster},
                                                                            {"heap", o.scan.advanced.heap}}}};
}

int RunRecover(const RecoverOptions& o) {
    const std::string started = UtcNow();  // before the scan, which is part of the run
    // The matcher of `search`, so that both find the same names.
    std::optional<NamePattern> match;
    if (!o.match.empty()) {
        match = NamePattern::Make(o.match);
        if (!match) {
            std::fprintf(stderr, "--match: not a regular expression: %s\n", o.match.c_str());
            return kExitUsage;
        }
    }
    OutputWriter writer(o.out);
    if (auto problem = writer.Problem()) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return kExitUsage;
    }
    if (auto refused = writer.RefuseSource(o.scan.source)) {
        std::fprintf(stderr, "%s\n", refused->c_str());
        return kExitUsage;
    }

    ScannedVolume s;
    if (int rc = OpenAndScan(o.scan, s); rc != kExitOk) return rc;
    FileSystemParser& p = *s.parser;

    RowId start = p.Root(), startParent = kNoRow;
    std::string startPath;
    if (!o.path.empty()) {
        auto found = Resolve(p, o.path, startPath, startParent);
        if (!found) {
            std::fprintf(stderr, "no file or folder %s on the volume\n", o.path.c_str());
            return kExitUsage;
        }
        start = *found;
    }

    // A folder's contents land in --out; a file lands there alone.
    SaveSelection what;
    what.includeDeleted = !o.noDeleted;
    if (match) what.nameFilter = [&match](const std::string& name) { return match->Matches(name); };
    what.record = !o.report.empty();
    what.hash = what.record;
    EntryInfo target = p.Info(start);
    if (target.folder || start == p.Root()) {
        what.base = start;
        what.basePath = startPath;
    } else {
        what.base = startParent;
        what.basePath = startPath.substr(0, startPath.size() - std::min(startPath.size(), target.name.size() + 1));
        what.rows = {{start}};
    }
    InterruptGuard guard(s.control);
    SaveResult r = SavePlan(p, std::move(what)).Run(writer, writer.Root(), s.progress, &s.control);
    s.progress.Finish();

    std::printf("Recovered into %s: %llu files written whole, %llu partial, %llu failed\n", o.out.c_str(),
                static_cast<unsigned long long>(r.whole), static_cast<unsigned long long>(r.partial),
                static_cast<unsigned long long>(r.failed));
    const auto& errors = writer.Errors();
    for (std::size_t i = 0; i < errors.size() && i < kErrorsShown; ++i) std::fprintf(stderr, "  %s\n", errors[i].c_str());
    if (errors.size() > kErrorsShown)
        std::fprintf(stderr, "  ... and %zu more\n", errors.size() - kErrorsShown);
    const auto& renamed = writer.Renamed();
    if (!renamed.empty()) std::fprintf(stderr, "%zu names changed to fit the output folder:\n", renamed.size());
    for (std::size_t i = 0; i < renamed.size() && i < kErrorsShown; ++i) std::fprintf(stderr, "  %s\n", renamed[i].c_str());
    if (renamed.size() > kErrorsShown) std::fprintf(stderr, "  ... and %zu more\n", renamed.size() - kErrorsShown);
    for (std::size_t i = 0; i < r.unreadableFiles.size() && i < kErrorsShown; ++i)
        std::fprintf(stderr, "  %s\n", r.unreadableFiles[i].c_str());
    if (r.unreadableFiles.size() > kErrorsShown)
        std::fprintf(stderr, "  ... and %zu more files with unreadable bytes\n", r.unreadableFiles.size() - kErrorsShown);
    const bool stopped = r.stopped;
    const std::uint64_t failed = r.failed, partial = r.partial;
    std::uint64_t bad = s.reader->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    if (stopped) std::fprintf(stderr, "stopped: the files written so far are kept\n");
    bool domainFailed = false;
    if (s.recorder) {
        std::ofstream domain(o.domainOut);
        domain << s.recorder->DomainMapfile();
        domain.close();
        domainFailed = !domain;
        if (domainFailed) std::fprintf(stderr, "cannot write the domain mapfile %s\n", o.domainOut.c_str());
    }
    bool reportFailed = false;
    if (!o.report.empty()) {
        RunReport report = ReportOf(p, o.scan.source, std::move(r));
        report.started = started;
        report.finished = UtcNow();
        report.options = ReportOptions(o);
        report.stopped = stopped || s.stopped;
        std::string error;
        reportFailed = !WriteReport(o.report, report, error);
        if (reportFailed) std::fprintf(stderr, "%s\n", error.c_str());
    }
    bool errorsSeen = failed > 0 || partial > 0 || writer.FilesFailed() > 0 || bad > 0 || stopped ||
                      s.stopped || domainFailed || reportFailed;
    return errorsSeen ? kExitErrors : kExitOk;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand("recover", "Copy the files of a volume into a folder on another drive");
    AddScanOptions(cmd, o->scan);
    cmd->add_option("--out", o->out, "Output folder (on another drive than SOURCE)")->required();
    cmd->add_option("--path", o->path, "Only this folder's contents, or this file (\"/\"-separated, from the root)");
    cmd->add_option("--match", o->match, "Only files whose names match this regular expression (any case)");
    cmd->add_flag("--no-deleted", o->noDeleted, "Leave deleted files and folders out");
    cmd->add_option("--domain-out", o->domainOut,
                    "Write a ddrescue domain mapfile of the sectors this run read (metadata and the chosen "
                    "files), for `ddrescue --domain-mapfile`");
    cmd->add_option("--report", o->report,
                    "Write a JSON report of the run: source, volume, options, and per file its size, SHA-256 of "
                    "what was written, times set, unreadable bytes and status");
    cmd->callback([o, &exitCode] {
        o->scan.recordReads = !o->domainOut.empty();
        exitCode = RunRecover(*o);
    });
}

}  // namespace tarnwell::cli
