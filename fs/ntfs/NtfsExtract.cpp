// Extraction: a file's unnamed $DATA gathered from its record and the extension
// records its attribute list names, written resident, by whole runs, or by
// compression blocks; and the recycle-bin names read from "$I" files.

#include <algorithm>
#include <cstring>
#include <exception>
#include <set>

#include "core/TextEncoding.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsParser.h"
#include "fs/RecycleIndex.h"
#include "fs/SourceCopy.h"

namespace tarnwell {

using namespace ntfsfmt;

namespace {
constexpr std::size_t kReadPiece = 8u << 20;
constexpr std::size_t kMaxAttributeList = 4u << 20;
constexpr std::size_t kMaxCompressionBlock = 16u << 20;
constexpr std::uint16_t kMaxCompressionUnit = 16;

}  // namespace

struct NtfsParser::DataStream {
    bool found = false;
    bool resident = false;
    std::vector<std::uint8_t> value;  // resident
    RunMap runs;
    std::uint64_t realSize = 0, initializedSize = 0;
    std::uint16_t compressionUnit = 0;
    std::uint16_t flags = 0;
    bool damaged = false;  // the record was torn or an extent could not be had
};

bool NtfsParser::ReadRange(const RunMap& runs, std::uint64_t offset, std::size_t count, std::uint8_t* out) const {
    bool ok = true;
    std::size_t done = 0;
    const std::uint64_t volumeClusters = VolumeClusters();
    while (done < count) {
        std::uint64_t at = offset + done;
        std::uint64_t vcn = at / clusterSize;
        std::uint64_t within = at % clusterSize;
        const ClusterRun* run = runs.Find(vcn);
        std::size_t take;
        if (run == nullptr) {
            take = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, clusterSize - within));
            std::memset(out + done, 0, take);
            ok = false;
        } else {
            std::uint64_t runEnd = (run->vcn + run->length) * clusterSize;
            take = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, runEnd - at));
            std::uint64_t lcn = static_cast<std::uint64_t>(run->lcn) + (vcn - run->vcn);
            std::uint64_t clustersTouched = (within + take + clusterSize - 1) / clusterSize;
            if (run->sparse) {
                std::memset(out + done, 0, take);
            } else if (lcn + clustersTouched > volumeClusters) {  // points beyond the volume
                std::memset(out + done, 0, take);
                ok = false;
            } else {
                ok = links_.view.ReadAt(static_cast<std::int64_t>(lcn * clusterSize + within), out + done, take) && ok;
            }
        }
        done += take;
    }
    return ok;
}

bool NtfsParser::ReadClusters(const RunMap& runs, std::uint64_t bytes, std::vector<std::uint8_t>& out) const {
    out.assign(static_cast<std::size_t>(bytes), 0);
    return ReadRange(runs, 0, out.size(), out.data());
}

bool NtfsParser::ReadAttributeList(const Attribute& list, std::vector<std::uint8_t>& out) const {
    if (!list.nonResident) {
        ByteView v = list.Value();
        out.assign(v.data(), v.data() + v.size());
        return true;
    }
    std::vector<ClusterRun> runs;
    DecodeRunList(list.MappingPairs(), 0, runs);
    std::uint64_t size = std::min<std::uint64_t>(list.RealSize(), kMaxAttributeList);
    return ReadClusters(RunMap(runs), size, out);
}

bool NtfsParser::ReadRow(RowId row, std::vector<std::uint8_t>& record) const {
    record.assign(recordSize, 0);
    if (MftRowsAreRecordNumbers() && row < recordCount && mftFound)
        return ReadRange(mftRuns, row * static_cast<std::uint64_t>(recordSize), recordSize, record.data());
    return links_.view.ReadAt(static_cast<std::int64_t>(entries[row].recordOffset), record.data(), recordSize);
}

std::vector<std::vector<std::uint8_t>> NtfsParser::RecordsNumbered(std::uint64_t n) const {
    std::vector<std::vector<std::uint8_t>> out;
    if (MftRowsAreRecordNumbers()) {
        if (n < recordCount) {
            out.emplace_back();
            ReadRow(n, out.back());
        }
        return out;
    }
    auto [from, to] = RowsNumbered(n);
    for (auto it = from; it != to && out.size() < 8; ++it) {
        out.emplace_back();
        ReadRow(it->second, out.back());
    }
    return out;
}

