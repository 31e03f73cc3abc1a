#include "fs/ext/ExtParser.h"

#include <algorithm>
#include <cstdio>

namespace tarnwell {

using namespace ext;

namespace {
constexpr std::size_t kScanChunk = 1 << 20;
constexpr std::size_t kInodeChunk = 4 << 20;

// Backup superblocks of sparse_super sit in groups 1 and the powers of 3, 5 and 7.
std::vector<std::uint64_t> BackupGroups(std::uint64_t limit) {
    std::vector<std::uint64_t> groups{1};
    for (std::uint64_t base : {3, 5, 7})
        for (std::uint64_t g = base; g < limit; g *= base) groups.push_back(g);
    std::sort(groups.begin(), groups.end());
    return groups;
}
}  // namespace

ExtParser::ExtParser(ParserLinks links) : FileSystemParser(std::move(links)) {}

bool ExtParser::AttachReader() {
    reader_ = links_.view ? &links_.view : nullptr;
    return reader_ != nullptr;
}

bool ExtParser::TrySuperblockAt(std::uint64_t offset, std::int64_t expectedGroup) {
    std::uint8_t bytes[1024];
    if (!reader_->ReadAt(static_cast<std::int64_t>(offset), bytes, sizeof bytes)) return false;
    auto sb = DecodeSuperblock(ByteView(bytes, sizeof bytes));
    if (!sb) return false;
    if (offset != 1024) {
        // A copy must sit where its own group number and layout say.
        std::uint64_t group = sb->blockGroupNr;
        if (expectedGroup >= 0 && group != (static_cast<std::uint64_t>(expectedGroup) & 0xFFFF)) return false;
        if (group == 0 || offset != (group * sb->blocksPerGroup + sb->firstDataBlock) * sb->blockSize) return false;
    }
    sb_ = *sb;
    superblockOffset_ = offset;
    return true;
}

bool ExtParser::FindSuperblock() {
    if (volumeSize_ <= 1536) return false;
    if (TrySuperblockAt(1024, 0)) return true;

    // The copies a default layout puts at the start of groups 1, 3, 5, 7, 9, 25, ...
    for (std::uint64_t g : BackupGroups(1ULL << 32)) {
        bool any = false;
        for (std::uint32_t bs = 1024; bs <= 65536; bs <<= 1) {
            std::uint64_t offset = (g * 8ULL * bs + (bs == 1024 ? 1 : 0)) * bs;
            if (offset + 1024 > volumeSize_) continue;
            any = true;
            if (TrySuperblockAt(offset, static_cast<std::int64_t>(g))) return true;
        }
        if (!any) break;
    }

    // Anything else: every 512 bytes, in large reads.
    std::vector<std::uint8_t> chunk(kScanChunk + 1024);
    for (std::uint64_t at = 0; at + 1024 <= volumeSize_; at += kScanChunk) {
        if (!Checkpoint()) return false;
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), volumeSize_ - at));
        reader_->ReadAt(static_cast<std::int64_t>(at), chunk.data(), want);
        ByteView view(chunk.data(), want);
        for (std::size_t p = 0; p < kScanChunk && p + 1024 <= want; p += 512) {
            if (view.Le16(p + 56) != kMagic || at + p == 1024) continue;
            if (TrySuperblockAt(at + p, -1)) return true;
        }
    }
    return false;
}

bool ExtParser::ReadGroupDescriptors() {
    groups_ = ext::ReadGroupDescriptors(*reader_, sb_, superblockOffset_);
    return !groups_.empty();
}

void ExtParser::ParseGroups() {
    const auto count = static_cast<long long>(groups_.size());
    links_.progress->SetRange(0, count);
    // With group checksums the in-use counts are exact: one allocation, not a doubling series.
    if (sb_.HasGroupChecksums()) {
        std::uint64_t inUse = 0;
        for (const Group& g : groups_) inUse += g.inodesInUse;
        inodes_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(inUse, 1u << 22)));
    }
    for (std::uint64_t g = 0; g < groups_.size(); ++g) {
        if (!Checkpoint()) break;
        Status(Event(Step::ExtGroup, static_cast<std::int64_t>(g + 1), count));
        links_.progress->SetPosition(static_cast<std::int64_t>(g + 1));
        ParseInodeTable(g);
    }
}

void ExtParser::ParseInodeTable(std::uint64_t g) {
    const Group& group = groups_[g];
    std::uint64_t first = g * sb_.inodesPerGroup + 1;  // inode numbers start at 1
    if (group.inodeTable == 0 || first > sb_.inodesCount) return;
    std::uint64_t count = std::min<std::uint64_t>(group.inodesInUse, sb_.inodesCount - first + 1);
    // A table past the end of what can be read holds nothing: do not read zeros for it.
    const std::uint64_t tableAt = group.inodeTable * sb_.blockSize;
    if (tableAt >= readable_) return;
    count = std::min<std::uint64_t>(count, (readable_ - tableAt) / sb_.inodeSize);

    // Large reads, in pieces so that a damaged superblock cannot ask for a huge buffer.
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kInodeChunk / sb_.inodeSize);
    std::vector<std::uint8_t> table;
    for (std::uint64_t done = 0; done < count; done += perRead) {
        std::uint64_t n = std::min(perRead, count - done);
        table.resize(n * sb_.inodeSize);
        // What cannot be read is zeros: those inodes look unused, the rest keep their numbers.
        reader_->ReadAt(static_cast<std::int64_t>(tableAt + done * sb_.inodeSize), table.data(), table.size());
        ByteView view(table);
        for (std::uint64_t i = 0; i < n; ++i) {
            ByteView raw = view.Sub(i * sb_.inodeSize, sb_.inodeSize);
            if (raw.Le16(0) == 0) continue;
            InodeRecord rec;
            rec.number = static_cast<std::uint32_t>(first + done + i);
            Inode inode = DecodeInode(raw, sb_.LargeDirs());
            rec.Keep(inode);
            bool blocks = false;
            for (std::size_t b = 0; b < kBlockAreaSize && !blocks; b += 4) blocks = raw.Le32(kBlockArea + b) != 0;
            rec.hasData = inode.size > 0 && (blocks || (inode.flags & kFlagInline));
            if (inode.IsDir() && (blocks || (inode.flags & kFlagInline))) {
                dirNumbers_.push_back(rec.number);
                dirInodes_.emplace_back(raw.data(), raw.data() + raw.size());
            }
            inodes_.push_back(rec);
        }
    }
}

