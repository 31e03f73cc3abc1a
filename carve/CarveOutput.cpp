#include "carve/CarveOutput.h"

#include <algorithm>
#include <vector>

namespace tarnwell {

std::string CarveOutput::Write(const VolumeView& reader, const CarvedItem& item, std::int64_t nameOffset) {
    const std::string folderName = item.category.empty() ? "Other" : item.category;
    auto it = folders_.find(folderName);
    if (it == folders_.end()) {
        auto made = writer_.MakeFolder(writer_.Root(), folderName);
        if (!made) return {};
        it = folders_.emplace(folderName, *made).first;
    }
    std::string name = std::to_string(nameOffset);
    if (!item.extension.empty()) name += "." + item.extension;
    auto file = writer_.CreateFile(it->second, name);
    if (!file) return {};
    std::string relative = file->RelativePath();
    // Large reads: carved files can be tens of MiB. Unreadable sectors come back
    // as zeros and are counted by the reader.
    std::vector<std::uint8_t> chunk;
    for (std::int64_t done = 0; done < item.length;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(item.length - done, 4 << 20));
        chunk.resize(n);
        reader.ReadAt(item.start + done, chunk.data(), n);
        if (!file->Write(chunk.data(), n)) break;
        done += static_cast<std::int64_t>(n);
    }
    if (!writer_.FinishFile(std::move(file), {})) return {};
    return relative;
}

}  // namespace tarnwell