bool NtfsParser::LoadDataStream(RowId row, DataStream& stream, std::string& problem) const {
    std::vector<std::uint8_t> record;
    ReadRow(row, record);
    if (!IsRecordSignature(record)) {
        problem = "not a valid entry...";
        return false;
    }
    if (ApplyFixups(record.data(), record.size()) != FixupResult::Ok) stream.damaged = true;
    const std::uint64_t self = entries[row].recordNumber;
    std::vector<ClusterRun> runs;
    auto take = [&](const std::vector<Attribute>& attributes) {
        for (const Attribute& a : attributes) {
            if (a.type != kData || a.nameLength != 0) continue;
            stream.found = true;
            if (!a.nonResident) {
                ByteView v = a.Value();
                stream.resident = true;
                stream.value.assign(v.data(), v.data() + v.size());
                stream.realSize = v.size();
                continue;
            }
            if (a.StartVcn() == 0) {
                stream.realSize = a.RealSize();
                stream.initializedSize = a.InitializedSize();
                stream.compressionUnit = a.CompressionUnit();
                stream.flags = a.flags;
            }
            if (!DecodeRunList(a.MappingPairs(), a.StartVcn(), runs)) stream.damaged = true;
        }
    };
    std::vector<Attribute> attributes = Attributes(record);
    take(attributes);
    for (const Attribute& list : attributes) {
        if (list.type != kAttributeList) continue;
        std::vector<std::uint8_t> listBytes;
        if (!ReadAttributeList(list, listBytes)) stream.damaged = true;
        std::set<std::uint64_t> seen{self};
        for (const AttributeListEntry& e : DecodeAttributeList(listBytes)) {
            if (e.type != kData || e.nameLength != 0 || !seen.insert(e.record).second) continue;
            bool got = false;
            for (std::vector<std::uint8_t>& ext : RecordsNumbered(e.record)) {
                if (!IsRecordSignature(ext) || ApplyFixups(ext.data(), ext.size()) == FixupResult::Damaged) continue;
                if ((ByteView(ext).Le64(32) & kReferenceMask) != self) continue;  // reused for another file
                take(Attributes(ext));
                got = true;
                break;
            }
            if (!got) stream.damaged = true;
        }
        break;
    }
    stream.runs = RunMap(std::move(runs));
    return true;
}

// Uncompressed data: whole runs in large reads, sparse runs and everything
// past the initialized size as holes. What the runs do not cover, or cover
// outside the volume, could not be had: unreadable, and for a damaged list no
// more of it than the volume holds.
ExtractStatus NtfsParser::WritePlain(const DataStream& s, FileSink& sink) const {
    bool partial = s.damaged;
    std::vector<std::uint8_t> buffer;
    std::uint64_t pos = 0;
    std::uint64_t size = s.realSize;
    const std::uint64_t initialized = std::min(s.initializedSize, size);
    auto lost = [&](std::uint64_t upTo) {  // [pos, upTo) could not be had
        partial = true;
        upTo = std::min(upTo, std::max(pos, TrustedLength(size, false, volumeSize)));
        if (upTo <= pos) return true;
        bool ok = sink.WriteUnreadable(upTo - pos);
        pos = upTo;
        return ok;
    };
    for (const ClusterRun& run : s.runs.Runs()) {
        if (pos >= size) break;
        if (run.vcn > size / clusterSize) break;
        std::uint64_t runStart = run.vcn * clusterSize;
        if (runStart >= size) break;
        if (runStart > pos) {  // a gap in the run list: that data is lost
            if (!lost(runStart)) return ExtractStatus::WriteFailed;
            if (pos < runStart) break;  // cut at the volume's size
        }
        if (!run.sparse && static_cast<std::uint64_t>(run.lcn) + run.length > VolumeClusters()) {
            break;  // a run beyond the volume's end: the list is garbage from here on
        }
        std::uint64_t end = std::min(size, runStart + run.length * clusterSize);
        while (pos < end) {
            if (StopRequested()) return ExtractStatus::Partial;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end - pos, kReadPiece));
            if (run.sparse || pos >= initialized) {
                if (!sink.WriteHole(n)) return ExtractStatus::WriteFailed;
            } else {
                std::size_t data = static_cast<std::size_t>(std::min<std::uint64_t>(n, initialized - pos));
                std::uint64_t at = static_cast<std::uint64_t>(run.lcn) * clusterSize + (pos - runStart);
                CopyResult copied = CopyFromSource(links_.view, at, data, buffer, sink);
                if (!copied.written) return ExtractStatus::WriteFailed;
                if (!copied.complete) partial = true;
                if (data < n && !sink.WriteHole(n - data)) return ExtractStatus::WriteFailed;
            }
            pos += n;
        }
    }
    // The runs end before the file (or went outside the volume).
    if (pos < size && !lost(size)) return ExtractStatus::WriteFailed;
    return partial ? ExtractStatus::Partial : ExtractStatus::Ok;
}

