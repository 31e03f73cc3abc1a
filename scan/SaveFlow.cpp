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

// "work done" is kept for a save that wrote every file whole; anything less is
// said with its counts, so a full disk or a stop never reads as success.
std::string EndText(const SaveReport& r, std::uint64_t asked) {
    // A file the writer finished may still have failed (no data to write), so
    // the files tried less the failures bound what was written whole.
    const std::uint64_t tried = r.files > r.failed ? r.files - r.failed : 0;
    const std::uint64_t written = std::min(r.written, tried);
    const std::uint64_t whole = written > r.partial ? written - r.partial : 0;
    if (!r.stopped && r.failed == 0 && r.partial == 0) return "work done";
    char counts[200];
    std::snprintf(counts, sizeof counts, "%s: %llu of %llu files written whole, %llu partial, %llu failed.",
                  r.stopped ? "Saving stopped" : "Saving ended", static_cast<unsigned long long>(whole),
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
    ExtractStatus status = parser.ExtractFile(row, writer, writer.Root());
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
                      (outputFolder + "/" + OutputWriter::SafeName(info.name)).c_str());
        text = path;
    }
    if (status == ExtractStatus::Partial)
        text += std::string(text.empty() ? "" : "\n") + "The file " + OutputWriter::SafeName(info.name) +
                " was saved partly: some of its data could not be read and stands as zeros.";
    if (!text.empty()) prompter.Inform(text);
    return status;
}

}  // namespace tarnwell
