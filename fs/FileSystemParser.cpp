#include "fs/FileSystemParser.h"
#include "core/Limits.h"

#include <vector>

namespace tarnwell {

namespace {
// Deeper than any real tree; a looped tree of a damaged volume stops here.
constexpr int kMaxDepth = limits::kMaxFolderDepth;
}  // namespace

FileSystemParser::FileSystemParser(ParserLinks links) : links_(std::move(links)) {
    if (links_.progress == nullptr) links_.progress = &NoProgress();
    if (links_.prompter == nullptr) links_.prompter = &DefaultPrompter();
}

bool FileSystemParser::StopRequested() const {
    return stopFlag.load() || (links_.control != nullptr && links_.control->StopRequested());
}

bool FileSystemParser::Checkpoint() {
    if (links_.control != nullptr && !links_.control->Checkpoint()) return false;
    return !StopRequested();
}

OutputTimes FileSystemParser::TimesOf(RowId row) const {
    EntryInfo info = Info(row);
    return {info.accessed, info.modified};
}

ExtractStatus FileSystemParser::ExtractFile(RowId row, OutputWriter& writer, const OutputFolder& folder) {
    EntryInfo info = Info(row);
    auto file = writer.CreateFile(folder, info.name);
    if (!file) return ExtractStatus::WriteFailed;
    // One large file must not outlast a Stop.
    file->StopWhen([this] { return StopRequested(); });
    ExtractStatus status = ExtractData(row, *file);
    if (file->Failed()) status = ExtractStatus::WriteFailed;
    if (status == ExtractStatus::Failed) {
        writer.DiscardFile(std::move(file), LastProblem().empty() ? "no data could be read" : LastProblem());
        return status;
    }
    if (status == ExtractStatus::Ok && file->UnreadableBytes() > 0) status = ExtractStatus::Partial;
    if (!writer.FinishFile(std::move(file), TimesOf(row))) return ExtractStatus::WriteFailed;
    return status;
}

SaveSummary FileSystemParser::SaveFolder(RowId folder, OutputWriter& writer, const OutputFolder& into,
                                         bool includeDeleted) {
    return SaveFolderAt(folder, writer, into, includeDeleted, 0, {});
}

SaveSummary FileSystemParser::SaveFolderAt(RowId folder, OutputWriter& writer, const OutputFolder& into,
                                           bool includeDeleted, int depth, SaveSummary summary) {
    if (depth > kMaxDepth) return summary;
    for (RowId r = FirstChild(folder); r != kNoRow; r = NextSibling(r)) {
        if (!Checkpoint()) {
            summary.stopped = true;
            return summary;
        }
        EntryInfo info = Info(r);
        if (info.deleted && !includeDeleted) continue;
        if (info.folder) {
            auto sub = writer.MakeFolder(into, info.name);
            if (!sub) continue;
            summary = SaveFolderAt(r, writer, *sub, includeDeleted, depth + 1, summary);
            if (summary.stopped) return summary;
            continue;
        }
        ++summary.files;
        links_.progress->SetPosition(static_cast<std::int64_t>(summary.files));
        links_.progress->Report(Event(Step::SavingFile).Name((into.relativePath.empty() ? "" : into.relativePath + "/") + info.name));
        if (ExtractFile(r, writer, into) == ExtractStatus::Partial) ++summary.partial;
        if (writer.StopRequested()) {
            summary.stopped = true;
            return summary;
        }
    }
    return summary;
}

std::uint64_t FileSystemParser::CountFiles(RowId folder, std::uint64_t counter) const {
    // Iterative, so that a damaged, very deep tree cannot exhaust the stack.
    std::vector<std::pair<RowId, int>> pending{{folder, 0}};
    while (!pending.empty()) {
        auto [f, depth] = pending.back();
        pending.pop_back();
        for (RowId r = FirstChild(f); r != kNoRow; r = NextSibling(r)) {
            if (Info(r).folder) {
                if (depth < kMaxDepth) pending.emplace_back(r, depth + 1);
            } else {
                ++counter;
            }
        }
    }
    return counter;
}

}  // namespace tarnwell
