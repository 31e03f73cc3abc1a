#pragma once
// The HFS+ and HFSX parser: the catalog's folders and files, found along the
// catalog's leaf chain (Standard) or also by a scan of the whole volume for
// catalog leaf nodes (Deep), linked by parent ID; extraction along the forks'
// extents, continued through the extents overflow tree, with hard links,
// zlib-compressed files (decmpfs) and resource forks.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/hfsplus/HfsBTree.h"
#include "fs/hfsplus/HfsVolume.h"

namespace tarnwell {

inline constexpr std::uint32_t kRootFolderId = 2;
inline constexpr std::uint32_t kExtentsFileId = 3;
inline constexpr std::uint32_t kCatalogFileId = 4;
inline constexpr std::uint32_t kAttributesFileId = 8;

// One folder or file of the catalog, or a row the parser adds (the orphan
// folder, a file's resource fork). Its key in the entry map is its CNID.
struct CatalogEntry {
    std::uint16_t kind = 0;  // 1 folder, 2 file
    std::uint64_t parentId = 0;
    std::uint64_t cnid = 0;
    RowId firstChild = kNoRow;
    RowId nextSibling = kNoRow;
    std::uint64_t nodeBlock = 0;     // volume byte offset of the record's node / block size
    std::uint16_t recordOffset = 0;  // offset of the record in its node
    std::uint64_t logicalSize = 0;   // the size shown: of the data, decompressed, or the link's target
    std::uint32_t totalBlocks = 0;
    std::vector<HfsExtent> extents;  // the data fork's extents of the record
    std::string name;                // UTF-8 of the stored UTF-16, as stored (decomposed)

    HfsFork dataFork, resourceFork;
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
    std::uint8_t ownerFlags = 0;
    std::uint32_t special = 0;  // the iNode number of a hard link
    std::uint32_t fileType = 0, fileCreator = 0;
    bool deleted = false;          // found only by the volume scan
    bool orphan = false;           // its parent folder is lost
    bool resourceRow = false;      // the resource fork of the file cnid - kResourceRowBase
    std::uint32_t linkTarget = 0;  // CNID of the iNode file a hard link stands for

    bool Folder() const { return kind == 1; }
    bool Compressed() const { return (ownerFlags & 0x20) != 0; }
};

class HfsPlusParser final : public FileSystemParser {
public:
    // Rows of resource forks are numbered past every CNID and the orphan folder.
    static constexpr std::uint64_t kResourceRowBase = std::uint64_t{1} << 33;

    explicit HfsPlusParser(ParserLinks links);

    bool Scan(RecoveryMode mode) override;
    RowId Root() const override { return kRootFolderId; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return entries.size(); }
    DetailTexts FormatTimes(RowId row) const override;
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;
    OutputTimes TimesOf(RowId row) const override;

    // The steps of the scan, in the order they run.
    bool ReadVolumeHeader();
    bool ReadExtentsNodes();
    bool ReadCatalogNodes();
    bool ScanCatalogNodes();
    void ReadAttributes();
    void LinkCatalog();

    const std::map<RowId, CatalogEntry>& Entries() const { return entries; }
    const HfsVolumeHeader& VolumeHeader() const { return volumeHeader; }
    std::uint64_t OrphanKey() const { return orphanKey; }
    // Why the last extraction did not give every byte, or empty.
    const std::string& LastProblem() const override { return lastProblem_; }

    std::vector<NodeInfo> catalogNodes;
    std::vector<NodeInfo> extentsNodes;

private:
    // Adds the folder and file records of a catalog leaf; the volume byte offset
    // of the node gives nodeBlock. found marks records of the volume scan.
    void ParseCatalogLeaf(ByteView node, const NodeInfo& info, std::uint64_t volumeOffset, bool found);
    const CatalogEntry* Find(RowId row) const;
    // The file whose forks hold a row's bytes (a hard link's iNode, itself).
    const CatalogEntry* DataOwner(const CatalogEntry& e) const;
    ExtractStatus StreamFork(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType, FileSink& sink);
    ExtractStatus ExtractCompressed(const CatalogEntry& file, FileSink& sink);
    void ResolveLinksAndSizes();
    void AddResourceRows();
    ForkMap MapFork(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType) const;

    HfsVolumeHeader volumeHeader;
    std::uint32_t blockSize = 0;
    std::uint32_t catalogNodeSize = 0, catalogBlocksPerNode = 0;
    std::uint32_t extentsNodeSize = 0, extentsBlocksPerNode = 0;
    std::map<RowId, CatalogEntry> entries;
    OverflowIndex overflowIndex;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> decmpfs_;  // file ID -> attribute bytes
    HfsBTree catalog_;
    bool catalogOpen_ = false;
    bool deepScan = false;
    std::uint64_t orphanKey = 0;
    std::string lastProblem_;
};

}  // namespace tarnwell
