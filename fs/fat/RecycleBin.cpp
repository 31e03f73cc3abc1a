#include "fs/fat/RecycleBin.h"

#include "fs/TextEncoding.h"

namespace tarnwell {

std::optional<std::string> RecycleInfoPath(ByteView info) {
    if (!info.Has(0, 28)) return std::nullopt;
    std::uint64_t version = info.Le64(0);
    std::string path;
    if (version == 1) {
        path = Utf16LeToUtf8(info, 24, 260);
    } else if (version == 2) {
        std::uint32_t units = info.Le32(24);
        if (units == 0 || 28 + std::uint64_t(units) * 2 > info.size()) return std::nullopt;
        path = Utf16LeToUtf8(info, 28, units);
    } else {
        return std::nullopt;
    }
    if (path.empty()) return std::nullopt;
    return path;
}

std::string RecycleLeafName(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace tarnwell
