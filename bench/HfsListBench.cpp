// Lists an HFS+ volume image the way `fls -r -p` does (one path per line on
// stdout), or runs the Deep node scan over it, for the scripts beside this file.
//
//   hfs-list IMAGE [standard|deep]
//   hfs-list IMAGE extract OUTDIR      (copies every file, as a folder save does)

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "device/FileReader.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "fs/OutputWriter.h"

using namespace tarnwell;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hfs-list IMAGE [standard|deep|extract OUTDIR]\n");
        return 2;
    }
    const std::string mode = argc > 2 ? argv[2] : "standard";
    const bool deep = mode == "deep";
    FileReader reader;
    if (!reader.Open(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    ParserLinks links;
    links.view = VolumeView(reader);
    links.volume.fileSystem = "HFS+";
    HfsPlusParser parser(links);
    auto start = std::chrono::steady_clock::now();
    if (!parser.Scan(deep ? RecoveryMode::Deep : RecoveryMode::Standard)) {
        std::fprintf(stderr, "Work Aborted....\n");
        return 1;
    }
    if (mode == "extract" && argc > 3) {
        OutputWriter writer(argv[3]);
        SaveSummary saved = parser.SaveFolder(parser.Root(), writer, writer.Root());
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "%llu files, %llu bytes in %.3f s\n", static_cast<unsigned long long>(saved.files),
                     static_cast<unsigned long long>(writer.BytesWritten()), seconds);
        return writer.FilesFailed() == 0 ? 0 : 1;
    }
    // Depth-first, as fls prints.
    std::vector<std::pair<RowId, std::string>> pending{{parser.Root(), ""}};
    std::uint64_t rows = 0;
    std::string line;
    while (!pending.empty()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
            EntryInfo info = parser.Info(r);
            line = prefix + info.name;
            std::fprintf(stdout, "%c/%c %llu:\t%s\n", info.folder ? 'd' : 'r', info.folder ? 'd' : 'r',
                         static_cast<unsigned long long>(r), line.c_str());
            ++rows;
            if (info.folder) pending.emplace_back(r, line + "/");
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%llu rows in %.3f s\n", static_cast<unsigned long long>(rows), seconds);
    return 0;
}
