#include "scan/SaveFlow.h"

#include <algorithm>
#include <cstdio>

#include "fs/SavePlan.h"

namespace tarnwell {

namespace {
// "work done" is kept for a save that wrote every file whole; anything less is
// said with its counts, so a full disk or a stop never reads as success.
std::string EndText(const SaveReport& r, std::uint64_t asked) {
    if (!r.stopped && r.failed == 0 && r.partial == 0) return "work done";
    char counts[200];
    std::snprintf(counts, sizeof counts, "%s: %llu of %llu files written whole, %llu partial, %llu failed.",
                  r.stopped ? "Saving stopped" : "Saving ended", static_cast<unsigned long long>(r.whole),
                  static_cast<unsigned long long>(asked), static_cast<unsigned long long>(r.partial),
                  static_cast<unsigned long long>(r.failed));
    std::string text = counts;
    const std::size_t most = 8;
    for (std::size_t i = 0; i < r.errors.size() && i < most; ++i) text += "\n" + r.errors[i];
    if (r.errors.size() > most) text += "\n...";
    return text;
}
}  // namespace

SaveReport RunSave(FileSystemParser& parser, const SaveRequest& request, Prompter& prompter,
                   ProgressSink& progress) {
    SaveReport report;
    if (request.outputFolder.empty()) {
        prompter.Inform("select output folder");
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
    char question[160];
    std::snprintf(question, sizeof question,
                  "number of files found inside this folder = %lld .do u want to continue dumping these files..?",
                  static_cast<long long>(count));
    if (!prompter.AskYesNo(question)) return report;

    OutputWriter writer(request.outputFolder);
    if (!request.sourcePath.empty()) writer.RefuseSource(request.sourcePath);
    if (auto problem = writer.Problem()) {
        prompter.Inform(*problem);
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
    const std::string end = EndText(report, count);
    if (end != "work done") progress.SetStatus(end.substr(0, end.find('\n')));
    prompter.Inform(end);
    return report;
}

ExtractStatus SaveOneFile(FileSystemParser& parser, RowId row, const std::string& outputFolder,
                          const std::string& sourcePath, Prompter& prompter, bool tellPath) {
    if (outputFolder.empty()) {
        prompter.Inform("select output folder");
        return ExtractStatus::WriteFailed;
    }
    EntryInfo info = parser.Info(row);
    if (info.folder) return ExtractStatus::Failed;
    OutputWriter writer(outputFolder);
    if (!sourcePath.empty()) writer.RefuseSource(sourcePath);
    if (auto problem = writer.Problem()) {
        prompter.Inform(*problem);
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
        std::string text = "The file " + OutputWriter::SafeName(info.name) + " could not be saved";
        if (!writer.Errors().empty()) text += ": " + writer.Errors().back();
        prompter.Inform(text);
        return status;
    }
    std::string text;
    if (tellPath) {
        char path[4200];
        std::snprintf(path, sizeof path, "file is dumped in path  :  %s   ",
                      (outputFolder + "/" + saved.output).c_str());
        text = path;
    }
    if (status == ExtractStatus::Partial)
        text += std::string(text.empty() ? "" : "\n") + "The file " + OutputWriter::SafeName(info.name) +
                " was saved partly: some of its data could not be read and stands as zeros.";
    if (!text.empty()) prompter.Inform(text);
    return status;
}

}  // namespace tarnwell
