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
#include "cli/RunReport.h"
#include "cli/ScanVolume.h"
#include "core/Limits.h"
#include "device/SourceOpener.h"
#include "fs/OutputWriter.h"
#include "scan/NameSearch.h"

namespace tarnwell::cli {

namespace {

constexpr std::size_t kMaxDepth = limits::kMaxFolderDepth;
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
// found is the path as the volume spells it.
std::optional<RowId> Resolve(const FileSystemParser& p, const std::string& path, std::string& found) {
    found.clear();
    RowId at = p.Root();
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
        at = *match;
        found.append(found.empty() ? "" : "/").append(p.Info(at).name);
    }
    return at;
}

class Recovery {
public:
    struct Frame {
        std::string name;
        std::size_t parent;
        std::optional<OutputFolder> out;
        std::string path;     // on the volume
        bool failed = false;  // it could not be made: its files fail without another try
    };

    static std::string Join(const std::string& folder, const std::string& name) {
        return folder.empty() ? name : folder + "/" + name;
    }

    Recovery(FileSystemParser& parser, OutputWriter& writer, ProgressSink& progress, const RecoverOptions& o,
             const NamePattern* match, const SectorReader& reader, const JobControl& control)
        : p_(parser), writer_(writer), progress_(progress), o_(o), match_(match), reader_(reader),
          control_(control), terminal_(::isatty(STDERR_FILENO) == 1) {}

    std::uint64_t whole = 0, partial = 0, failed = 0, attempted = 0;
    bool stopped = false;
    std::vector<ReportedFile> files;  // what became of each file, for the report
    std::vector<std::string> unreadableFiles;  // "PATH: N of its bytes were unreadable"

    std::uint64_t Count(RowId folder) const {
        std::uint64_t n = 0;
        WalkTree(p_, folder, [&](const EntryInfo& e, const std::string&) {
            if (e.deleted && o_.noDeleted) return false;
            if (!e.folder && Wanted(e)) ++n;
            return true;
        });
        return n;
    }

    bool StopRequested() const { return control_.StopRequested() || p_.StopRequested(); }

    void SaveFile(RowId row, const OutputFolder& into, const std::string& volumePath) {
        EntryInfo e = p_.Info(row);
        progress_.SetPosition(static_cast<std::int64_t>(attempted));
        if (terminal_)
            progress_.Report(Event(Step::SavingFile).Name((into.relativePath.empty() ? "" : into.relativePath + "/") + e.name));
        std::uint64_t unreadableBefore = reader_.UnreadableBytes();
        std::size_t errorsBefore = writer_.Errors().size();
        writer_.TakeFinished();
        ExtractStatus status = p_.ExtractFile(row, writer_, into);
        std::optional<FinishedFile> done = writer_.TakeFinished();
        if (done && done->stopped) {
            // Cut short by the stop and removed: neither failed nor written.
            stopped = true;
            return;
        }
        ++attempted;
        // Extraction is one file at a time, so the reader's count since the
        // start is this file's; reads past its end (a last cluster) may add a
        // little, never more than its size. The parser adds what it could
        // not even ask for (runs outside the volume, past the source's end).
        std::uint64_t fromReader = reader_.UnreadableBytes() - unreadableBefore;
        std::uint64_t unreadable = std::min(fromReader + (done ? done->unreadable : 0), e.size);
        if (status == ExtractStatus::Ok && unreadable > 0) status = ExtractStatus::Partial;

        ReportedFile f;
        f.path = volumePath;
        f.deleted = e.deleted;
        f.size = e.size;
        f.unreadableBytes = unreadable;
        if (done && done->ok) {
            f.output = done->relativePath;
            f.written = done->bytes;
            f.sha256 = done->sha256;
            f.accessedSet = done->accessedSet;
            f.modifiedSet = done->modifiedSet;
        }
        switch (status) {
            case ExtractStatus::Ok:
                ++whole;
                f.status = "ok";
                break;
            case ExtractStatus::Partial:
                ++partial;
                f.status = "partial";
                f.reason = unreadable > 0           ? std::to_string(unreadable) + " bytes unreadable, written as zeros"
                           : !p_.LastProblem().empty() ? p_.LastProblem()
                                                       : "some of its data could not be found";
                break;
            case ExtractStatus::Failed:
            case ExtractStatus::WriteFailed:
                ++failed;
                f.status = "failed";
                f.reason = p_.LastProblem().empty() ? "no data could be read" : p_.LastProblem();
                if (status == ExtractStatus::WriteFailed) {
                    f.reason = "could not be written";
                    if (done && !done->error.empty())
                        f.reason += ": " + done->error;
                    else if (writer_.Errors().size() > errorsBefore)
                        f.reason += ": " + writer_.Errors().back();
                }
                break;
        }
        if (unreadable > 0)
            unreadableFiles.push_back(volumePath + ": " + std::to_string(unreadable) + " of its " +
                                      std::to_string(e.size) + " bytes were unreadable (zeros written)");
        if (!o_.report.empty()) files.push_back(std::move(f));
    }

