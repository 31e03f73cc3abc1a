#include "scan/SaveFlow.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace tarnwell {

namespace {
bool IsPrefix(const std::vector<RowId>& a, const std::vector<RowId>& b) {
    return a.size() < b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The ticked chains that are not inside another ticked folder.
std::vector<std::vector<RowId>> Outermost(const std::vector<std::vector<RowId>>& ticked) {
    std::vector<std::vector<RowId>> out;
    for (const auto& chain : ticked) {
        if (chain.empty()) continue;
        bool inside = std::any_of(ticked.begin(), ticked.end(), [&](const auto& other) { return IsPrefix(other, chain); });
        bool twice = std::find(out.begin(), out.end(), chain) != out.end();
        if (!inside && !twice) out.push_back(chain);
    }
    return out;
}

void Report(SaveReport& report, const OutputWriter& writer) {
    report.written = writer.FilesWritten();
    report.failed = writer.FilesFailed();
    report.errors = writer.Errors();
}

// Only a save that wrote every file whole ends done; anything less carries its
// counts, so a full disk or a stop never reads as success.
Event EndEvent(const SaveReport& r, std::uint64_t asked) {
    // A file the writer finished may still have failed (no data to write), so
    // the files tried less the failures bound what was written whole.
    const std::uint64_t tried = r.files > r.failed ? r.files - r.failed : 0;
    const std::uint64_t written = std::min(r.written, tried);
    const std::uint64_t whole = written > r.partial ? written - r.partial : 0;
    Event e(Step::SaveEnded, static_cast<std::int64_t>(whole), static_cast<std::int64_t>(asked));
    e.partial = static_cast<std::int64_t>(r.partial);
    e.failed = static_cast<std::int64_t>(r.failed);
    return e.Lines(r.errors).Stopped(r.stopped);
}
}  // namespace

SaveReport RunSave(FileSystemParser& parser, const SaveRequest& request, Prompter& prompter,
                   ProgressSink& progress) {
    SaveReport report;
    if (request.outputFolder.empty()) {
        prompter.Inform(Event(Step::NoOutputFolder));
        return report;
    }
    auto chains = Outermost(request.ticked);
    std::uint64_t count = 0;
    if (chains.empty()) {
        if (request.folder == kNoRow || !parser.Info(request.folder).folder) return report;
        count = parser.CountFiles(request.folder);
    } else {
        for (const auto& chain : chains)
            count += parser.Info(chain.back()).folder ? parser.CountFiles(chain.back()) : 1;
    }
    progress.SetRange(0, static_cast<std::int64_t>(count));
    if (!prompter.AskYesNo(Event(Step::SaveConfirm, static_cast<std::int64_t>(count)))) return report;

    OutputWriter writer(request.outputFolder);
    if (!request.sourcePath.empty()) writer.RefuseSource(request.sourcePath);
    if (auto problem = writer.Problem()) {
        prompter.Inform(Event(Step::OutputRefused).Detail(*problem));
        report.errors.push_back(*problem);
        report.failed = 1;
        return report;
    }
    report.ran = true;

    if (chains.empty()) {
        SaveSummary s = parser.SaveFolder(request.folder, writer, writer.Root(), request.includeDeleted);
        report.files = s.files;
        report.partial = s.partial;
        report.stopped = s.stopped;
    } else {
        // Folders above ticked rows are made once per row, so two ticked files of
        // one folder land together.
        std::map<RowId, OutputFolder> made;
        for (const auto& chain : chains) {
            if (parser.StopRequested()) {
                report.stopped = true;
                break;
            }
            const OutputFolder* into = &writer.Root();
            bool ok = true;
            for (std::size_t i = 0; i + 1 < chain.size() && ok; ++i) {
                auto it = made.find(chain[i]);
                if (it == made.end()) {
                    auto sub = writer.MakeFolder(*into, parser.Info(chain[i]).name);
                    if (!sub) ok = false;
                    else it = made.emplace(chain[i], *sub).first;
                }
                if (ok) into = &it->second;
            }
            if (!ok) continue;
            RowId row = chain.back();
            EntryInfo info = parser.Info(row);
            if (info.folder) {
                auto sub = writer.MakeFolder(*into, info.name);
                if (!sub) continue;
                SaveSummary s = parser.SaveFolder(row, writer, *sub, request.includeDeleted);
                report.files += s.files;
                report.partial += s.partial;
                if (s.stopped) {
                    report.stopped = true;
                    break;
                }
            } else {
                ++report.files;
                progress.SetPosition(static_cast<std::int64_t>(report.files));
                if (parser.ExtractFile(row, writer, *into) == ExtractStatus::Partial) ++report.partial;
            }
        }
    }
    progress.SetPosition(static_cast<std::int64_t>(count));
    Report(report, writer);
    const Event end = EndEvent(report, count);
    if (OutcomeOf(end) != Outcome::Done) progress.Report(end);
    prompter.Inform(end);
    return report;
}

ExtractStatus SaveOneFile(FileSystemParser& parser, RowId row, const std::string& outputFolder,
                          const std::string& sourcePath, Prompter& prompter, bool tellPath) {
    if (outputFolder.empty()) {
        prompter.Inform(Event(Step::NoOutputFolder));
        return ExtractStatus::WriteFailed;
    }
    EntryInfo info = parser.Info(row);
    if (info.folder) return ExtractStatus::Failed;
    OutputWriter writer(outputFolder);
    if (!sourcePath.empty()) writer.RefuseSource(sourcePath);
    if (auto problem = writer.Problem()) {
        prompter.Inform(Event(Step::OutputRefused).Detail(*problem));
        return ExtractStatus::WriteFailed;
    }
    ExtractStatus status = parser.ExtractFile(row, writer, writer.Root());
    // A file that was not written, or written with gaps, is said so on every
    // kind of volume, whether or not the kind tells the path of a whole one.
    if (status == ExtractStatus::Failed || status == ExtractStatus::WriteFailed) {
        prompter.Inform(Event(Step::FileNotSaved)
                            .Name(OutputWriter::SafeName(info.name))
                            .Detail(writer.Errors().empty() ? std::string() : writer.Errors().back()));
        return status;
    }
    // Kinds that tell where a whole file went say so; a partial one is told on every kind.
    Event saved = Event(Step::FileSaved).Name(OutputWriter::SafeName(info.name));
    if (tellPath) saved.Detail(outputFolder + "/" + OutputWriter::SafeName(info.name));
    saved.partial = status == ExtractStatus::Partial ? 1 : 0;
    if (tellPath || saved.partial > 0) prompter.Inform(saved);
    return status;
}

}  // namespace tarnwell
