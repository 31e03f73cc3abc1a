#include "support/GzipImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace tarnwell::test {

bool GzipImage::Open(const std::string& path) {
    blocks_.clear();
    gzFile in = gzopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    gzbuffer(in, 1 << 20);
    std::vector<std::uint8_t> block(kBlock), zeros(kBlock, 0);
    std::uint64_t length = 0;
    for (;;) {
        int n = gzread(in, block.data(), static_cast<unsigned>(block.size()));
        if (n <= 0) break;
        bool zero = std::memcmp(block.data(), zeros.data(), static_cast<std::size_t>(n)) == 0;
        if (!zero) blocks_[length / kBlock].assign(block.begin(), block.begin() + n);
        length += static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) < block.size()) break;
    }
    gzclose(in);
    SetLength(length);
    return length > 0;
}

SectorReader::RawResult GzipImage::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(destination);
    if (position >= fileLength()) return {RawStatus::EndOfData, 0};
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileLength() - position));
    for (std::size_t done = 0; done < n;) {
        std::uint64_t at = position + done;
        std::size_t in = static_cast<std::size_t>(at % kBlock);
        std::size_t piece = std::min(n - done, kBlock - in);
        auto it = blocks_.find(at / kBlock);
        if (it != blocks_.end() && in < it->second.size()) {
            piece = std::min(piece, it->second.size() - in);
            std::memcpy(out + done, it->second.data() + in, piece);
        } else {
            std::memset(out + done, 0, piece);
        }
        done += piece;
    }
    return {RawStatus::Ok, n};
}

}  // namespace tarnwell::test
