#include "fs/SavePlan.h"

#include <algorithm>
#include <map>

#include "core/Limits.h"

namespace tarnwell {

namespace {
// The contents of a folder this deep are the last saved; a looped tree of a
// damaged volume ends here.
constexpr std::size_t kMaxDepth = limits::kMaxFolderDepth;

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool IsPrefix(const std::vector<RowId>& a, const std::vector<RowId>& b) {
    return a.size() < b.size() && std::equal(a.begin(), a.end(), b.begin());
}

std::string LastName(const std::string& relativePath) {
    std::size_t cut = relativePath.rfind('/');
    return cut == std::string::npos ? relativePath : relativePath.substr(cut + 1);
}
}  // namespace

struct SavePlan::Frame {
    std::string name;
    std::size_t parent = 0;
    std::optional<OutputFolder> out;
    std::string path;     // on the volume
    bool failed = false;  // it could not be made: its files fail without another try
};

SavePlan::SavePlan(FileSystemParser& parser, SaveSelection selection) : p_(parser), s_(std::move(selection)) {
    if (s_.base == kNoRow) s_.base = p_.Root();
}

bool SavePlan::Wanted(const EntryInfo& e) const { return !s_.nameFilter || s_.nameFilter(e.name); }

std::vector<std::vector<RowId>> SavePlan::Outermost() const {
    std::vector<std::vector<RowId>> out;
    for (const auto& chain : s_.rows) {
        if (chain.empty()) continue;
        bool inside = std::any_of(s_.rows.begin(), s_.rows.end(), [&](const auto& other) { return IsPrefix(other, chain); });
        bool twice = std::find(out.begin(), out.end(), chain) != out.end();
        if (!inside && !twice) out.push_back(chain);
    }
    return out;
}

std::uint64_t SavePlan::Count() const {
    std::uint64_t n = 0;
    // Iterative, so that a damaged, very deep tree cannot exhaust the stack.
    auto below = [&](RowId top, std::size_t topDepth) {
        std::vector<std::pair<RowId, std::size_t>> pending{{top, topDepth}};
        while (!pending.empty()) {
            auto [folder, depth] = pending.back();
            pending.pop_back();
            for (RowId r = p_.FirstChild(folder); r != kNoRow; r = p_.NextSibling(r)) {
                EntryInfo e = p_.Info(r);
                if (e.deleted && !s_.includeDeleted) continue;
                if (e.folder) {
                    if (depth < kMaxDepth) pending.emplace_back(r, depth + 1);
                } else if (Wanted(e)) {
                    ++n;
                }
            }
        }
    };
    if (s_.rows.empty()) {
        below(s_.base, 0);
        return n;
    }
    for (const auto& chain : Outermost()) {
        EntryInfo e = p_.Info(chain.back());
        if (e.deleted && !s_.includeDeleted) continue;
        if (e.folder) below(chain.back(), chain.size());
        else if (Wanted(e)) ++n;
    }
    return n;
}

bool SavePlan::Checkpoint() {
    JobControl* own = p_.Links().control;
    if (own != nullptr && !own->Checkpoint()) return false;
    if (control_ != nullptr && control_ != own && !control_->Checkpoint()) return false;
    return !p_.StopRequested() && !writer_->StopRequested();
}

// A folder that could not be made is one failure (the writer's); the files
// below it fail without asking again.
const OutputFolder* SavePlan::Folder(std::vector<Frame>& frames, std::size_t i) {
    if (frames[i].out) return &*frames[i].out;
    if (frames[i].failed) return nullptr;
    const OutputFolder* parent = Folder(frames, frames[i].parent);
    if (parent != nullptr) frames[i].out = writer_->MakeFolder(*parent, frames[i].name);
    frames[i].failed = !frames[i].out;
    return frames[i].out ? &*frames[i].out : nullptr;
}

void SavePlan::SaveFile(RowId row, const EntryInfo& e, const OutputFolder* into, const std::string& path) {
    progress_->SetPosition(static_cast<std::int64_t>(result_.attempted));
    SavedFile f;
    f.path = path;
    f.deleted = e.deleted;
    f.size = e.size;
    if (into == nullptr) {
        ++result_.failed, ++result_.attempted;
        f.status = SavedStatus::NotWritten;
        f.reason = "its folder could not be made";
        if (s_.record) result_.files.push_back(std::move(f));
        return;
    }
    progress_->Report(Event(Step::SavingFile).Name((into->relativePath.empty() ? "" : into->relativePath + "/") + e.name));
    const SectorReader* reader = p_.Links().view ? &p_.Links().view.source() : nullptr;
    const std::uint64_t unreadableBefore = reader != nullptr ? reader->UnreadableBytes() : 0;
    const std::size_t errorsBefore = writer_->Errors().size();
    writer_->TakeFinished();
    ExtractStatus status = p_.ExtractFile(row, *writer_, *into);
    std::optional<FinishedFile> done = writer_->TakeFinished();
    if (done && done->stopped) {
        // Cut short by the stop and removed: neither failed nor written.
        result_.stopped = true;
        f.status = SavedStatus::Stopped;
        f.reason = "stopped while it was written";
        if (s_.record) result_.files.push_back(std::move(f));
        return;
    }
    ++result_.attempted;
    // Extraction is one file at a time, so the reader's count since the
    // start is this file's; reads past its end (a last cluster) may add a
    // little, never more than its size. The parser adds what it could not
    // even ask for (runs outside the volume, past the source's end).
    const std::uint64_t fromReader = reader != nullptr ? reader->UnreadableBytes() - unreadableBefore : 0;
    const std::uint64_t unreadable = std::min(fromReader + (done ? done->unreadable : 0), e.size);
    if (status == ExtractStatus::Ok && unreadable > 0) status = ExtractStatus::Partial;

    f.unreadableBytes = unreadable;
    if (done && done->ok) {
        f.output = done->relativePath;
        f.written = done->bytes;
        f.sha256 = done->sha256;
        f.accessedSet = done->accessedSet;
        f.modifiedSet = done->modifiedSet;
        f.renamed = LastName(done->relativePath) != e.name;
    }
    switch (status) {
        case ExtractStatus::Ok:
            ++result_.whole;
            f.status = SavedStatus::Whole;
            break;
        case ExtractStatus::Partial:
            ++result_.partial;
            f.status = SavedStatus::Partial;
            f.reason = unreadable > 0               ? std::to_string(unreadable) + " bytes unreadable, written as zeros"
                       : !p_.LastProblem().empty() ? p_.LastProblem()
                                                   : "some of its data could not be found";
            break;
        case ExtractStatus::Failed:
        case ExtractStatus::WriteFailed:
            ++result_.failed;
            f.status = SavedStatus::Failed;
            f.reason = p_.LastProblem().empty() ? "no data could be read" : p_.LastProblem();
            if (status == ExtractStatus::WriteFailed) {
                f.status = SavedStatus::NotWritten;
                f.reason = "could not be written";
                if (done && !done->error.empty())
                    f.reason += ": " + done->error;
                else if (writer_->Errors().size() > errorsBefore)
                    f.reason += ": " + writer_->Errors().back();
            }
            break;
    }
    if (unreadable > 0)
        result_.unreadableFiles.push_back(path + ": " + std::to_string(unreadable) + " of its " +
                                          std::to_string(e.size) + " bytes were unreadable (zeros written)");
    if (s_.record) result_.files.push_back(std::move(f));
}

void SavePlan::SaveContents(RowId folder, std::vector<Frame>& frames, std::size_t frame) {
    for (RowId r = p_.FirstChild(folder); r != kNoRow; r = p_.NextSibling(r)) {
        if (!Checkpoint()) {
            result_.stopped = true;
            return;
        }
        EntryInfo e = p_.Info(r);
        if (e.deleted && !s_.includeDeleted) continue;
        if (e.folder) {
            frames.push_back({e.name, frame, std::nullopt, Join(frames[frame].path, e.name)});
            const std::size_t sub = frames.size() - 1;
            if (!s_.nameFilter) Folder(frames, sub);
            // The depth below base is the frames' count past the fixed ones.
            if (sub - fixedFrames_ <= kMaxDepth) SaveContents(r, frames, sub);
            frames.pop_back();
            if (result_.stopped) return;
            continue;
        }
        if (!Wanted(e)) continue;
        SaveFile(r, e, Folder(frames, frame), Join(frames[frame].path, e.name));
        if (result_.stopped) return;
    }
}

SaveResult SavePlan::Run(OutputWriter& writer, const OutputFolder& into, ProgressSink& progress, JobControl* control) {
    writer_ = &writer;
    progress_ = &progress;
    control_ = control;
    result_ = {};
    if (control != nullptr) writer.SetStop(control);
    if (s_.hash && s_.record) writer.SetHashing(true);
    result_.planned = Count();
    progress.SetRange(0, static_cast<std::int64_t>(result_.planned));

    std::vector<Frame> frames;
    frames.push_back({"", 0, into, s_.basePath});
    if (s_.rows.empty()) {
        fixedFrames_ = 0;
        SaveContents(s_.base, frames, 0);
    } else {
        // The folders above chosen rows are made once, so that two chosen
        // files of one folder land together.
        std::map<RowId, std::size_t> made;
        for (const auto& chain : Outermost()) {
            if (!Checkpoint()) {
                result_.stopped = true;
                break;
            }
            std::size_t at = 0;
            for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
                auto it = made.find(chain[i]);
                if (it == made.end()) {
                    std::string name = p_.Info(chain[i]).name;
                    frames.push_back({name, at, std::nullopt, Join(frames[at].path, name)});
                    it = made.emplace(chain[i], frames.size() - 1).first;
                }
                at = it->second;
            }
            EntryInfo e = p_.Info(chain.back());
            if (e.deleted && !s_.includeDeleted) continue;
            if (e.folder) {
                fixedFrames_ = frames.size() - chain.size();
                frames.push_back({e.name, at, std::nullopt, Join(frames[at].path, e.name)});
                const std::size_t sub = frames.size() - 1;
                if (!s_.nameFilter) Folder(frames, sub);
                SaveContents(chain.back(), frames, sub);
                frames.pop_back();
            } else if (Wanted(e)) {
                SaveFile(chain.back(), e, Folder(frames, at), Join(frames[at].path, e.name));
            }
            if (result_.stopped) break;
        }
    }
    progress.SetPosition(static_cast<std::int64_t>(result_.attempted));
    writer_ = nullptr;
    progress_ = nullptr;
    control_ = nullptr;
    return std::move(result_);
}

std::optional<std::vector<RowId>> ChainTo(const FileSystemParser& parser, RowId row) {
    struct Level {
        RowId next;
    };
    std::vector<RowId> chain;
    std::vector<Level> stack{{parser.FirstChild(parser.Root())}};
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == kNoRow) {
            stack.pop_back();
            if (!chain.empty()) chain.pop_back();
            continue;
        }
        RowId r = top.next;
        top.next = parser.NextSibling(r);
        if (r == row) {
            chain.push_back(r);
            return chain;
        }
        if (parser.Info(r).folder && stack.size() <= kMaxDepth) {
            chain.push_back(r);
            stack.push_back({parser.FirstChild(r)});
        }
    }
    return std::nullopt;
}

std::string ChainPath(const FileSystemParser& parser, const std::vector<RowId>& chain) {
    std::string path;
    for (RowId r : chain) path = Join(path, parser.Info(r).name);
    return path;
}

}  // namespace tarnwell
