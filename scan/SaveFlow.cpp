#include "scan/SaveFlow.h"

#include <algorithm>
#include <cstdio>

#include "fs/SavePlan.h"

namespace tarnwell {

namespace {
// Only a save that wrote every file whole ends done; anything less carries its
// counts, so a full disk or a stop never reads as success.
Event EndEvent(const SaveReport& r, std::uint64_t asked) {
    Event e(Step::SaveEnded, static_cast<std::int64_t>(r.whole), static_cast<std::int64_t>(asked));
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
    const std::string started = UtcNow();
    SaveSelection what;
    what.includeDeleted = request.includeDeleted;
    const bool ticked = std::any_of(request.ticked.begin(), request.ticked.end(), [](const auto& c) { return !c.empty(); });
    if (ticked) {
        what.rows = request.ticked;
    } else {
        if (request.folder == kNoRow || !parser.Info(request.folder).folder) return report;
        what.base = request.folder;
        std::vector<RowId> chain = request.folderChain;
        if (chain.empty() && request.folder != parser.Root()) chain = ChainTo(parser, request.folder).value_or(chain);
        what.basePath = ChainPath(parser, chain);
    }
    nlohmann::ordered_json options = {{"out", request.outputFolder},
                                      {"path", ticked ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(what.basePath)},
                                      {"ticked", ticked ? request.ticked.size() : 0},
                                      {"no_deleted", !request.includeDeleted}};
    SavePlan plan(parser, std::move(what));
    const std::uint64_t count = plan.Count();
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

    SaveResult result = plan.Run(writer, writer.Root(), progress, parser.Links().control);
    report.files = result.attempted;
    report.whole = result.whole;
    report.partial = result.partial;
    report.stopped = result.stopped;
    report.written = writer.FilesWritten();
    report.failed = writer.FilesFailed();
    report.errors = writer.Errors();
    report.renamed = writer.Renamed();
    report.report = ReportOf(parser, request.sourcePath, std::move(result));
    report.report.started = started;
    report.report.finished = UtcNow();
    report.report.options = std::move(options);
    progress.SetPosition(static_cast<std::int64_t>(count));
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
    // Through the plan, so that bytes the source could not give make the file
    // partial here too.
    SaveSelection what;
    what.rows = {{row}};
    what.hash = false;
    SaveResult result = SavePlan(parser, std::move(what)).Run(writer, writer.Root(), NoProgress());
    if (result.files.empty()) return ExtractStatus::Failed;
    const SavedFile& saved = result.files.front();
    ExtractStatus status = saved.status == SavedStatus::Whole     ? ExtractStatus::Ok
                           : saved.status == SavedStatus::Partial ? ExtractStatus::Partial
                           : saved.status == SavedStatus::Failed  ? ExtractStatus::Failed
                                                                  : ExtractStatus::WriteFailed;
    // A file that was not written, or written with gaps, is said so on every
    // kind of volume, whether or not the kind tells the path of a whole one.
    if (status == ExtractStatus::Failed || status == ExtractStatus::WriteFailed) {
        prompter.Inform(Event(Step::FileNotSaved)
                            .Name(OutputWriter::SafeName(info.name))
                            .Detail(writer.Errors().empty() ? std::string() : writer.Errors().back()));
        return status;
    }
    // Kinds that tell where a whole file went say so; a partial one is told on every kind.
    Event told = Event(Step::FileSaved).Name(OutputWriter::SafeName(info.name));
    if (tellPath) told.Detail(outputFolder + "/" + saved.output);
    told.partial = status == ExtractStatus::Partial ? 1 : 0;
    if (tellPath || told.partial > 0) prompter.Inform(told);
    return status;
}

}  // namespace tarnwell
