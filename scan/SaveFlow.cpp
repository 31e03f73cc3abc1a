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
    prompter.Inform("work done");
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
    if (tellPath && status != ExtractStatus::WriteFailed) {
        char text[4200];
        std::snprintf(text, sizeof text, "file is dumped in path  :  %s   ",
                      (outputFolder + "/" + OutputWriter::SafeName(info.name)).c_str());
        prompter.Inform(text);
    }
    return status;
}

}  // namespace tarnwell
