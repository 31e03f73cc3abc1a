#include "fs/fat/FatParser.h"

#include <algorithm>

#include "core/DisplayText.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"

namespace tarnwell {

namespace {
constexpr std::size_t kBootSectorBytes = 512;

RowId ToRow(std::uint32_t index) { return index == kNoIndex ? kNoRow : RowId{index}; }

// A DOS date and time as a local wall-clock time; invalid when the date is
// unset or out of range.
FileTime DosTime(std::uint16_t date, std::uint16_t time, unsigned tenMs = 0) {
    int day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
    int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date == 0 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return {};
    if (hour > 23 || minute > 59 || second > 59) return {};
    if (tenMs > 199) tenMs = 0;
    std::int64_t s = CivilToSeconds(year, month, day, hour, minute, second) + tenMs / 100;
    return FileTime::Local(s, (tenMs % 100) * 10'000'000u);
}

std::string AttributeText(std::uint8_t a) {
    std::string t;
    if (a & fat_attr::kReadOnly) t += "-R";
    if (a & fat_attr::kHidden) t += "-H";
    if (a & fat_attr::kSystem) t += "-S";
    if (a & fat_attr::kArchive) t += "-A";
    return t;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The refusal names the kind the caller asked for (FAT12 reads through the FAT16
// parser) and the kind the boot sector holds, when it holds one.
Event NotThisFat(const std::string& volumeKind, bool fat32Parser, const std::vector<std::uint8_t>& bootSector) {
    std::string asked = Lower(volumeKind);
    if (asked != "fat12" && asked != "fat16" && asked != "fat32") asked = fat32Parser ? "fat32" : "fat16";
    Event e = Event(Step::NotThisFileSystem).Kind(asked);
    if (auto p = ParseFatBootSector(bootSector)) e.Found(Lower(FatKindName(p->kind)));
    return e;
}
}  // namespace

FatParser::FatParser(ParserLinks links, const char* kindText)
    : FileSystemParser(std::move(links)), kindText_(kindText), bootSector_(kBootSectorBytes, 0) {}

bool FatParser::ReadBootSector() {
    bootValid_ = false;
    if (!links_.view) return false;
    links_.view.ReadAt(0, bootSector_.data(), bootSector_.size());
    auto p = ParseFatBootSector(bootSector_);
    if (!p || !AcceptsKind(p->kind)) return false;
    boot_ = *p;
    // No cluster lies past the end of the source, whatever the boot sector says.
    if (links_.view.Available() > 0) BoundFatByVolume(boot_, links_.view.Available());
    clusterSize_ = boot_.ClusterSize();
    ByteView b(bootSector_);
    activeFat_ = 0;
    if (Fat32() && (b.U8(0x28) & 0x80)) activeFat_ = b.U8(0x28) & 0x0F;  // mirroring off: one active FAT
    // The label the boot sector records; a label entry in the root wins.
    std::size_t at = Fat32() ? 0x47 : 0x2B;
    std::uint8_t sig = b.U8(Fat32() ? 0x42 : 0x26);
    if (sig == 0x29) {
        std::string text;
        for (std::size_t i = 0; i < 11; ++i) text += static_cast<char>(b.U8(at + i));
        while (!text.empty() && text.back() == ' ') text.pop_back();
        if (text != "NO NAME") label_ = text;
    }
    bootValid_ = true;
    return true;
}

bool FatParser::ReadFat() {
    if (!bootValid_ || !links_.view) return false;
    return table_.Load(links_.view, boot_, activeFat_);
}

bool FatParser::Scan(RecoveryMode mode) {
    if (mode == RecoveryMode::Advanced) return ScanAdvanced();
    if (mode != RecoveryMode::Standard) {
        links_.prompter->Inform(Event(Step::FatModeNotAvailable)
                                    .Name(mode == RecoveryMode::Deep ? "deep" : "advanced")
                                    .Kind(std::string(kindText_) == "Fat32" ? "fat32" : "fat16"));
        return false;
    }
    if (!ReadBootSector()) {
        links_.prompter->Inform(NotThisFat(links_.volume.fileSystem, std::string(kindText_) == "Fat32", bootSector_));
        return false;
    }
    ReadFat();
    Status(Event(Step::FindingEntries).Kind(std::string(kindText_) == "Fat32" ? "fat32" : "fat16"));
    FindEntries();
    Status(Event(Step::TreeInRows));
    LinkTree();
    Status(Event(Step::TreeCreating));
    Status(Event(Step::TreeCreated));
    NameRecycledFiles();
    links_.progress->SetRange(0, 100);
    links_.progress->SetPosition(100);
    return true;
}

std::uint32_t FatParser::LinkTree() {
    std::vector<std::uint32_t> last(entries_.size(), kNoIndex);
    for (auto& e : entries_) e.firstChild = e.nextSibling = kNoIndex;
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        std::uint32_t p = entries_[i].parentIndex;
        // Parents are always found before their contents, so p < i; anything
        // else would close a loop and is left unlinked.
        if (p == kNoIndex || p >= i) continue;
        if (last[p] == kNoIndex)
            entries_[p].firstChild = i;
        else
            entries_[last[p]].nextSibling = i;
        last[p] = i;
    }
    return static_cast<std::uint32_t>(entries_.size());
}

RowId FatParser::FirstChild(RowId row) const {
    return row < entries_.size() ? ToRow(entries_[row].firstChild) : kNoRow;
}

RowId FatParser::NextSibling(RowId row) const {
    return row < entries_.size() ? ToRow(entries_[row].nextSibling) : kNoRow;
}

EntryInfo FatParser::Info(RowId row) const {
    EntryInfo info;
    if (row >= entries_.size()) return info;
    const FatEntry& e = entries_[row];
    info.id = row;
    info.name = e.name;
    info.folder = e.IsFolder();
    info.deleted = e.deleted;
    info.orphan = e.orphan;
    info.size = info.folder ? 0 : e.fileSize;
    if (e.entryOffset != 0) {
        info.created = DosTime(e.createDate, e.createTime, e.createTimeTenth);
        info.modified = DosTime(e.writeDate, e.writeTime);
        info.accessed = DosTime(e.accessDate, 0);
    }
    info.attributes = AttributeText(e.attributes);
    return info;
}

DetailTexts FatParser::FormatTimes(RowId row) const {
    DetailTexts t;
    if (row >= entries_.size()) return t;
    const FatEntry& e = entries_[row];
    auto dateTime = [](std::uint16_t date, std::uint16_t time) {
        return FormatDateTimeText(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F);
    };
    t.created = dateTime(e.createDate, e.createTime);
    t.accessed = FormatDateText(1980 + (e.accessDate >> 9), (e.accessDate >> 5) & 0x0F, e.accessDate & 0x1F);
    t.modified = dateTime(e.writeDate, e.writeTime);
    t.attributes = AttributeText(e.attributes);
    return t;
}

std::string FatParser::FormatSize(RowId row) const {
    return row < entries_.size() ? FormatSizeText(entries_[row].fileSize) : std::string();
}

std::unique_ptr<FileSystemParser> MakeFatParserByBootSector(ParserLinks links) {
    std::vector<std::uint8_t> sector(kBootSectorBytes, 0);
    if (links.view) {
        links.view.ReadAt(0, sector.data(), sector.size());
    }
    auto p = ParseFatBootSector(sector);
    if (p && p->kind != FatKind::Fat32) return std::make_unique<Fat16Parser>(std::move(links));
    return std::make_unique<Fat32Parser>(std::move(links));
}

}  // namespace tarnwell
