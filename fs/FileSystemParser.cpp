#include "fs/FileSystemParser.h"
#include "core/Limits.h"
#include "fs/SavePlan.h"

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
    SaveSelection what;
    what.base = folder;
    what.includeDeleted = includeDeleted;
    what.record = false;
    what.hash = false;
    SaveResult saved = SavePlan(*this, std::move(what)).Run(writer, into, *links_.progress);
    return {saved.attempted, saved.partial, saved.stopped};
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