    // Saves the contents of folder. Folders are made as they are entered, or,
    // with --match, only once they hold a file that matches.
    void SaveFolder(RowId folder, std::vector<Frame>& frames, std::size_t frame) {
        if (frames.size() > kMaxDepth) return;
        for (RowId r = p_.FirstChild(folder); r != kNoRow; r = p_.NextSibling(r)) {
            if (StopRequested()) {
                stopped = true;
                return;
            }
            EntryInfo e = p_.Info(r);
            if (e.deleted && o_.noDeleted) continue;
            if (e.folder) {
                // Made once a file is about to go into it: a run that writes
                // nothing leaves nothing behind.
                frames.push_back({e.name, frame, std::nullopt, Join(frames[frame].path, e.name)});
                std::size_t sub = frames.size() - 1;
                SaveFolder(r, frames, sub);
                frames.pop_back();
                if (stopped) return;
                continue;
            }
            if (!Wanted(e)) continue;
            std::string path = Join(frames[frame].path, e.name);
            if (const OutputFolder* into = Folder(frames, frame)) {
                SaveFile(r, *into, path);
                if (stopped) return;
                continue;
            }
            ++failed, ++attempted;
            if (!o_.report.empty()) {
                ReportedFile f;
                f.path = path;
                f.deleted = e.deleted;
                f.size = e.size;
                f.status = "failed";
                f.reason = "its folder could not be made";
                files.push_back(std::move(f));
            }
        }
    }

private:
    bool Wanted(const EntryInfo& e) const { return match_ == nullptr || match_->Matches(e.name); }

    // A folder that could not be made is one failure (the writer's); the
    // files below it fail without asking again.
    const OutputFolder* Folder(std::vector<Frame>& frames, std::size_t i) {
        if (frames[i].out) return &*frames[i].out;
        if (frames[i].failed) return nullptr;
        const OutputFolder* parent = Folder(frames, frames[i].parent);
        if (parent != nullptr) frames[i].out = writer_.MakeFolder(*parent, frames[i].name);
        frames[i].failed = !frames[i].out;
        return frames[i].out ? &*frames[i].out : nullptr;
    }

    FileSystemParser& p_;
    OutputWriter& writer_;
    ProgressSink& progress_;
    const RecoverOptions& o_;
    const NamePattern* match_;
    const SectorReader& reader_;
    const JobControl& control_;
    bool terminal_;
};

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
    RunReport report;
    report.started = UtcNow();  // before the scan, which is part of the run
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

    RowId start = p.Root();
    std::string startPath;
    if (!o.path.empty()) {
        auto found = Resolve(p, o.path, startPath);
        if (!found) {
            std::fprintf(stderr, "no file or folder %s on the volume\n", o.path.c_str());
            return kExitUsage;
        }
        start = *found;
    }

    if (!o.report.empty()) writer.SetHashing(true);
    // Ctrl-C reaches the file being written, however large.
    writer.SetStop(&s.control);
    Recovery r(p, writer, s.progress, o, match ? &*match : nullptr, *s.reader, s.control);
    InterruptGuard guard(s.control);
    EntryInfo target = p.Info(start);
    if (target.folder || start == p.Root()) {
        std::uint64_t total = r.Count(start);
        s.progress.SetRange(0, static_cast<std::int64_t>(total));
        std::vector<Recovery::Frame> frames{{"", 0, writer.Root(), startPath}};
        r.SaveFolder(start, frames, 0);
    } else if (!(target.deleted && o.noDeleted) && (!match || match->Matches(target.name))) {
        s.progress.SetRange(0, 1);
        r.SaveFile(start, writer.Root(), startPath);
    }
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
    std::uint64_t bad = s.reader->FailedSectors();
    if (bad > 0) std::fprintf(stderr, "%llu sectors could not be read\n", static_cast<unsigned long long>(bad));
    if (r.stopped) std::fprintf(stderr, "stopped: the files written so far are kept\n");
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
        report.finished = UtcNow();
        report.sourcePath = o.scan.source;
        report.sourceSize = s.reader->fileLength();
        report.sourceKind = SourceKindName(DetectSourceKind(o.scan.source));
        report.volume = s.volume;
        report.options = ReportOptions(o);
        report.files = std::move(r.files);
        report.unreadableSectors = bad;
        report.stopped = r.stopped || s.stopped;
        std::string error;
        reportFailed = !WriteReport(o.report, report, error);
        if (reportFailed) std::fprintf(stderr, "%s\n", error.c_str());
    }
    bool errorsSeen = r.failed > 0 || r.partial > 0 || writer.FilesFailed() > 0 || bad > 0 || r.stopped ||
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