// Compressed data, one compression block at a time: a block of only sparse
// clusters is zeros, a block with every cluster allocated is stored as is, any
// other block is LZNT1 in its allocated clusters. The last block, partial or
// not, is decoded too, and the output is cut at the real size.
ExtractStatus NtfsParser::WriteCompressed(const DataStream& s, FileSink& sink) const {
    // NTFS writes 4 (16 clusters); the format allows no unit past 2^16
    // clusters, and none is decoded past 16 MiB. Any other value is damage:
    // the file cannot be decoded, and is read as unreadable.
    if (s.compressionUnit > kMaxCompressionUnit ||
        (clusterSize << s.compressionUnit) > kMaxCompressionBlock) {
        lastProblem_ = "its compression unit of " + std::to_string(s.compressionUnit) + " is not one NTFS writes";
        return sink.WriteUnreadable(TrustedLength(s.realSize, false, volumeSize)) ? ExtractStatus::Failed
                                                                                  : ExtractStatus::WriteFailed;
    }
    const std::uint64_t blockClusters = 1ULL << s.compressionUnit;
    const std::uint64_t blockBytes = blockClusters * clusterSize;
    // Blocks up to the first run beyond the volume's end, which makes the rest garbage.
    std::uint64_t covered = 0;
    for (const ClusterRun& r : s.runs.Runs()) {
        if (!r.sparse && static_cast<std::uint64_t>(r.lcn) + r.length > VolumeClusters()) break;
        covered = std::max(covered, r.vcn + r.length);
    }
    bool partial = s.damaged;
    const std::uint64_t size = std::min(s.realSize, covered * clusterSize);
    if (size < s.realSize) partial = true;
    std::vector<std::uint8_t> input(static_cast<std::size_t>(blockBytes));
    std::vector<std::uint8_t> output(static_cast<std::size_t>(blockBytes));
    for (std::uint64_t pos = 0; pos < size; pos += blockBytes) {
        if (StopRequested()) return ExtractStatus::Partial;
        const std::uint64_t firstVcn = pos / clusterSize;
        std::uint64_t allocated = 0;
        bool trailingSparse = false;
        for (std::uint64_t k = 0; k < blockClusters; ++k) {
            const ClusterRun* r = s.runs.Find(firstVcn + k);
            if (r != nullptr && !r->sparse) {
                if (trailingSparse) partial = true;  // data after a hole: not a layout NTFS writes
                ++allocated;
            } else {
                trailingSparse = true;
            }
        }
        std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, size - pos));
        if (allocated == 0) {
            if (!sink.WriteHole(length)) return ExtractStatus::WriteFailed;
            continue;
        }
        if (allocated == blockClusters) {
            if (!ReadRange(s.runs, pos, length, output.data())) partial = true;
        } else {
            std::size_t inputBytes = static_cast<std::size_t>(allocated * clusterSize);
            if (!ReadRange(s.runs, pos, inputBytes, input.data())) partial = true;
            Lznt1Block block{ByteView(input.data(), inputBytes), output.data(), output.size(), 0};
            if (DecompressLznt1(block)) partial = true;
            std::memset(output.data() + block.produced, 0, output.size() - block.produced);
        }
        if (!sink.Write(output.data(), length)) return ExtractStatus::WriteFailed;
    }
    // Blocks past a run outside the volume could not be had.
    const std::uint64_t wanted = TrustedLength(s.realSize, false, volumeSize);
    if (wanted > size && !sink.WriteUnreadable(wanted - size)) return ExtractStatus::WriteFailed;
    return partial ? ExtractStatus::Partial : ExtractStatus::Ok;
}

ExtractStatus NtfsParser::ExtractData(RowId row, FileSink& sink) {
    lastProblem_.clear();
    if (row >= entries.size() || row == orphanIndex || entries[row].signature != 0x454C4946) return ExtractStatus::Failed;
    const NtfsEntry& e = entries[row];
    if (e.kind == 'D') {
        links_.prompter->Inform(Event(Step::IsDirectory).Name(std::string(Name(row))));
        return ExtractStatus::Failed;
    }
    try {
        DataStream stream;
        std::string problem;
        if (!LoadDataStream(row, stream, problem)) {
            links_.prompter->Inform(Event(Step::DataUnreadable).Detail(problem));
            return ExtractStatus::Failed;
        }
        if (!stream.found) return stream.damaged ? ExtractStatus::Partial : ExtractStatus::Ok;
        ExtractStatus status;
        if (stream.resident) {
            status = sink.Write(stream.value.data(), stream.value.size()) ? ExtractStatus::Ok : ExtractStatus::WriteFailed;
            if (status == ExtractStatus::Ok && stream.damaged) status = ExtractStatus::Partial;
        } else if ((stream.flags & 0x0001) != 0 && stream.compressionUnit != 0) {
            status = WriteCompressed(stream, sink);
        } else {
            status = WritePlain(stream, sink);  // encrypted data too: written as stored
        }
        return status;
    } catch (const std::exception& ex) {
        links_.prompter->Inform(Event(Step::Exception).Detail(ex.what()));
        return ExtractStatus::Failed;
    }
}

void NtfsParser::ReadRecycleBinNames() {
    // A damaged index file is no news for the user: its row keeps its name.
    SilentPrompter quiet;
    Prompter* saved = links_.prompter;
    links_.prompter = &quiet;
    RenameRecycledFiles(*this, [this](RowId row, const std::string& name) { SetName(row, name); });
    links_.prompter = saved;
}

}  // namespace tarnwell
