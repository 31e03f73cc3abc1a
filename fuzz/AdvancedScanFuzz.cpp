// The advanced scan of one file system over an image held in memory: once with
// picks from the finders' own lists, once with lists forged from the input
// (any table, heap and cluster size a damaged page could hand over); then the
// tree is walked and what it lists extracted. TARNWELL_FUZZ_FS names the kind.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "advanced/TableFinder.h"
#include "device/MemoryReader.h"
#include "fs/FileSystemRegistry.h"

namespace {

class NullSink final : public tarnwell::FileSink {
public:
    bool Write(const void*, std::size_t size) override {
        written += size;
        return written < (64u << 20);  // a lying size must not stream for ever
    }
    std::size_t written = 0;
};

// The input's last bytes steer the picks; they are read from the end so that
// the image's head stays a plausible volume.
std::uint32_t Tail(const std::uint8_t* data, std::size_t size, std::size_t k) {
    if (size < 16 * (k + 1)) return 0;
    std::uint32_t v;
    std::memcpy(&v, data + size - 4 * (k + 1), 4);
    return v;
}

void Walk(tarnwell::FileSystemParser& parser) {
    using namespace tarnwell;
    std::vector<RowId> pending{parser.Root()};
    int visited = 0;
    while (!pending.empty() && visited < 5000) {
        RowId folder = pending.back();
        pending.pop_back();
        for (RowId r = parser.FirstChild(folder); r != kNoRow && visited < 5000; r = parser.NextSibling(r), ++visited) {
            EntryInfo info = parser.Info(r);
            parser.FormatTimes(r);
            if (info.folder) {
                pending.push_back(r);
            } else {
                NullSink sink;
                parser.ExtractData(r, sink);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwell;
    MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
    SilentPrompter quiet;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &quiet;
    links.volume.fileSystem = TARNWELL_FUZZ_FS;
    links.volume.sectorCount = size / 512;
    const std::uint32_t steer = Tail(data, size, 0);
    links.advanced.max = static_cast<int>(steer % 5);
    links.advanced.table = static_cast<int>((steer >> 8) % 4);
    links.advanced.cluster = static_cast<int>((steer >> 16) % 20);
    links.advanced.heap = static_cast<int>((steer >> 24) % 4);
    for (int forged = 0; forged < 2; ++forged) {
        if (forged) {
            auto lists = std::make_shared<TableCandidates>();
            const std::uint64_t sectors = std::max<std::uint64_t>(1, size / 512);
            lists->tables = {std::uint64_t(Tail(data, size, 1) % sectors) * 512};
            lists->heaps = {std::uint64_t(Tail(data, size, 2) % sectors) * 512};
            const std::uint32_t c = Tail(data, size, 3);
            lists->clusterSizes = {c % 48, 1u << (c % 8), c};
            links.advanced.found = lists;
            links.advanced.table = links.advanced.heap = 0;
            links.advanced.cluster = static_cast<int>((c >> 8) % 3);
        }
        auto parser = MakeParser(TARNWELL_FUZZ_FS, links);
        if (!parser || !parser->Scan(RecoveryMode::Advanced)) continue;
        Walk(*parser);
        parser->RecoverRecycleBinNames();
    }
    return 0;
}
