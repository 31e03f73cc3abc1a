// The Standard and Advanced scans: where the MFT lies, reading it whole in
// large reads, one row per record, and linking the rows into the tree.

#include <algorithm>
#include <bit>
#include <cstdio>
#include <ctime>
#include <exception>

#include "advanced/TableFinder.h"
#include "core/DisplayText.h"
#include "fs/ntfs/NtfsParser.h"

namespace tarnwell {

using namespace ntfsfmt;

namespace {
constexpr std::size_t kMftChunk = 4u << 20;
constexpr const char* kOrphanName = "ORPHAN_ENTRY";

}  // namespace

NtfsParser::NtfsParser(ParserLinks links) : FileSystemParser(std::move(links)) {}

void NtfsParser::Reset() {
    entries.clear();
    names.clear();
    rowsByNumber.clear();
    pendingExtensions.clear();
    orphanIndex = rootIndex = kNoRow;
    mftFound = false;
    mftRuns = RunMap();
    mftBytes = 0;
    recordCount = 0;
}

bool NtfsParser::Scan(RecoveryMode mode) {
    if (!links_.view) return false;
    try {
        Reset();
        ReadBootSector();
        scanMode = mode;
        bool ok = true;
        if (mode == RecoveryMode::Deep) {
            Status(Event(Step::NtfsDeepScanning));
            DeepScanRecords();
        } else if (mode == RecoveryMode::Advanced) {
            ChooseAdvancedPicks();
            ok = UseMftCandidate(*chosenCandidate);
            if (!ok) links_.prompter->Inform(Event(Step::NoMftRecord));
            if (ok) ReadMftRecords();
        } else {
            Status(Event(Step::NtfsParsingMft));
            ok = LocateMft();
            if (ok) ReadMftRecords();
        }
        ApplyExtensionRecords();
        BuildTree();
        ReadRecycleBinNames();
        return ok;
    } catch (const std::exception& e) {
        // An allocation the volume asked for could not be had: keep what was found.
        links_.prompter->Inform(Event(Step::Exception).Detail(e.what()));
        if (orphanIndex == kNoRow) {
            try {
                BuildTree();
            } catch (const std::exception&) {
                Reset();
            }
        }
        return false;
    }
}

std::uint64_t NtfsParser::ScanLimit() const {
    std::uint64_t limit = volumeSize;
    if (links_.view.source().fileLength() > 0) limit = std::min(limit, links_.view.Available());
    return limit;
}

bool NtfsParser::ReadBootSector() {
    std::vector<std::uint8_t> sector(512);
    links_.view.ReadAt(0, sector.data(), sector.size());
    bootSector = DecodeBootSector(sector);
    if (bootSector) {
        // Sectors of the boot sector's own size: a 4 KiB-sector volume is not an eighth of itself.
        volumeSize = bootSector->VolumeBytes();
        clusterSize = bootSector->clusterSize;
        recordSize = bootSector->recordSize;
    } else {
        volumeSize = links_.volume.SizeBytes();
        clusterSize = 4096;
        recordSize = kDefaultRecordSize;
    }
    if (volumeSize == 0) {
        volumeSize = links_.view.Available();
    }
    return volumeSize != 0;
}

bool NtfsParser::LocateMft() {
    if (bootSector) {
        Status(Event(Step::NtfsBootFine));
        for (std::uint64_t lcn : {bootSector->mftLcn, bootSector->mftMirrorLcn}) {
            if (lcn == 0 || lcn >= VolumeClusters()) continue;
            if (ReadMftRunList(lcn * clusterSize)) {
                Status(Event(Step::NtfsGotRun));
                return true;
            }
        }
    }
    Status(Event(Step::NtfsBootCorrupt));
    return SearchMftRecord();
}

// The first $MFT record of the volume whose run list agrees with where it lies;
// that agreement also gives the cluster size when the boot sector is gone.
bool NtfsParser::SearchMftRecord() {
    std::optional<std::uint64_t> fallback;
    bool found = false;
    ScanVolumeForRecords(
        [&](std::uint64_t offset, std::uint8_t* bytes) {
            std::vector<std::uint8_t> copy(bytes, bytes + recordSize);
            RecordSummary s = SummarizeRecord(copy.data(), copy.size());
            if (!s.hasName || s.name != "$MFT" || (s.hasRecordNumber && s.recordNumber != 0)) return true;
            Status(Event(Step::NtfsFoundMft));
            std::uint64_t lcn = 0;
            for (const Attribute& a : Attributes(copy)) {
                if (a.type != kData || !a.nonResident || a.nameLength != 0 || a.StartVcn() != 0) continue;
                std::vector<ClusterRun> runs;
                DecodeRunList(a.MappingPairs(), 0, runs);
                if (!runs.empty() && !runs[0].sparse) lcn = static_cast<std::uint64_t>(runs[0].lcn);
                break;
            }
            if (lcn == 0) return true;
            std::uint64_t ownSize = ByteView(copy).Le32(28);
            if (offset % lcn == 0 && std::has_single_bit(offset / lcn) && offset / lcn >= 512 && offset / lcn <= (2u << 20)) {
                std::uint64_t saved = clusterSize;
                std::uint32_t savedRecord = recordSize;
                clusterSize = offset / lcn;
                if (UsableRecordSize(ownSize)) recordSize = static_cast<std::uint32_t>(ownSize);
                if (ReadMftRunList(offset)) {
                    Status(Event(Step::NtfsGotMftRun));
                    found = true;
                    return false;
                }
                clusterSize = saved;
                recordSize = savedRecord;
            }
            if (!fallback) fallback = offset;  // a copy in the mirror, or a guess at the cluster size
            return true;
        },
        true);
    if (found) return true;
    return fallback && ReadMftRunList(*fallback);
}

bool NtfsParser::UseMftCandidate(std::size_t index) {
    mftFound = false;
    if (index >= mftCandidates.size()) return false;
    const MftCandidate& c = mftCandidates[index];
    if (chosenClusterSize != 0)
        clusterSize = chosenClusterSize;
    else if (c.clusterSize != 0)
        clusterSize = c.clusterSize;
    std::vector<std::uint8_t> record(recordSize);
    links_.view.ReadAt(static_cast<std::int64_t>(c.entry.recordOffset), record.data(), record.size());
    std::uint64_t ownSize = ByteView(record).Le32(28);
    if (!bootSector && UsableRecordSize(ownSize)) recordSize = static_cast<std::uint32_t>(ownSize);
    return ReadMftRunList(c.entry.recordOffset);
}

void NtfsParser::ChooseAdvancedPicks() {
    const AdvancedChoice& pick = links_.advanced;
    if (mftCandidates.empty()) {
        if (pick.found) {
            // The lists of a search already made: their positions only need their records read.
            for (std::uint64_t at : pick.found->tables) {
                MftCandidate c;
                std::vector<std::uint8_t> record(recordSize);
                links_.view.ReadAt(static_cast<std::int64_t>(at), record.data(), record.size());
                const std::uint64_t own = ByteView(record).Le32(28);
                // One candidate per list entry, so that the page's indices hold;
                // one that names no $MFT fails when it is used.
                if (!MftCandidateAt(at, UsableRecordSize(own) ? own : recordSize, c)) c.entry.recordOffset = at;
                mftCandidates.push_back(c);
            }
        } else {
            FindMftCandidates(static_cast<std::uint64_t>(CandidateLimit(pick.max)));
        }
    }
    if (chosenCandidate) return;  // picked on the advanced page
    // The cluster list as `candidates` shows it: the boot's value, then the usual sizes.
    const std::vector<std::uint32_t> sizes =
        pick.found ? pick.found->clusterSizes
                   : ClusterSizeList(TableKind::Ntfs, ReadBootHint(links_.view, ScanLimit(), TableKind::Ntfs));
    const std::uint32_t n = pick.cluster >= 0 && static_cast<std::size_t>(pick.cluster) < sizes.size()
                                ? sizes[static_cast<std::size_t>(pick.cluster)]
                                : 0;
    SelectMftCandidate(static_cast<std::size_t>(std::max(0, pick.table)), n);
}

void NtfsParser::SelectMftCandidate(std::size_t index, std::uint32_t sectorsPerCluster) {
    chosenCandidate = index;
    chosenClusterSize = sectorsPerCluster > 0 ? sectorsPerCluster * 512ULL : 0;
}

// The MFT's own run list: record 0's $DATA, continued in the extension records
// that its attribute list names, so that a fragmented MFT is read whole.
bool NtfsParser::ReadMftRunList(std::uint64_t recordOffset) {
    std::vector<std::uint8_t> record(recordSize);
    links_.view.ReadAt(static_cast<std::int64_t>(recordOffset), record.data(), record.size());
    if (!IsRecordSignature(record) || ApplyFixups(record.data(), record.size()) == FixupResult::Damaged) return false;
    std::vector<ClusterRun> runs;
    std::uint64_t realSize = 0;
    const Attribute* list = nullptr;
    std::vector<Attribute> attributes = Attributes(record);
    auto addExtents = [&](const std::vector<Attribute>& attrs) {
        for (const Attribute& a : attrs) {
            if (a.type != kData || !a.nonResident || a.nameLength != 0) continue;
            if (a.StartVcn() == 0) realSize = a.RealSize();
            DecodeRunList(a.MappingPairs(), a.StartVcn(), runs);
        }
    };
    addExtents(attributes);
    for (const Attribute& a : attributes)
        if (a.type == kAttributeList) list = &a;
    RunMap map(runs);
    if (map.empty() || map.Runs()[0].vcn != 0 || map.Runs()[0].sparse) return false;
    mftRuns = map;  // ReadRange below needs the runs known so far
    if (list != nullptr) {
        std::vector<std::uint8_t> listBytes;
        ReadAttributeList(*list, listBytes);
        std::vector<std::uint64_t> seen;
        for (const AttributeListEntry& e : DecodeAttributeList(listBytes)) {
            if (e.type != kData || e.nameLength != 0 || e.record == 0) continue;
            if (std::find(seen.begin(), seen.end(), e.record) != seen.end()) continue;
            seen.push_back(e.record);
            std::vector<std::uint8_t> ext(recordSize);
            ReadRange(mftRuns, e.record * recordSize, ext.size(), ext.data());
            if (!IsRecordSignature(ext) || ApplyFixups(ext.data(), ext.size()) == FixupResult::Damaged) continue;
            if ((ByteView(ext).Le64(32) & kReferenceMask) != 0) continue;  // not an extension of record 0
            addExtents(Attributes(ext));
            mftRuns = RunMap(runs);
        }
    }
    mftBytes = realSize;
    mftOffset = static_cast<std::uint64_t>(mftRuns.Runs()[0].lcn) * clusterSize;
    mftFound = true;
    return true;
}

void NtfsParser::ReadMftRecords() {
    if (!mftFound || StopRequested()) return;
    std::uint64_t covered = 0;
    for (const ClusterRun& r : mftRuns.Runs()) covered = std::max(covered, r.vcn + r.length);
    std::uint64_t bytes = covered * clusterSize;
    if (mftBytes != 0) bytes = std::min(bytes, mftBytes);
    // Never more rows than records fit on the volume, whatever the size field says.
    bytes = std::min(bytes, std::max<std::uint64_t>(ScanLimit(), recordSize));
    recordCount = bytes / recordSize;
    entries.assign(recordCount, NtfsEntry{});
    links_.progress->SetRange(0, static_cast<std::int64_t>(recordCount));

    std::size_t perChunk = std::max<std::size_t>(1, kMftChunk / recordSize);
    std::vector<std::uint8_t> chunk(perChunk * recordSize);
    const ClusterRun* announced = nullptr;
    for (std::uint64_t first = 0; first < recordCount; first += perChunk) {
        if (!Checkpoint()) break;
        std::uint64_t count = std::min<std::uint64_t>(perChunk, recordCount - first);
        std::uint64_t streamOffset = first * recordSize;
        const ClusterRun* run = mftRuns.Find(streamOffset / clusterSize);
        if (run != nullptr && run != announced) {
            Status(Event(Step::NtfsRunCluster, static_cast<std::int64_t>(run->lcn)));
            announced = run;
        }
        ReadRange(mftRuns, streamOffset, count * recordSize, chunk.data());
        for (std::uint64_t j = 0; j < count; ++j) {
            RowId row = first + j;
            if (row % 4096 == 0) Status(Event(Step::NtfsRecord, static_cast<std::int64_t>(row)));
            NtfsEntry& e = entries[row];
            std::uint64_t at = streamOffset + j * recordSize;
            const ClusterRun* r = mftRuns.Find(at / clusterSize);
            if (r != nullptr && !r->sparse)
                e.recordOffset = (static_cast<std::uint64_t>(r->lcn) + (at / clusterSize - r->vcn)) * clusterSize +
                                 at % clusterSize;
            e.recordNumber = row;
            e.selfIndex = row;
            ParseRecord(chunk.data() + j * recordSize, row);
        }
        links_.progress->SetPosition(static_cast<std::int64_t>(first + count));
    }
}

void NtfsParser::ParseRecord(std::uint8_t* record, RowId row) {
    NtfsEntry& e = entries[row];
    ByteView raw(record, recordSize);
    e.signature = raw.Le32(0);
    e.selfIndex = row;
    RecordSummary s = SummarizeRecord(record, recordSize);
    if (!s.fileSignature) return;
    e.recordFlags = s.flags;
    e.sequence = s.sequence;
    e.torn = s.torn;
    if (!MftRowsAreRecordNumbers()) e.recordNumber = s.hasRecordNumber ? s.recordNumber : ~0ULL;
    e.hasAttributeList = s.hasAttributeList;
    if (s.hasTimes) {
        e.created = s.created;
        e.modified = s.modified;
        e.accessed = s.accessed;
    }
    e.fileAttributes = s.hasStandardAttributes ? s.standardAttributes : (s.nameAttributes & 0xFFFF);
    if (s.hasName) {
        SetName(row, s.name);
        e.hasName = true;
        e.nameSpace = s.nameSpace;
        e.parentIndex = static_cast<std::int64_t>(s.parentReference & kReferenceMask);
        e.parentSequence = static_cast<std::uint16_t>(s.parentReference >> 48);
        e.allocatedSize = s.nameAllocatedSize;
    }
    if (s.IsFolder()) e.kind = 'D';
    if (s.hasData) {
        e.dataSize = s.dataSize;
        if (e.allocatedSize == 0) e.allocatedSize = s.dataAllocated;
    }
    if (s.baseReference != 0) {  // record 0's extensions name base 0 with its sequence
        e.extension = true;
        pendingExtensions.push_back(
            {row, s.baseReference & kReferenceMask, static_cast<std::uint16_t>(s.baseReference >> 48)});
    }
}

// A base record whose $FILE_NAME or first $DATA extent moved into an extension
// record takes them from there.
void NtfsParser::ApplyExtensionRecords() {
    for (const PendingExtension& p : pendingExtensions) {
        const NtfsEntry ext = entries[p.row];
        auto apply = [&](RowId baseRow) {
            NtfsEntry& base = entries[baseRow];
            if (base.extension || base.signature != ext.signature) return false;
            if (p.baseSequence != 0 && base.sequence != p.baseSequence) return false;
            if (ext.hasName && (!base.hasName || (base.nameSpace == 2 && ext.nameSpace != 2))) {
                base.nameOffset = ext.nameOffset;
                base.nameLength = ext.nameLength;
                base.hasName = true;
                base.nameSpace = ext.nameSpace;
                base.parentIndex = ext.parentIndex;
                base.parentSequence = ext.parentSequence;
                if (ext.kind == 'D') base.kind = 'D';
                if (base.allocatedSize == 0) base.allocatedSize = ext.allocatedSize;
            }
            if (ext.dataSize > base.dataSize) base.dataSize = ext.dataSize;
            return true;
        };
        if (MftRowsAreRecordNumbers()) {
            if (p.base < recordCount) apply(p.base);
        } else {
            auto [from, to] = RowsNumbered(p.base);
            for (auto it = from; it != to; ++it)
                if (apply(it->second)) break;
        }
    }
}

RowId NtfsParser::AppendSyntheticFolder(std::string_view name) {
    NtfsEntry e;
    e.signature = 0x454C4946;  // "FILE"
    e.kind = 'D';
    e.recordFlags = 1;
    e.selfIndex = entries.size();
    e.recordNumber = ~0ULL;
    e.hasName = true;
    entries.push_back(e);
    SetName(e.selfIndex, name);
    return e.selfIndex;
}

void NtfsParser::SetName(RowId row, std::string_view name) {
    entries[row].nameOffset = static_cast<std::uint32_t>(names.size());
    entries[row].nameLength = static_cast<std::uint32_t>(name.size());
    names.append(name);
}

std::string_view NtfsParser::Name(RowId row) const {
    if (row >= entries.size()) return {};
    const NtfsEntry& e = entries[row];
    return std::string_view(names).substr(e.nameOffset, e.nameLength);
}

// Whether row may hang under the folder its $FILE_NAME names, and which row that is.
bool NtfsParser::ParentOf(RowId row, RowId& parent) const {
    const NtfsEntry& e = entries[row];
    if (e.parentIndex < 0) return false;
    auto number = static_cast<std::uint64_t>(e.parentIndex);
    auto usable = [&](RowId p) {
        if (p == row || p >= entries.size()) return false;
        const NtfsEntry& c = entries[p];
        if (c.signature != 0x454C4946 || c.extension || c.kind != 'D') return false;
        if (!c.hasName && p != rootIndex) return false;
        // A folder record reused since has another sequence number. A deleted
        // folder's was raised by one when it was freed.
        if (e.parentSequence == 0 || c.sequence == 0 || c.sequence == e.parentSequence) return true;
        return (c.recordFlags & 1) == 0 && c.sequence == static_cast<std::uint16_t>(e.parentSequence + 1);
    };
    if (MftRowsAreRecordNumbers()) {
        if (number >= recordCount || !usable(number)) return false;
        parent = number;
        return true;
    }
    auto [from, to] = RowsNumbered(number);
    for (auto it = from; it != to; ++it) {
        if (usable(it->second)) {
            parent = it->second;
            return true;
        }
    }
    return false;
}

void NtfsParser::LinkUnder(RowId parent, RowId child) {
    NtfsEntry& p = entries[parent];
    NtfsEntry& c = entries[child];
    c.nextSibling = -1;
    if (p.lastChild < 0)
        p.firstChild = static_cast<std::int64_t>(child);
    else
        entries[static_cast<RowId>(p.lastChild)].nextSibling = static_cast<std::int64_t>(child);
    p.lastChild = static_cast<std::int64_t>(child);
    c.listed = true;
}

void NtfsParser::BuildTree() {
    const RowId records = entries.size();
    auto isRoot = [&](RowId i) {
        const NtfsEntry& e = entries[i];
        return e.signature == 0x454C4946 && !e.extension && e.kind == 'D' && Name(i) == ".";
    };
    rootIndex = kNoRow;
    if (MftRowsAreRecordNumbers() && records > 5 && isRoot(5)) rootIndex = 5;
    if (rootIndex == kNoRow) {
        // Deep mode: the root record found last in the MFT proper is as good as any;
        // prefer one in use.
        for (RowId i = 0; i < records; ++i) {
            if (!isRoot(i) || (!MftRowsAreRecordNumbers() && entries[i].recordNumber != 5 &&
                               entries[i].recordNumber != ~0ULL))
                continue;
            if (rootIndex == kNoRow || ((entries[rootIndex].recordFlags & 1) == 0 && (entries[i].recordFlags & 1)))
                rootIndex = i;
        }
    }
    orphanIndex = AppendSyntheticFolder(kOrphanName);
    if (rootIndex == kNoRow) rootIndex = AppendSyntheticFolder("");

    // Resolve every listable row's place before linking, so that a parent that
    // comes later in the table, a cycle of folders or a record naming itself as
    // parent all end in the tree or under the orphan node, never in a loop.
    enum : std::uint8_t { kUnseen, kWalking, kDone };
    std::vector<std::uint8_t> state(records, kUnseen);
    std::vector<RowId> placeUnder(records, kNoRow);
    auto listable = [&](RowId i) {
        const NtfsEntry& e = entries[i];
        return i != rootIndex && e.signature == 0x454C4946 && e.hasName && !e.extension;
    };
    std::vector<RowId> path;
    for (RowId i = 0; i < records; ++i) {
        if (!listable(i) || state[i] == kDone) continue;
        path.clear();
        RowId x = i;
        while (true) {
            if (state[x] == kDone) break;
            if (state[x] == kWalking) {  // back on our own path: break the cycle here
                placeUnder[x] = orphanIndex;
                break;
            }
            state[x] = kWalking;
            path.push_back(x);
            RowId p = kNoRow;
            if (!ParentOf(x, p)) {
                placeUnder[x] = orphanIndex;
                break;
            }
            placeUnder[x] = p;
            if (p == rootIndex) break;
            x = p;
        }
        for (RowId y : path) state[y] = kDone;
    }
    for (RowId i = 0; i < records; ++i) {
        if (placeUnder[i] == kNoRow) continue;
        entries[i].orphan = placeUnder[i] == orphanIndex ? 1 : 0;
        LinkUnder(placeUnder[i], i);
    }
    entries[orphanIndex].parentIndex = static_cast<std::int64_t>(rootIndex);
    LinkUnder(rootIndex, orphanIndex);
}

RowId NtfsParser::FirstChild(RowId row) const {
    if (row >= entries.size() || entries[row].firstChild < 0) return kNoRow;
    return static_cast<RowId>(entries[row].firstChild);
}

RowId NtfsParser::NextSibling(RowId row) const {
    if (row >= entries.size() || entries[row].nextSibling < 0) return kNoRow;
    return static_cast<RowId>(entries[row].nextSibling);
}

namespace {
FileTime ToFileTime(std::uint64_t value) {
    if (value == 0) return {};
    UnixTime t = FromFileTime(value);
    return FileTime::Utc(t.seconds, t.nanoseconds);
}

std::string AttributeText(std::uint32_t flags) {
    std::string text;
    if (flags & 0x0001) text += "-R";
    if (flags & 0x0002) text += "-H";
    if (flags & 0x0200) text += "-S";
    if (flags & 0x0020) text += "-A";
    if (flags & 0x0800) text += "-C";
    if (flags & 0x4000) text += "-E";
    return text;
}

std::string LocalTimeText(std::uint64_t value) {
    if (value == 0) return {};
    std::time_t seconds = static_cast<std::time_t>(FromFileTime(value).seconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    return FormatDateTimeText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
}
}  // namespace

EntryInfo NtfsParser::Info(RowId row) const {
    EntryInfo info;
    if (row >= entries.size()) return info;
    const NtfsEntry& e = entries[row];
    info.id = row;
    info.name = row == rootIndex ? links_.rootFolderName : std::string(Name(row));
    info.folder = e.kind == 'D';
    info.deleted = (e.recordFlags & 1) == 0;
    info.orphan = e.orphan != 0;
    info.size = info.folder ? 0 : e.dataSize;
    info.created = ToFileTime(e.created);
    info.modified = ToFileTime(e.modified);
    info.accessed = ToFileTime(e.accessed);
    info.attributes = AttributeText(e.fileAttributes);
    return info;
}

OutputTimes NtfsParser::TimesOf(RowId row) const {
    if (row >= entries.size()) return {};
    return {ToFileTime(entries[row].accessed), ToFileTime(entries[row].modified)};
}

DetailTexts NtfsParser::FormatTimes(RowId row) const {
    if (row >= entries.size()) return {};
    const NtfsEntry& e = entries[row];
    return {LocalTimeText(e.created), LocalTimeText(e.accessed), LocalTimeText(e.modified),
            AttributeText(e.fileAttributes)};
}

std::string NtfsParser::FormatSize(RowId row) const {
    if (row >= entries.size()) return {};
    return FormatSizeText(entries[row].dataSize);
}

}  // namespace tarnwell