void ExtParser::InodeRecord::Keep(const Inode& n) {
    mode = n.mode;
    links = n.links;
    dtime = n.dtime;
    size = n.size;
    const FileTime* times[4] = {&n.accessed, &n.changed, &n.modified, &n.created};
    for (int i = 0; i < 4; ++i) {
        seconds[i] = times[i]->seconds;
        nanoseconds[i] = times[i]->nanoseconds;
        if (times[i]->valid) timesValid |= static_cast<std::uint8_t>(1u << i);
    }
}

FileTime ExtParser::InodeRecord::Time(int i) const {
    if (!(timesValid & (1u << i))) return {};
    return FileTime::Utc(seconds[i], nanoseconds[i]);
}

std::int32_t ExtParser::FindInode(std::uint32_t number) const {
    auto it = std::lower_bound(inodes_.begin(), inodes_.end(), number,
                               [](const InodeRecord& r, std::uint32_t n) { return r.number < n; });
    if (it == inodes_.end() || it->number != number) return -1;
    return static_cast<std::int32_t>(it - inodes_.begin());
}

bool ExtParser::ReadInode(std::uint32_t number, std::vector<std::uint8_t>& raw) const {
    if (number == 0 || number > sb_.inodesCount) return false;
    std::uint64_t g = (number - 1) / sb_.inodesPerGroup, index = (number - 1) % sb_.inodesPerGroup;
    if (g >= groups_.size() || groups_[g].inodeTable == 0) return false;
    raw.assign(sb_.inodeSize, 0);
    return reader_->ReadAt(static_cast<std::int64_t>(groups_[g].inodeTable * sb_.blockSize + index * sb_.inodeSize),
                           raw.data(), raw.size());
}

const char* ExtParser::KeepName(std::string_view name) {
    constexpr std::size_t kBuffer = 64 * 1024;
    if (name.size() + 1 > nameRoom_) {
        nameRoom_ = std::max(kBuffer, name.size() + 1);
        nameBuffers_.push_back(std::make_unique<char[]>(nameRoom_));
        nameNext_ = nameBuffers_.back().get();
    }
    char* kept = nameNext_;
    std::copy(name.begin(), name.end(), kept);
    kept[name.size()] = '\0';
    nameNext_ += name.size() + 1;
    nameRoom_ -= name.size() + 1;
    return kept;
}

std::int32_t ExtParser::AddRow(std::string_view name, std::uint32_t number, std::uint16_t modeFromType,
                               std::uint8_t flags) {
    ExtEntry row;
    row.name = KeepName(name);
    row.mode = modeFromType;
    row.flags = flags;
    row.key = number == 0 ? ExtEntry::kNoInode : number - 1;
    if (number != 0 && number <= sb_.inodesCount) {
        std::uint64_t g = (number - 1) / sb_.inodesPerGroup;
        row.tableBlock = g < groups_.size() ? groups_[g].inodeTable : 0;
        row.indexInGroup = (number - 1) % sb_.inodesPerGroup;
        row.inode = FindInode(number);
        if (row.inode >= 0) {
            InodeRecord& rec = inodes_[static_cast<std::size_t>(row.inode)];
            rec.named = true;
            row.mode = rec.mode;
            row.size = rec.size;
            if (rec.Deleted()) row.flags |= kRowDeleted;
        }
    }
    rows_.push_back(row);
    return static_cast<std::int32_t>(rows_.size() - 1);
}

bool ExtParser::Scan(RecoveryMode) {
    reader_ = nullptr;
    groups_.clear();
    inodes_.clear();
    dirInodes_.clear();
    dirNumbers_.clear();
    rows_.clear();
    rowParentInode_.clear();
    nameBuffers_.clear();
    nameRoom_ = 0;
    nameNext_ = nullptr;

    if (!AttachReader()) {
        links_.prompter->Inform(Event(Step::ExtUnreadable));
        return false;
    }
    volumeSize_ = links_.volume.SizeBytes();
    if (volumeSize_ == 0) volumeSize_ = reader_->Available();
    if (volumeSize_ == 0 || !FindSuperblock() || !ReadGroupDescriptors()) {
        links_.prompter->Inform(Event(Step::NotThisFileSystem).Kind("ext"));
        return false;
    }
    volumeSize_ = sb_.VolumeBytes();
    readable_ = volumeSize_;
    if (reader_->source().fileLength() > 0) readable_ = std::min(readable_, reader_->Available());
    ParseGroups();
    WalkDirectories();
    BuildRecordMap();
    LinkTree();
    FillTree();
    return true;
}

}  // namespace tarnwell
