// Extraction: a fork streamed along its extents in large reads, hard links
// through their iNode file, and files compressed by the file system (decmpfs).
//
// decmpfs attribute "com.apple.decmpfs" (little-endian): 0 magic "fpmc",
// 4 compression type, 8 uncompressed size, 16 data. Type 3 keeps the data
// inline, type 4 in the resource fork: at its data offset (big-endian, byte 0
// of the fork) + 4 a table of block count and (offset, length) pairs relative
// to the table, each block zlib data of up to 64 KiB. A block whose first byte
// has low nibble 0xF is stored as is after that byte.

#include <zlib.h>

#include <algorithm>

#include "fs/hfsplus/HfsPlusParser.h"

namespace tarnwell {

namespace {
constexpr std::size_t kReadChunk = 4 << 20;
constexpr std::size_t kCompressedBlock = 65536;

// Inflates in into sink, writing at most limit bytes; written gets the count.
bool Inflate(const std::uint8_t* in, std::size_t size, std::uint64_t limit, FileSink& sink, std::uint64_t& written,
             bool& writeFailed) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(size);
    std::vector<std::uint8_t> out(kCompressedBlock);
    int rc = Z_OK;
    while (rc == Z_OK && written < limit) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        std::size_t n = out.size() - z.avail_out;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, limit - written));
        if (n > 0 && !sink.Write(out.data(), n)) {
            writeFailed = true;
            break;
        }
        written += n;
        if (n == 0 && rc == Z_OK && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END || written >= limit;
}
}  // namespace

ExtractStatus HfsPlusParser::StreamFork(const HfsFork& fork, std::uint32_t fileId, std::uint8_t forkType, FileSink& sink) {
    const ForkMap map = MapFork(fork, fileId, forkType);
    const std::uint64_t size = fork.logicalSize, mapped = map.MappedBytes();
    const std::uint64_t failedBefore = links_.view.FailedSectors();
    std::vector<std::uint8_t> chunk;
    for (std::uint64_t at = 0; at < mapped; at += chunk.size()) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, mapped - at)));
        // Unreadable sectors come back as zeros in their place: later bytes keep theirs.
        map.Read(links_.view, at, chunk.data(), chunk.size());
        if (!sink.Write(chunk.data(), chunk.size())) return ExtractStatus::WriteFailed;
        if (!Checkpoint()) return ExtractStatus::Partial;
    }
    if (mapped < size) {
        lastProblem_ = "only " + std::to_string(mapped) + " of " + std::to_string(size) + " bytes have known blocks";
        return mapped == 0 ? ExtractStatus::Failed : ExtractStatus::Partial;
    }
    if (links_.view.FailedSectors() != failedBefore) {
        lastProblem_ = "unreadable sectors were written as zeros";
        return ExtractStatus::Partial;
    }
    return ExtractStatus::Ok;
}

ExtractStatus HfsPlusParser::ExtractCompressed(const CatalogEntry& file, FileSink& sink) {
    auto it = decmpfs_.find(static_cast<std::uint32_t>(file.cnid));
    if (it == decmpfs_.end() || !ByteView(it->second).Matches(0, "fpmc")) {
        lastProblem_ = "the compressed file has no compression header";
        return ExtractStatus::Failed;
    }
    const ByteView header(it->second);
    const std::uint32_t type = header.Le32(4);
    const std::uint64_t size = header.Le64(8);
    std::uint64_t written = 0;
    bool writeFailed = false;
    if (type == 3) {
        ByteView data = header.Sub(16);
        if (data.empty()) return size == 0 ? ExtractStatus::Ok : ExtractStatus::Failed;
        if ((data.U8(0) & 0x0F) == 0x0F) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, data.size() - 1));
            if (!sink.Write(data.data() + 1, n)) return ExtractStatus::WriteFailed;
            written = n;
        } else {
            Inflate(data.data(), data.size(), size, sink, written, writeFailed);
        }
    } else if (type == 4) {
        const ForkMap rsrc = MapFork(file.resourceFork, static_cast<std::uint32_t>(file.cnid), kResourceFork);
        std::vector<std::uint8_t> head(16);
        rsrc.Read(links_.view, 0, head.data(), head.size());
        const std::uint64_t table = std::uint64_t(ByteView(head).Be32(0)) + 4;
        std::vector<std::uint8_t> count(4);
        rsrc.Read(links_.view, table, count.data(), count.size());
        const std::uint64_t blocks = ByteView(count).Le32(0);
        const std::uint64_t wantedBlocks = (size + kCompressedBlock - 1) / kCompressedBlock;
        // The table lies in the fork's known blocks; 2^24 blocks are a terabyte.
        if (blocks > wantedBlocks + 1 || blocks > (1u << 24) || table + 4 + 8 * blocks > rsrc.MappedBytes()) {
            lastProblem_ = "the compressed data's block table is damaged";
            return ExtractStatus::Failed;
        }
        std::vector<std::uint8_t> entries(static_cast<std::size_t>(8 * blocks));
        rsrc.Read(links_.view, table + 4, entries.data(), entries.size());
        std::vector<std::uint8_t> block;
        for (std::uint64_t i = 0; i < blocks && written < size && !writeFailed; ++i) {
            const std::uint64_t offset = ByteView(entries).Le32(8 * i), length = ByteView(entries).Le32(8 * i + 4);
            // zlib never grows 64 KiB by more than a little.
            if (length == 0 || length > 2 * kCompressedBlock || table + offset + length > rsrc.MappedBytes()) break;
            block.resize(static_cast<std::size_t>(length));
            rsrc.Read(links_.view, table + offset, block.data(), block.size());
            const std::uint64_t limit = std::min<std::uint64_t>(size, written + kCompressedBlock);
            if ((block[0] & 0x0F) == 0x0F) {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(limit - written, length - 1));
                if (!sink.Write(block.data() + 1, n)) return ExtractStatus::WriteFailed;
                written += n;
            } else {
                std::uint64_t before = written;
                if (!Inflate(block.data(), block.size(), limit, sink, written, writeFailed) && written == before) break;
            }
        }
    } else {
        lastProblem_ = "compression type " + std::to_string(type) + " is not recovered";
        return ExtractStatus::Failed;
    }
    if (writeFailed) return ExtractStatus::WriteFailed;
    if (written < size) {
        lastProblem_ = "the compressed data ends after " + std::to_string(written) + " of " + std::to_string(size) + " bytes";
        return written == 0 ? ExtractStatus::Failed : ExtractStatus::Partial;
    }
    return ExtractStatus::Ok;
}

ExtractStatus HfsPlusParser::ExtractData(RowId row, FileSink& sink) {
    lastProblem_.clear();
    const CatalogEntry* e = Find(row);
    if (e == nullptr || e->Folder()) return ExtractStatus::Failed;
    const CatalogEntry* owner = DataOwner(*e);
    if (owner == nullptr) return ExtractStatus::Failed;
    const auto id = static_cast<std::uint32_t>(owner->cnid);
    if (e->resourceRow) return StreamFork(owner->resourceFork, id, kResourceFork, sink);
    if (owner->Compressed()) return ExtractCompressed(*owner, sink);
    return StreamFork(owner->dataFork, id, kDataFork, sink);
}

}  // namespace tarnwell
