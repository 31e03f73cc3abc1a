// The detail texts and extraction: blocks placed at their logical offsets,
// holes and unreadable blocks as zeros, exactly the file's size.
#include <algorithm>
#include <ctime>

#include "fs/DisplayText.h"
#include "fs/ext/ext2Class.h"

namespace tarnwell {

using namespace ext;

namespace {
constexpr std::size_t kReadChunk = 1 << 20;  // large, yet the buffer stays in cache
constexpr std::size_t kZeroChunk = 1 << 20;

bool WriteZeros(FileSink& sink, std::uint64_t count) {
    static const std::vector<std::uint8_t> zeros(kZeroChunk, 0);
    while (count > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
        if (!sink.Write(zeros.data(), n)) return false;
        count -= n;
    }
    return true;
}

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

EntryInfo ext2Class::Info(RowId id) const {
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

DetailTexts ext2Class::FormatTimes(RowId id) const {
    EntryInfo info = Info(id);
    return {LocalText(info.created), LocalText(info.accessed), LocalText(info.modified), info.attributes};
}

std::string ext2Class::FormatSize(RowId id) const {
    const ExtEntry* row = Row(id);
    return FormatSizeText(row ? row->size : 0);
}

ExtractStatus ext2Class::ExtractData(RowId id, FileSink& sink) {
    unreadableBlocks_ = 0;
    const ExtEntry* row = Row(id);
    if (row == nullptr || reader_ == nullptr || row->key == ExtEntry::kNoInode) return ExtractStatus::Failed;
    std::vector<std::uint8_t> raw;
    if (!ReadInode(row->key + 1, raw)) return ExtractStatus::Failed;
    ByteView view(raw);
    Inode n = DecodeInode(view);
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
    if (n.flags & kFlagInline) {
        std::string data = InlineData(view, size);
        if (!sink.Write(data.data(), data.size())) return ExtractStatus::WriteFailed;
        if (data.size() == size) return ExtractStatus::Ok;
        return WriteZeros(sink, size - data.size()) ? ExtractStatus::Partial : ExtractStatus::WriteFailed;
    }

    BlockMap map = MapBlocks(*reader_, sb_, view.Sub(kBlockArea, kBlockAreaSize), n.flags & kFlagExtents, size);
    if (map.runs.empty() && n.Deleted()) {
        // Its map was cleared on deletion: there is nothing left to copy.
        return WriteZeros(sink, size) ? ExtractStatus::Failed : ExtractStatus::WriteFailed;
    }

    const std::uint64_t bs = sb_.blockSize;
    std::vector<std::uint8_t> buffer;
    std::uint64_t position = 0;  // bytes of the file written so far
    bool damaged = map.damaged;
    for (const Run& run : map.runs) {
        std::uint64_t start = run.logical * bs;
        if (start >= size) break;
        if (!WriteZeros(sink, start - position)) return ExtractStatus::WriteFailed;
        position = start;
        std::uint64_t end = std::min(size, (run.logical + run.count) * bs);
        if (run.unwritten) {
            if (!WriteZeros(sink, end - position)) return ExtractStatus::WriteFailed;
            position = end;
            continue;
        }
        while (position < end) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end - position, kReadChunk));
            buffer.resize(n);
            std::uint64_t volumeOffset = run.physical * bs + (position - start);
            std::uint64_t failedBefore = reader_->FailedSectors();
            if (!reader_->ReadAt(static_cast<std::int64_t>(volumeOffset), buffer.data(), n)) {
                damaged = true;
                std::uint64_t sectors = reader_->FailedSectors() - failedBefore;
                unreadableBlocks_ += sectors == 0 ? (n + bs - 1) / bs : (sectors * kSectorSize + bs - 1) / bs;
            }
            if (!sink.Write(buffer.data(), n)) return ExtractStatus::WriteFailed;
            position += n;
        }
    }
    if (!WriteZeros(sink, size - position)) return ExtractStatus::WriteFailed;
    return damaged ? ExtractStatus::Partial : ExtractStatus::Ok;
}

}  // namespace tarnwell
