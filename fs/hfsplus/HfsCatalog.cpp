// The catalog along its leaf chain (the Standard way), the extents overflow and
// attributes trees, hard links, resource-fork rows and the linking of the tree.
//
// Catalog key: 0 key length, 2 parent ID, 6 name length (UTF-16 units), 8 name.
// The record follows at 2 + key length. Folder record (88 bytes): 0 type 1,
// 8 folder ID, 12 create, 16 content mod, 20 attribute mod, 24 access date,
// 32 BSD info. File record (248 bytes): 0 type 2, 8 file ID, dates as above,
// 41 owner flags, 42 file mode, 44 special (iNode number), 48 file type,
// 52 creator, 88 data fork, 168 resource fork.

#include <algorithm>
#include <unordered_map>

#include "core/TextEncoding.h"
#include "fs/hfsplus/HfsPlusParser.h"

namespace tarnwell {

namespace {
constexpr std::uint16_t kFolderRecord = 1;
constexpr std::uint16_t kFileRecord = 2;
constexpr std::size_t kFolderRecordSize = 88;
constexpr std::size_t kFileRecordSize = 248;
constexpr std::uint32_t kHardLinkType = 0x686C6E6B;  // 'hlnk'
constexpr std::uint32_t kHardLinkCreator = 0x6866732B;  // 'hfs+'
const std::string kPrivateFolder = std::string(4, '\0') + "HFS+ Private Data";
}  // namespace

ForkMap HfsPlusParser::MapFork(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType) const {
    return ForkMap(fork, fileId, forkType, &overflowIndex, blockSize, volumeHeader.totalBlocks);
}

bool HfsPlusParser::ReadExtentsNodes() {
    HfsBTree tree;
    // The extents file cannot continue in itself: its eight extents are all it has.
    if (!tree.Open(links_.view, ForkMap(volumeHeader.extentsFile, kExtentsFileId, kDataFork, nullptr, blockSize,
                                           volumeHeader.totalBlocks)))
        return false;
    extentsNodeSize = tree.NodeSize();
    extentsBlocksPerNode = std::max<std::uint32_t>(1, extentsNodeSize / blockSize);
    tree.WalkLeaves([&](ByteView node, const NodeInfo& info) {
        extentsNodes.push_back(info);
        for (std::size_t i = 0; i < info.recordOffsets.size(); ++i) {
            // Key: 0 key length (10), 2 fork type, 4 file ID, 8 start block; then eight extents.
            std::size_t at = info.recordOffsets[i];
            if (node.Be16(at) != 10 || info.recordLengths[i] < 12 + 64) continue;
            std::uint8_t forkType = node.U8(at + 2);
            if (forkType != kDataFork && forkType != kResourceFork) continue;
            std::vector<HfsExtent> extents;
            for (int k = 0; k < 8; ++k) extents.push_back({node.Be32(at + 12 + 8 * k), node.Be32(at + 16 + 8 * k)});
            overflowIndex.emplace(std::make_tuple(forkType, node.Be32(at + 4), node.Be32(at + 8)), std::move(extents));
        }
        return Checkpoint();
    });
    return true;
}

bool HfsPlusParser::ReadCatalogNodes() {
    catalogOpen_ = catalog_.Open(links_.view, MapFork(volumeHeader.catalogFile, kCatalogFileId, kDataFork));
    if (!catalogOpen_) {
        Status(Event(Step::HfsCatalogUnreadable));
        return false;
    }
    catalogNodeSize = catalog_.NodeSize();
    catalogBlocksPerNode = std::max<std::uint32_t>(1, catalogNodeSize / blockSize);
    const ForkMap map = MapFork(volumeHeader.catalogFile, kCatalogFileId, kDataFork);
    links_.progress->SetRange(0, catalog_.NodeCount());
    std::uint64_t visited = 0;
    catalog_.WalkLeaves([&](ByteView node, const NodeInfo& info) {
        if (!Checkpoint()) return false;
        catalogNodes.push_back(info);
        ParseCatalogLeaf(node, info, map.VolumeOffset(info.nodeNumber * catalogNodeSize), false);
        if (++visited % 64 == 0) links_.progress->SetPosition(static_cast<std::int64_t>(visited));
        return true;
    });
    return true;
}

void HfsPlusParser::ParseCatalogLeaf(ByteView node, const NodeInfo& info, std::uint64_t volumeOffset, bool found) {
    for (std::size_t i = 0; i < info.recordOffsets.size(); ++i) {
        const std::size_t at = info.recordOffsets[i], length = info.recordLengths[i];
        const std::size_t keyLength = node.Be16(at);
        const std::size_t nameLength = node.Be16(at + 6);
        if (keyLength != 6 + 2 * nameLength || nameLength == 0 || nameLength > 255 || keyLength + 2 > length) continue;
        const std::size_t rec = at + 2 + keyLength;
        const std::size_t recLength = length - 2 - keyLength;
        const std::uint16_t type = node.Be16(rec);
        std::uint32_t id = node.Be32(rec + 8);
        if (type == kFolderRecord) {
            if (recLength < kFolderRecordSize || id == 0) continue;
        } else if (type == kFileRecord) {
            if (recLength < kFileRecordSize || static_cast<std::int32_t>(id) < 1) continue;
        } else {
            continue;  // thread records name what the folder and file records already say
        }
        if (entries.count(id) != 0) continue;
        CatalogEntry e;
        e.kind = type;
        e.parentId = node.Be32(at + 2);
        e.cnid = id;
        e.nodeBlock = volumeOffset == UINT64_MAX ? 0 : volumeOffset / blockSize;
        e.recordOffset = static_cast<std::uint16_t>(at);
        // Names are counted: a NUL inside one (the private folder's) is part of it.
        e.name = Utf16BeToUtf8(node, at + 8, nameLength, false);
        e.createDate = node.Be32(rec + 12);
        e.contentModDate = node.Be32(rec + 16);
        e.attributeModDate = node.Be32(rec + 20);
        e.accessDate = node.Be32(rec + 24);
        e.ownerFlags = node.U8(rec + 41);
        e.fileMode = node.Be16(rec + 42);
        e.special = node.Be32(rec + 44);
        e.deleted = found;
        if (type == kFileRecord) {
            e.fileType = node.Be32(rec + 48);
            e.fileCreator = node.Be32(rec + 52);
            e.dataFork = DecodeFork(node, rec + 88);
            e.resourceFork = DecodeFork(node, rec + 168);
            e.logicalSize = e.dataFork.logicalSize;
            e.totalBlocks = e.dataFork.totalBlocks;
            e.extents = e.dataFork.extents;
        }
        entries.emplace(id, std::move(e));
    }
}

void HfsPlusParser::ReadAttributes() {
    if (volumeHeader.attributesFile.logicalSize == 0) return;
    HfsBTree tree;
    if (!tree.Open(links_.view, MapFork(volumeHeader.attributesFile, kAttributesFileId, kDataFork))) return;
    const std::string wanted = "com.apple.decmpfs";
    tree.WalkLeaves([&](ByteView node, const NodeInfo& info) {
        for (std::size_t i = 0; i < info.recordOffsets.size(); ++i) {
            // Key: 0 key length, 4 file ID, 8 start block, 12 name length, 14 name.
            // Inline data record: 0 type 0x10, 12 size, 16 data.
            const std::size_t at = info.recordOffsets[i], length = info.recordLengths[i];
            const std::size_t keyLength = node.Be16(at), nameLength = node.Be16(at + 12);
            if (keyLength < 12 + 2 * nameLength || keyLength + 2 + 16 > length || nameLength != wanted.size()) continue;
            if (Utf16BeToUtf8(node, at + 14, nameLength, false) != wanted) continue;
            const std::size_t rec = at + 2 + keyLength;
            const std::size_t size = node.Be32(rec + 12);
            if (node.Be32(rec) != 0x10 || size > length - 2 - keyLength - 16) continue;
            auto bytes = node.Sub(rec + 16, size).span();
            decmpfs_.emplace(node.Be32(at + 4), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        }
        return Checkpoint();
    });
}

void HfsPlusParser::ResolveLinksAndSizes() {
    if (entries.count(kRootFolderId) == 0) {
        CatalogEntry root;
        root.kind = kFolderRecord;
        root.parentId = 1;
        root.cnid = kRootFolderId;
        entries.emplace(kRootFolderId, root);
    }
    // Hard links: the file's data is in "iNode<N>" of the root's private folder.
    std::uint64_t privateFolder = 0;
    for (const auto& [id, e] : entries)
        if (e.Folder() && e.parentId == kRootFolderId && e.name == kPrivateFolder) privateFolder = id;
    std::unordered_map<std::uint32_t, std::uint64_t> inodes;
    if (privateFolder != 0)
        for (const auto& [id, e] : entries)
            if (!e.Folder() && e.parentId == privateFolder && e.name.rfind("iNode", 0) == 0) {
                const std::string digits = e.name.substr(5);
                if (!digits.empty() && digits.size() <= 10 &&
                    std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                    std::uint64_t n = std::stoull(digits);
                    if (n <= UINT32_MAX) inodes.emplace(static_cast<std::uint32_t>(n), id);
                }
            }
    for (auto& [id, e] : entries) {
        if (e.Folder() || e.fileType != kHardLinkType || e.fileCreator != kHardLinkCreator) continue;
        auto it = inodes.find(e.special);
        if (it != inodes.end() && it->second != id) e.linkTarget = static_cast<std::uint32_t>(it->second);
    }
    for (auto& [id, e] : entries) {
        if (e.Folder()) continue;
        const CatalogEntry* owner = DataOwner(e);
        if (owner == nullptr) continue;
        e.logicalSize = owner->dataFork.logicalSize;
        if (owner->Compressed()) {
            auto it = decmpfs_.find(static_cast<std::uint32_t>(owner->cnid));
            if (it != decmpfs_.end() && ByteView(it->second).Matches(0, "fpmc"))
                e.logicalSize = ByteView(it->second).Le64(8);
        }
    }
}

void HfsPlusParser::AddResourceRows() {
    std::vector<CatalogEntry> rows;
    for (const auto& [id, e] : entries) {
        // A compressed file keeps its compressed data in the resource fork: that is not a fork of its own.
        if (e.Folder() || e.resourceFork.logicalSize == 0 || e.Compressed()) continue;
        CatalogEntry r;
        r.kind = kFileRecord;
        r.parentId = e.parentId;
        r.cnid = kResourceRowBase + id;
        r.name = e.name + ".rsrc";
        r.logicalSize = e.resourceFork.logicalSize;
        r.resourceRow = true;
        r.deleted = e.deleted;
        rows.push_back(std::move(r));
    }
    for (auto& r : rows) entries.emplace(r.cnid, std::move(r));
}

void HfsPlusParser::LinkCatalog() {
    for (auto& [id, e] : entries) {
        e.firstChild = e.nextSibling = kNoRow;
        e.orphan = false;
    }
    if (deepScan) {
        std::uint64_t largest = kRootFolderId;
        for (const auto& [id, e] : entries)
            if (id < kResourceRowBase) largest = std::max<std::uint64_t>(largest, id);
        orphanKey = largest + 1;
        CatalogEntry orphans;
        orphans.kind = kFolderRecord;
        orphans.parentId = kRootFolderId;
        orphans.cnid = orphanKey;
        orphans.name = "ORPHAN_ENTRY";
        entries[orphanKey] = orphans;
    }
    // Where each entry hangs. Its recorded parent when that chain of folders
    // reaches the root; otherwise (a lost parent, a folder inside its own child)
    // the orphan folder in the Deep way, and nowhere in the Standard way.
    enum : std::uint8_t { kUnknown, kWalking, kPlaced };
    std::unordered_map<RowId, std::uint8_t> state;
    std::unordered_map<RowId, RowId> parentOf;
    state[kRootFolderId] = kPlaced;
    if (deepScan) state[orphanKey] = kPlaced, parentOf[orphanKey] = kRootFolderId;
    auto resolveParent = [&](RowId id, const CatalogEntry& e) -> RowId {
        const CatalogEntry* p = Find(e.parentId);
        if (p == nullptr || !p->Folder() || e.parentId == id || p->resourceRow) return kNoRow;
        return e.parentId;
    };
    std::vector<RowId> chain;
    for (const auto& [id, e] : entries) {
        if (state[id] != kUnknown) continue;
        chain.clear();
        RowId at = id;
        bool broken = false;
        while (true) {
            std::uint8_t& s = state[at];
            if (s == kPlaced) break;
            if (s == kWalking) {  // a loop: cut it at the last entry walked
                broken = true;
                break;
            }
            s = kWalking;
            chain.push_back(at);
            RowId parent = resolveParent(at, entries.at(at));
            if (parent == kNoRow) {
                broken = true;
                break;
            }
            parentOf[at] = parent;
            at = parent;
        }
        if (broken) {
            RowId cut = chain.back();
            if (deepScan) {
                parentOf[cut] = orphanKey;
                entries.at(cut).orphan = true;
            } else {
                parentOf.erase(cut);
            }
        }
        for (RowId r : chain) state[r] = kPlaced;
    }
    // Pushing to the front in descending order leaves each folder's children in ascending order.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        auto p = parentOf.find(it->first);
        if (p == parentOf.end()) continue;
        CatalogEntry& parent = entries.at(p->second);
        it->second.nextSibling = parent.firstChild;
        parent.firstChild = it->first;
    }
}

}  // namespace tarnwell
