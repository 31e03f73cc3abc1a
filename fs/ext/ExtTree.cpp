// The directory walk and the tree: one row per name, parents from the folder
// walked, one primary row per folder inode carrying its children.
#include <algorithm>
#include <cstdio>

#include "core/Limits.h"
#include "fs/ext/ExtParser.h"

namespace tarnwell {

using namespace ext;

namespace {
constexpr std::uint32_t kRootInode = 2;
constexpr std::size_t kDirChunk = 1 << 20;
constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";
// Far more names than any real volume holds; keeps row indices in range on a hostile one.
constexpr std::size_t kMaxRows = limits::kMaxRows;

std::uint16_t ModeOfType(std::uint8_t type) {
    static constexpr std::uint16_t modes[8] = {0, kRegular, kDir, kCharDev, kBlockDev, kFifo, kSocket, kSymlink};
    return type < 8 ? modes[type] : 0;
}
}  // namespace

void ExtParser::WalkDirectories() {
    rows_.clear();
    rowParentInode_.clear();
    rows_.reserve(inodes_.size() + 16);  // about one name per inode in use
    rowParentInode_.reserve(inodes_.size() + 16);
    AddRow(links_.rootFolderName, kRootInode, kDir, 0);
    rows_[0].flags = 0;  // the root is never shown deleted
    rowParentInode_.push_back(0);

    const auto n = static_cast<long long>(dirNumbers_.size());
    links_.progress->SetRange(0, n);
    std::vector<DirEntry> scratch;
    std::vector<std::uint8_t> buffer;
    for (std::size_t k = 0; k < dirNumbers_.size(); ++k) {
        if (!Checkpoint()) break;
        if (k % 64 == 0) {
            Status(Event(Step::ExtInode, static_cast<std::int64_t>(k + 1), n));
            links_.progress->SetPosition(static_cast<std::int64_t>(k + 1));
        }
        WalkDirectory(dirNumbers_[k], ByteView(dirInodes_[k]), scratch, buffer);
    }
    Status(Event(Step::ExtInodesDone, n, n));
    links_.progress->SetPosition(n);
}

void ExtParser::WalkDirectory(std::uint32_t number, ByteView raw, std::vector<DirEntry>& scratch,
                              std::vector<std::uint8_t>& buffer) {
    Inode dir = DecodeInode(raw, sb_.LargeDirs());
    DirBlockOptions options;
    options.hasFileType = sb_.HasFileType();
    options.inodesCount = sb_.inodesCount;
    options.blockSize = sb_.blockSize;
    options.indexed = dir.flags & kFlagIndex;
    const std::uint8_t inherited = dir.Deleted() ? kRowDeleted : 0;

    auto take = [&] {
        for (const DirEntry& e : scratch) {
            if (e.name == "." || e.name == ".." || rows_.size() >= kMaxRows) continue;
            AddRow(e.name, e.inode, ModeOfType(e.fileType), (e.deleted ? kRowDeleted : 0) | inherited);
            rowParentInode_.push_back(number);
        }
        scratch.clear();
    };

    if (dir.flags & kFlagInline) {
        // Inline folder: the parent's inode number (4 bytes), entries to the end
        // of i_block, then more entries in the "system.data" attribute.
        std::string data = InlineData(raw, std::max<std::uint64_t>(dir.size, kBlockAreaSize));
        ByteView bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        ParseDirBlock(bytes.Sub(4, kBlockAreaSize - 4), options, scratch);
        if (bytes.size() > kBlockAreaSize) ParseDirBlock(bytes.Sub(kBlockAreaSize), options, scratch);
        take();
        return;
    }

    BlockMap map = MapBlocks(*reader_, sb_, raw.Sub(kBlockArea, kBlockAreaSize), dir.flags & kFlagExtents, dir.size);
    const std::uint64_t bs = sb_.blockSize;
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, kDirChunk / bs);
    for (const Run& run : map.runs) {
        if (run.unwritten) continue;
        for (std::uint64_t done = 0; done < run.count; done += perChunk) {
            std::uint64_t blocks = std::min(perChunk, run.count - done);
            buffer.resize(blocks * bs);
            reader_->ReadAt(static_cast<std::int64_t>((run.physical + done) * bs), buffer.data(), buffer.size());
            ByteView view(buffer);
            for (std::uint64_t b = 0; b < blocks; ++b) ParseDirBlock(view.Sub(b * bs, bs), options, scratch);
            take();
        }
    }
}

