#include "fs/hfsplus/HfsPlusParser.h"

#include <ctime>

#include "core/DisplayText.h"

namespace tarnwell {

namespace {
// Seconds from 1904-01-01 to 1970-01-01, both UTC.
constexpr std::int64_t kHfsEpochOffset = 2082844800;

FileTime HfsTime(std::uint32_t date) { return FileTime::Utc(std::int64_t(date) - kHfsEpochOffset); }

std::string LocalClockText(std::uint32_t date) {
    std::time_t t = static_cast<std::time_t>(std::int64_t(date) - kHfsEpochOffset);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) return {};
    return FormatDateTimeText(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
}

std::string PermissionText(std::uint16_t mode) {
    static const std::pair<std::uint16_t, const char*> bits[] = {
        {0x040, "-Owner:X"}, {0x080, "-Owner:W"}, {0x100, "-Owner:R"}, {0x001, "-OX"}, {0x002, "-OW"},
        {0x004, "-OR"},      {0x008, "-GX"},      {0x010, "-GW"},      {0x020, "-GR"}};
    std::string s;
    for (const auto& [bit, text] : bits)
        if (mode & bit) s += text;
    return s;
}
}  // namespace

HfsPlusParser::HfsPlusParser(ParserLinks links) : FileSystemParser(std::move(links)) {}

bool HfsPlusParser::ReadVolumeHeader() {
    if (!links_.view) return false;
    std::vector<std::uint8_t> header(512);
    if (!links_.view.ReadAt(kVolumeHeaderOffset, header.data(), header.size())) return false;
    auto decoded = DecodeVolumeHeader(ByteView(header));
    if (!decoded) return false;
    volumeHeader = *decoded;
    blockSize = volumeHeader.blockSize;
    return true;
}

bool HfsPlusParser::Scan(RecoveryMode mode) {
    if (!links_.view) return false;
    entries.clear();
    catalogNodes.clear();
    extentsNodes.clear();
    overflowIndex.clear();
    decmpfs_.clear();
    catalogNodeSize = extentsNodeSize = 0;
    orphanKey = 0;
    if (!ReadVolumeHeader()) return false;
    deepScan = mode != RecoveryMode::Standard;
    // A damaged extents tree only costs the files that need it.
    ReadExtentsNodes();
    const bool catalogRead = ReadCatalogNodes();
    if (!catalogRead && !deepScan) return false;
    ReadAttributes();
    if (deepScan && !ScanCatalogNodes() && !catalogRead) return false;
    Status(Event(Step::ParentChild));
    ResolveLinksAndSizes();
    AddResourceRows();
    LinkCatalog();
    return true;
}

const CatalogEntry* HfsPlusParser::Find(RowId row) const {
    auto it = entries.find(row);
    return it == entries.end() ? nullptr : &it->second;
}

RowId HfsPlusParser::FirstChild(RowId row) const {
    const CatalogEntry* e = Find(row);
    return e ? e->firstChild : kNoRow;
}

RowId HfsPlusParser::NextSibling(RowId row) const {
    if (row == kRootFolderId) return kNoRow;
    const CatalogEntry* e = Find(row);
    return e ? e->nextSibling : kNoRow;
}

const CatalogEntry* HfsPlusParser::DataOwner(const CatalogEntry& e) const {
    if (e.resourceRow) return Find(e.cnid - kResourceRowBase);
    if (e.linkTarget != 0)
        if (const CatalogEntry* target = Find(e.linkTarget)) return target;
    return &e;
}

EntryInfo HfsPlusParser::Info(RowId row) const {
    EntryInfo info;
    const CatalogEntry* e = Find(row);
    if (e == nullptr) return info;
    const CatalogEntry* owner = DataOwner(*e);
    if (owner == nullptr) owner = e;
    info.id = row;
    info.name = row == kRootFolderId ? links_.rootFolderName : e->name;
    info.folder = e->Folder();
    info.deleted = e->deleted;
    info.orphan = e->orphan;
    info.size = info.folder ? 0 : e->logicalSize;
    if (e->cnid != orphanKey || !deepScan) {
        info.created = HfsTime(owner->createDate);
        info.modified = HfsTime(owner->contentModDate);
        info.accessed = HfsTime(owner->accessDate);
    }
    info.attributes = PermissionText(owner->fileMode);
    return info;
}

DetailTexts HfsPlusParser::FormatTimes(RowId row) const {
    const CatalogEntry* e = Find(row);
    if (e == nullptr || e->Folder()) return {};
    const CatalogEntry* owner = DataOwner(*e);
    if (owner == nullptr) return {};
    return {LocalClockText(owner->createDate), LocalClockText(owner->accessDate), LocalClockText(owner->contentModDate),
            PermissionText(owner->fileMode)};
}

std::string HfsPlusParser::FormatSize(RowId row) const {
    const CatalogEntry* e = Find(row);
    return e ? FormatSizeText(e->logicalSize) : std::string();
}

OutputTimes HfsPlusParser::TimesOf(RowId row) const {
    const CatalogEntry* e = Find(row);
    if (e == nullptr) return {};
    const CatalogEntry* owner = DataOwner(*e);
    if (owner == nullptr) return {};
    // The content modification date is the file's last write; the attribute
    // modification date only tells when its metadata changed.
    return {HfsTime(owner->accessDate), HfsTime(owner->contentModDate)};
}

}  // namespace tarnwell
