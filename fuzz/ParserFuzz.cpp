// One parser over an image held in memory: scan, walk the tree, extract what it
// lists. Built once per file system (TARNWELL_FUZZ_FS names it).

#include <cstddef>
#include <cstdint>
#include <vector>

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
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        auto parser = MakeParser(TARNWELL_FUZZ_FS, links);
        if (!parser || !parser->Scan(mode)) continue;
        std::vector<RowId> pending{parser->Root()};
        int visited = 0;
        while (!pending.empty() && visited < 5000) {
            RowId folder = pending.back();
            pending.pop_back();
            for (RowId r = parser->FirstChild(folder); r != kNoRow && visited < 5000; r = parser->NextSibling(r), ++visited) {
                EntryInfo info = parser->Info(r);
                parser->FormatTimes(r);
                parser->FormatSize(r);
                if (info.folder) {
                    pending.push_back(r);
                } else {
                    NullSink sink;
                    parser->ExtractData(r, sink);
                }
            }
        }
        parser->CountFiles(parser->Root());
    }
    return 0;
}
