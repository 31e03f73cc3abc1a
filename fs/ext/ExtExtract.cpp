// The detail texts and extraction: blocks placed at their logical offsets,
// holes and unreadable blocks as zeros, exactly the file's size.
#include <algorithm>
#include <ctime>

#include "core/DisplayText.h"
#include "fs/ext/ExtParser.h"
#include "fs/SourceCopy.h"

namespace tarnwell {

using namespace ext;

namespace {
constexpr std::size_t kReadChunk = 1 << 20;  // large, yet the buffer stays in cache

std::string LocalText(const FileTime& t) {
    if (!t.valid) return {};
    time_t seconds = static_cast<time_t>(t.seconds);
    std::tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) return {};
    return FormatDateTimeText(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min);
}

std::string PermissionText(std::uint16_t mode) {
    static const char* const names[9] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string text;
    for (int bit = 0; bit < 9; ++bit)
        if (mode & (1u << bit)) text += names[bit];
    return text;
}
}  // namespace

EntryInfo ExtParser::Info(RowId id) const {
    EntryInfo info;
    const ExtEntry* row = Row(id);
    if (row == nullptr) return info;
    info.id = id;
    info.name = row->name ? row->name : "";
    info.folder = (row->mode & kTypeMask) == kDir;
    info.deleted = row->flags & kRowDeleted;
    info.orphan = row->flags & kRowOrphan;
    info.size = row->size;
    if (row->inode >= 0) {
        const InodeRecord& n = inodes_[static_cast<std::size_t>(row->inode)];
        // Without i_crtime (128-byte inodes) the change time stands in for creation.
        info.created = n.Time(InodeRecord::kCreated);
        if (!info.created.valid) info.created = n.Time(InodeRecord::kChanged);
        info.modified = n.Time(InodeRecord::kModified);
        info.accessed = n.Time(InodeRecord::kAccessed);
        info.attributes = PermissionText(n.mode);
    }
    return info;
}

DetailTexts ExtParser::FormatTimes(RowId id) const {
    EntryInfo info = Info(id);
    return {LocalText(info.created), LocalText(info.accessed), LocalText(info.modified), info.attributes};
}

std::string ExtParser::FormatSize(RowId id) const {
    const ExtEntry* row = Row(id);
    return FormatSizeText(row ? row->size : 0);
}

ExtractStatus ExtParser::ExtractData(RowId id, FileSink& sink) {
    unreadableBlocks_ = 0;
    lastProblem_.clear();
    const ExtEntry* row = Row(id);
    if (row == nullptr || reader_ == nullptr || row->key == ExtEntry::kNoInode) return ExtractStatus::Failed;
    std::vector<std::uint8_t> raw;
    if (!ReadInode(row->key + 1, raw)) {
        lastProblem_ = "its inode could not be read";
        return ExtractStatus::Failed;
    }
    ByteView view(raw);
    Inode n = DecodeInode(view, sb_.LargeDirs());
    const std::uint64_t size = n.size;

    switch (n.Type()) {
        case kRegular: case kSymlink: break;
        case kDir: case kCharDev: case kBlockDev: case kFifo: case kSocket:
            return ExtractStatus::Ok;  // nothing to read: a device's data is not on this volume
        default:
            if (n.mode != 0) break;
            return ExtractStatus::Failed;
    }
    if (size == 0) return ExtractStatus::Ok;

    if (IsFastSymlink(n, sb_.blockSize)) {
        ByteView target = view.Sub(kBlockArea, static_cast<std::size_t>(size));
        return sink.Write(target.data(), target.size()) ? ExtractStatus::Ok : ExtractStatus::WriteFailed;
    }
    // A size the file's block numbers cannot reach, or of a deleted inode, is
    // not believed: no more is written than the volume holds.
    const std::uint64_t bs = sb_.blockSize;
    const bool believable = size <= MaxFileBytes(n, sb_.blockSize);
    if (n.flags & kFlagInline) {
        std::string data = InlineData(view, size);
        if (!sink.Write(data.data(), data.size())) return ExtractStatus::WriteFailed;
        if (data.size() == size) return ExtractStatus::Ok;
        lastProblem_ = "its inline data holds " + std::to_string(data.size()) + " of its " + std::to_string(size) + " bytes";
        const std::uint64_t length = TrustedLength(size, false, readable_);
        if (length > data.size() && !sink.WriteHole(length - data.size())) return ExtractStatus::WriteFailed;
        return ExtractStatus::Partial;
    }

    BlockMap map = MapBlocks(*reader_, sb_, view.Sub(kBlockArea, kBlockAreaSize), n.flags & kFlagExtents, size);
    if (map.runs.empty() && n.Deleted()) {
        // Its map was cleared on deletion: there is nothing left to copy, and
        // a file of zeros would only look like one.
        lastProblem_ = "its block map was cleared when it was deleted";
        return ExtractStatus::Failed;
    }
    const bool trusted = believable && !n.Deleted() && !map.damaged;
    const std::uint64_t length = TrustedLength(size, trusted, readable_);

    std::vector<std::uint8_t> buffer;
    std::uint64_t position = 0;  // bytes of the file written so far
    bool damaged = map.damaged || length < size;
    for (const Run& run : map.runs) {
        if (run.logical > length / bs) break;
        std::uint64_t start = run.logical * bs;
        if (start >= length) break;
        // Blocks the map does not name are a hole of the file.
        if (!sink.WriteHole(start - position)) return ExtractStatus::WriteFailed;
        position = start;
        std::uint64_t end = std::min(length, (run.logical + run.count) * bs);
        if (run.unwritten) {
            if (!sink.WriteHole(end - position)) return ExtractStatus::WriteFailed;
            position = end;
            continue;
        }
        while (position < end) {
            if (StopRequested()) return ExtractStatus::Partial;
            std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(end - position, kReadChunk));
            std::uint64_t volumeOffset = run.physical * bs + (position - start);
            std::uint64_t failedBefore = reader_->FailedSectors();
            CopyResult copied = CopyFromSource(*reader_, volumeOffset, chunk, buffer, sink);
            if (!copied.written) return ExtractStatus::WriteFailed;
            if (!copied.complete) {
                damaged = true;
                std::uint64_t sectors = reader_->FailedSectors() - failedBefore;
                unreadableBlocks_ += sectors == 0 ? (chunk + bs - 1) / bs : (sectors * kSectorSize + bs - 1) / bs;
            }
            position += chunk;
        }
    }
    if (!sink.WriteHole(length - position)) return ExtractStatus::WriteFailed;
    if (length < size)
        lastProblem_ = "its size of " + std::to_string(size) + " bytes is more than the volume holds; " +
                       std::to_string(length) + " were written";
    else if (damaged && lastProblem_.empty())
        lastProblem_ = map.damaged ? "its block map is damaged" : "some of its blocks could not be read";
    return damaged ? ExtractStatus::Partial : ExtractStatus::Ok;
}

}  // namespace tarnwell
