// Whole-volume searches for file records: the Deep mode, the search for the
// MFT when the boot sector is gone, and the MFT candidates of the advanced page.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <future>

#include "fs/ntfs/NtfsParser.h"

namespace tarnwell {

using namespace ntfsfmt;

namespace {
// Progress moves in units of 10 MiB; reads are smaller, so that the buffer
// stays in the processor's cache while its slots are tested.
constexpr std::size_t kProgressUnit = 10u << 20;
constexpr std::size_t kScanChunk = 1u << 20;
constexpr std::size_t kSlot = 512;

// A slot that opens a file record: the signature and header offsets that fit
// in the first sector.
bool LooksLikeRecord(const std::uint8_t* p) {
    if (p[0] != 'F' || p[1] != 'I' || p[2] != 'L' || p[3] != 'E') return false;
    ByteView b(p, kSlot);
    return b.Le16(4) < kSlot && b.Le16(6) < kSlot && b.Le16(20) < kSlot && b.Le16(6) >= 2;
}
}  // namespace

// Reads the volume in large chunks and hands each record found to visit (its
// byte offset and recordSize writable bytes, valid during the call). visit
// returns false to stop.
void NtfsParser::ScanVolumeForRecords(const RecordVisitor& visit, bool progress) {
    const std::uint64_t limit = ScanLimit();
    if (progress) links_.progress->SetRange(0, static_cast<std::int64_t>(limit / kProgressUnit));
    std::vector<std::uint8_t> chunk(kScanChunk), ahead(kScanChunk);
    std::vector<std::uint8_t> record(recordSize);
    auto readAt = [this, limit](std::uint64_t p, std::uint8_t* into) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, limit - p));
        links_.view.ReadAt(static_cast<std::int64_t>(p), into, n);
        return n;
    };
    // The next chunk is read while this one is searched (the reader's ReadAt
    // may be called from several threads).
    std::future<std::size_t> next;
    if (limit > 0) next = std::async(std::launch::async, readAt, 0, ahead.data());
    for (std::uint64_t p = 0; p < limit; p += kScanChunk) {
        std::size_t n = next.get();
        chunk.swap(ahead);
        if (p + kScanChunk < limit) next = std::async(std::launch::async, readAt, p + kScanChunk, ahead.data());
        if (!Checkpoint()) return;
        if (progress && p % kProgressUnit == 0) links_.progress->SetPosition(static_cast<std::int64_t>(p / kProgressUnit));
        std::size_t o = 0;
        while (o + kSlot <= n) {
            if (!LooksLikeRecord(chunk.data() + o)) {
                o += kSlot;
                continue;
            }
            std::uint8_t* at = chunk.data() + o;
            if (o + recordSize > n) {  // the record runs on into the next chunk
                links_.view.ReadAt(static_cast<std::int64_t>(p + o), record.data(), recordSize);
                at = record.data();
            }
            if (!visit(p + o, at)) return;
            o += recordSize;
        }
    }
}

void NtfsParser::DeepScanRecords() {
    mftFound = false;
    std::uint64_t found = 0;
    ScanVolumeForRecords(
        [&](std::uint64_t offset, std::uint8_t* bytes) {
            RowId row = entries.size();
            entries.emplace_back();
            entries[row].recordOffset = offset;
            ParseRecord(bytes, row);
            NtfsEntry& e = entries[row];
            // Nothing to show and nothing another record needs (a base record whose
            // name lies in an extension record has an attribute list).
            if (!e.hasName && !e.extension && !e.hasAttributeList) {
                entries.pop_back();
                return true;
            }
            rowsByNumber.emplace_back(e.recordNumber, row);
            if (++found % 1024 == 1) {
                Status(Event(Step::NtfsDeepRecord, static_cast<std::int64_t>(entries.size())));
            }
            return true;
        },
        true);
    if (!std::is_sorted(rowsByNumber.begin(), rowsByNumber.end())) std::sort(rowsByNumber.begin(), rowsByNumber.end());
    links_.progress->SetPosition(static_cast<std::int64_t>(ScanLimit() / kProgressUnit));
}

std::pair<const std::pair<std::uint64_t, RowId>*, const std::pair<std::uint64_t, RowId>*> NtfsParser::RowsNumbered(
    std::uint64_t n) const {
    auto range = std::equal_range(rowsByNumber.begin(), rowsByNumber.end(), std::pair<std::uint64_t, RowId>{n, 0},
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    return {rowsByNumber.data() + (range.first - rowsByNumber.begin()),
            rowsByNumber.data() + (range.second - rowsByNumber.begin())};
}

bool NtfsParser::MftCandidateAt(std::uint64_t mftAt, std::uint64_t size, MftCandidate& c) {
    std::vector<std::uint8_t> mft(size);
    links_.view.ReadAt(static_cast<std::int64_t>(mftAt), mft.data(), mft.size());
    std::vector<std::uint8_t> raw = mft;
    RecordSummary s = SummarizeRecord(mft.data(), mft.size());
    if (!s.hasName || s.name != "$MFT") return false;
    c.entry.signature = ByteView(raw).Le32(0);
    c.entry.recordOffset = mftAt;
    c.entry.recordFlags = s.flags;
    c.entry.sequence = s.sequence;
    c.entry.hasName = true;
    c.entry.created = s.created;
    c.entry.modified = s.modified;
    c.entry.accessed = s.accessed;
    for (const Attribute& a : Attributes(mft)) {
        if (a.type != kData || !a.nonResident || a.nameLength != 0 || a.StartVcn() != 0) continue;
        std::vector<ClusterRun> runs;
        DecodeRunList(a.MappingPairs(), 0, runs);
        c.entry.dataSize = a.RealSize();
        if (!runs.empty() && !runs[0].sparse && runs[0].lcn > 0) {
            auto lcn = static_cast<std::uint64_t>(runs[0].lcn);
            std::uint64_t cs = mftAt / lcn;
            if (mftAt % lcn == 0 && cs >= 512 && cs <= (2u << 20) && (cs & (cs - 1)) == 0) c.clusterSize = cs;
        }
        break;
    }
    return true;
}

std::uint64_t NtfsParser::FindMftCandidates(std::uint64_t maximum) {
    if (!links_.view || maximum == 0) return mftCandidates.size();
    ReadBootSector();
    mftCandidates.clear();
    ScanVolumeForRecords(
        [&](std::uint64_t offset, std::uint8_t* bytes) {
            std::vector<std::uint8_t> copy(bytes, bytes + recordSize);
            RecordSummary boot = SummarizeRecord(copy.data(), copy.size());
            if (!boot.hasName || boot.name != "$Boot" || (boot.hasRecordNumber && boot.recordNumber != 7))
                return true;
            std::uint64_t size = UsableRecordSize(ByteView(copy).Le32(28)) ? ByteView(copy).Le32(28) : recordSize;
            if (offset < 7 * size) return true;
            MftCandidate c;
            if (!MftCandidateAt(offset - 7 * size, size, c)) return true;  // $MFTMirr and the like are no MFT
            mftCandidates.push_back(c);
            Status(Event(Step::NtfsMftCandidate, static_cast<std::int64_t>(mftCandidates.size())));
            return mftCandidates.size() < maximum;
        },
        true);
    // A stop ends the search only; the scan that may follow starts afresh.
    stopFlag = false;
    links_.progress->SetPosition(static_cast<std::int64_t>(ScanLimit() / kProgressUnit));
    return mftCandidates.size();
}

}  // namespace tarnwell
