#include "fs/RecycleIndex.h"

#include "core/TextEncoding.h"

namespace tarnwell {

std::optional<std::string> ParseRecycleIndex(ByteView b) {
    if (!b.Has(0, 24)) return std::nullopt;
    std::uint64_t version = b.Le64(0);
    std::string path;
    if (version == 1) {
        path = Utf16LeToUtf8(b, 24, 260);
    } else if (version == 2) {
        std::uint32_t units = b.Le32(24);
        // A length past the file's end says these bytes are no index file.
        if (units == 0 || units > 32768 || !b.Has(28, 2 * std::size_t(units))) return std::nullopt;
        path = Utf16LeToUtf8(b, 28, units);
    } else {
        return std::nullopt;
    }
    if (path.empty()) return std::nullopt;
    return path;
}

std::string WindowsFileName(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RecycleDataName(const std::string& indexName) {
    std::string s = indexName;
    for (std::size_t at = s.find("$I"); at != std::string::npos; at = s.find("$I", at + 2)) s[at + 1] = 'R';
    return s;
}

}  // namespace tarnwell
