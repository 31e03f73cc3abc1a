#include "partition/ImageSource.h"

#include <vector>

#include "core/DisplayText.h"
#include "device/SourceOpener.h"
#include "partition/BootSectors.h"

namespace tarnwell {

std::optional<VolumeEntry> ImageAsVolume(const std::string& path) {
    // Read as the session's reader will read it: a container by what it holds.
    SilentPrompter quiet;
    OpenedSource opened = OpenSourceReader(path, quiet);
    if (!opened.reader) return std::nullopt;
    SectorReader& reader = *opened.reader;
    std::vector<std::uint8_t> head(4096);
    reader.ReadAt(0, head.data(), head.size());
    auto match = DetectSourceVolume(ByteView(head));
    if (!match) return std::nullopt;

    VolumeEntry entry;
    entry.fileSystem = ShownName(match->type);
    entry.rootPath = path;
    entry.location = path;
    entry.sizeText = MiBSizeText(reader.fileLength());
    entry.sectorCount = reader.deviceSectorCount();
    entry.foundBy = FoundBy::WholeSource;
    return entry;
}

}  // namespace tarnwell