std::int32_t ExtParser::OrphanFolder() {
    ExtEntry row;
    row.name = KeepName(kOrphanFolderName);
    row.key = ExtEntry::kNoInode;
    row.mode = kDir;
    row.flags = kRowOrphanFolder;
    rows_.push_back(row);
    rowParentInode_.push_back(0);
    return static_cast<std::int32_t>(rows_.size() - 1);
}

void ExtParser::BuildRecordMap() {
    Status(Event(Step::ClearingRows));
    dirInodes_.clear();
    dirInodes_.shrink_to_fit();
    dirNumbers_.clear();
    dirNumbers_.shrink_to_fit();
}

void ExtParser::AppendChild(std::int32_t parent, std::int32_t child, std::vector<std::int32_t>& lastChild) {
    auto p = static_cast<std::size_t>(parent);
    if (lastChild.size() < rows_.size()) lastChild.resize(rows_.size(), -1);
    rows_[static_cast<std::size_t>(child)].parentKey = parent;
    if (lastChild[p] < 0)
        rows_[p].firstChild = child;
    else
        rows_[static_cast<std::size_t>(lastChild[p])].nextSibling = child;
    lastChild[p] = child;
}

void ExtParser::LinkTree() {
    Status(Event(Step::ParentChild));
    const std::size_t nameRows = rows_.size();
    links_.progress->SetRange(0, static_cast<std::int64_t>(nameRows));

    // The row that carries a folder's children: its live name if it has one,
    // never a name inside the folder itself. The root inode's is the root row.
    std::vector<std::int32_t> primary(inodes_.size(), -1);
    const std::int32_t rootInode = rows_[0].inode;
    if (rootInode >= 0) primary[static_cast<std::size_t>(rootInode)] = 0;
    for (std::size_t r = 1; r < nameRows; ++r) {
        const ExtEntry& row = rows_[r];
        if (row.inode < 0 || row.inode == rootInode) continue;
        const InodeRecord& rec = inodes_[static_cast<std::size_t>(row.inode)];
        if (!rec.IsDir() || rowParentInode_[r] == rec.number) continue;
        std::int32_t& p = primary[static_cast<std::size_t>(row.inode)];
        if (p < 0 || ((rows_[static_cast<std::size_t>(p)].flags & kRowDeleted) && !(row.flags & kRowDeleted)))
            p = static_cast<std::int32_t>(r);
    }

    // A folder named inside its own descendant forms a loop that never reaches
    // the root: such a folder loses its place and goes under ORPHAN_ENTRY.
    auto up = [&](std::size_t idx) -> std::int32_t {
        std::int32_t p = primary[idx];
        if (p <= 0) return -1;
        return FindInode(rowParentInode_[static_cast<std::size_t>(p)]);
    };
    std::vector<std::uint8_t> state(inodes_.size(), 0);
    std::vector<std::size_t> path;
    for (std::size_t d = 0; d < inodes_.size(); ++d) {
        if (state[d] != 0 || primary[d] <= 0) continue;
        path.clear();
        std::int32_t x = static_cast<std::int32_t>(d);
        while (x >= 0 && state[static_cast<std::size_t>(x)] == 0) {
            state[static_cast<std::size_t>(x)] = 1;
            path.push_back(static_cast<std::size_t>(x));
            x = up(static_cast<std::size_t>(x));
        }
        if (x >= 0 && state[static_cast<std::size_t>(x)] == 1) primary[static_cast<std::size_t>(x)] = -1;
        for (std::size_t p : path) state[p] = 2;
    }

    std::vector<std::int32_t> lastChild(rows_.size(), -1);
    std::vector<std::int32_t> orphanDir(inodes_.size(), -1);
    std::int32_t orphans = -1;
    auto orphanFolder = [&] {
        if (orphans < 0) orphans = OrphanFolder();
        return orphans;
    };
    for (std::size_t r = 1; r < nameRows; ++r) {
        // Linking is quick and a row left unlinked would be lost, so Stop does not cut it short.
        if (r % 4096 == 0) {
            Status(Event(Step::ParentChildRecord, static_cast<std::int64_t>(r), static_cast<std::int64_t>(nameRows)));
            links_.progress->SetPosition(static_cast<std::int64_t>(r));
        }
        std::int32_t folder = FindInode(rowParentInode_[r]);
        if (folder < 0) continue;
        auto f = static_cast<std::size_t>(folder);
        std::int32_t parent = primary[f];
        if (parent < 0) {
            // The folder walked has no name that reaches the root.
            if (orphanDir[f] < 0) {
                const InodeRecord& rec = inodes_[f];
                std::string name = "OrphanDir-" + std::to_string(rec.number);
                std::int32_t row = AddRow(name, rec.number, kDir, 0);
                rows_[static_cast<std::size_t>(row)].flags |= kRowOrphan;
                rowParentInode_.push_back(0);
                AppendChild(orphanFolder(), row, lastChild);
                orphanDir[f] = row;
            }
            parent = orphanDir[f];
        }
        AppendChild(parent, static_cast<std::int32_t>(r), lastChild);
    }

    // Deleted inodes with data that no name reaches.
    for (const InodeRecord& rec : inodes_) {
        if (rec.named || !rec.hasData || !rec.Deleted() || rec.number < sb_.firstInode) continue;
        std::string name = "OrphanFile-" + std::to_string(rec.number);
        std::int32_t row = AddRow(name, rec.number, kRegular, kRowDeleted | kRowOrphan);
        rowParentInode_.push_back(0);
        AppendChild(orphanFolder(), row, lastChild);
    }
    if (orphans >= 0) AppendChild(0, orphans, lastChild);
    Status(Event(Step::ParentChildRecord, static_cast<std::int64_t>(nameRows), static_cast<std::int64_t>(nameRows)));
    links_.progress->SetPosition(static_cast<std::int64_t>(nameRows));

    // Below a deleted folder everything is deleted; below ORPHAN_ENTRY, orphaned.
    std::vector<std::int32_t> queue{0};
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const ExtEntry& parent = rows_[static_cast<std::size_t>(queue[i])];
        std::uint8_t inherit = parent.flags & (kRowDeleted | kRowOrphan);
        if (parent.flags & kRowOrphanFolder) inherit |= kRowOrphan;
        for (std::int32_t c = parent.firstChild; c >= 0; c = rows_[static_cast<std::size_t>(c)].nextSibling) {
            rows_[static_cast<std::size_t>(c)].flags |= inherit;
            queue.push_back(c);
        }
    }
    rowParentInode_.clear();
    rowParentInode_.shrink_to_fit();
}

void ExtParser::FillTree() {
    Status(Event(Step::RootEntries));
}

RowId ExtParser::FirstChild(RowId row) const {
    if (row >= rows_.size() || rows_[row].firstChild < 0) return kNoRow;
    return static_cast<RowId>(rows_[row].firstChild);
}

RowId ExtParser::NextSibling(RowId row) const {
    if (row >= rows_.size() || rows_[row].nextSibling < 0) return kNoRow;
    return static_cast<RowId>(rows_[row].nextSibling);
}

}  // namespace tarnwell
