#pragma once
// The ext2/3/4 parser: finds the superblock (or a copy), loads the inodes in
// use from every group's table, walks every directory (live and deleted) for
// its names, live and deleted, and builds a tree with one row per name. Rows
// whose folder is lost hang under "ORPHAN_ENTRY", as do deleted inodes with
// data that no name reaches.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/ext/ExtBlockMap.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/FileSystemParser.h"

namespace tarnwell {

// One row per name (and per synthetic folder).
struct ExtEntry {
    const char* name = nullptr;  // NUL-terminated, UTF-8 as stored; owned by the parser
    std::uint32_t key = 0;       // inode number - 1; kNoInode for rows without one
    std::int32_t parentKey = -1; // row index of the parent row; -1 none
    std::uint16_t mode = 0;      // the inode's mode (from the entry's type when there is no inode)
    std::uint64_t size = 0;
    std::uint64_t tableBlock = 0;  // the inode table holding the inode
    std::uint32_t indexInGroup = 0;
    std::int32_t firstChild = -1;  // row index; -1 none
    std::int32_t nextSibling = -1;
    std::int32_t inode = -1;     // index into the parser's inode records; -1 none
    std::uint8_t flags = 0;      // kRowDeleted, kRowOrphan

    static constexpr std::uint32_t kNoInode = 0xFFFFFFFF;
};

inline constexpr std::uint8_t kRowDeleted = 1, kRowOrphan = 2,
                               kRowOrphanFolder = 4;  // the synthetic ORPHAN_ENTRY

class ExtParser final : public FileSystemParser {
public:
    explicit ExtParser(ParserLinks links);

    bool Scan(RecoveryMode mode) override;

    RowId Root() const override { return rows_.empty() ? kNoRow : 0; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return rows_.size(); }

    DetailTexts FormatTimes(RowId row) const override;
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;

    const ExtEntry* Row(RowId row) const { return row < rows_.size() ? &rows_[row] : nullptr; }
    const ext::Superblock& superblock() const { return sb_; }
    std::uint64_t superblockOffset() const { return superblockOffset_; }
    // Blocks that could not be read by the last ExtractData (written as zeros).
    std::uint64_t UnreadableBlocks() const { return unreadableBlocks_; }
    const std::string& LastProblem() const override { return lastProblem_; }

private:
    // What is kept of an inode in use between the scan and extraction: its
    // type, size, state and times, packed (one of these per file).
    struct InodeRecord {
        enum TimeIndex { kAccessed, kChanged, kModified, kCreated };
        std::uint32_t number = 0;
        std::uint16_t mode = 0, links = 0;
        std::uint32_t dtime = 0;
        std::uint64_t size = 0;
        std::int64_t seconds[4] = {};
        std::uint32_t nanoseconds[4] = {};
        std::uint8_t timesValid = 0;  // bit i: time i is known
        bool hasData = false;
        bool named = false;

        void Keep(const ext::Inode& n);
        FileTime Time(int i) const;
        bool IsDir() const { return (mode & ext::kTypeMask) == ext::kDir; }
        bool Deleted() const { return links == 0 || dtime != 0; }
    };

    bool AttachReader();
    bool FindSuperblock();
    bool TrySuperblockAt(std::uint64_t offset, std::int64_t expectedGroup);
    bool ReadGroupDescriptors();
    void ParseGroups();
    void ParseInodeTable(std::uint64_t group);
    void WalkDirectories();
    void WalkDirectory(std::uint32_t number, ByteView raw, std::vector<ext::DirEntry>& scratch,
                       std::vector<std::uint8_t>& buffer);
    void BuildRecordMap();
    void LinkTree();
    void FillTree();

    std::int32_t FindInode(std::uint32_t number) const;
    std::int32_t OrphanFolder();
    void AppendChild(std::int32_t parent, std::int32_t child, std::vector<std::int32_t>& lastChild);
    bool ReadInode(std::uint32_t number, std::vector<std::uint8_t>& raw) const;
    std::int32_t AddRow(std::string_view name, std::uint32_t number, std::uint16_t modeFromType, std::uint8_t flags);
    const char* KeepName(std::string_view name);

    const VolumeView* reader_ = nullptr;  // links_.view once a scan has begun
    std::uint64_t volumeSize_ = 0;
    std::uint64_t readable_ = 0;  // bytes of the volume the reader can deliver
    ext::Superblock sb_;
    std::uint64_t superblockOffset_ = 0;
    std::vector<ext::Group> groups_;

    std::vector<InodeRecord> inodes_;          // sorted by inode number
    std::vector<std::vector<std::uint8_t>> dirInodes_;  // raw bytes of the folder inodes, in walk order
    std::vector<std::uint32_t> dirNumbers_;
    std::vector<ExtEntry> rows_;
    std::vector<std::uint32_t> rowParentInode_;  // folder walked for each name row (scan only)
    // Every name, NUL-terminated, packed into large buffers that never move.
    std::vector<std::unique_ptr<char[]>> nameBuffers_;
    std::size_t nameRoom_ = 0;  // bytes left in the last buffer
    char* nameNext_ = nullptr;
    std::uint64_t unreadableBlocks_ = 0;
    std::string lastProblem_;
};

}  // namespace tarnwell
