// Drives the ext parser over an image for the benchmarks:
//   ext_bench list IMAGE            prints every row as "d|r [*] inode<TAB>path"
//   ext_bench recover IMAGE OUT     copies the whole tree into OUT
//   ext_bench read IMAGE            extracts every file into a sink that keeps nothing
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "device/FileReader.h"
#include "fs/ext/ExtParser.h"
#include "fs/FileSystemRegistry.h"

using namespace tarnwell;

namespace {
class CountingSink final : public FileSink {
public:
    bool Write(const void*, std::size_t size) override {
        bytes += size;
        return true;
    }
    std::uint64_t bytes = 0;
};

void ReadAll(FileSystemParser& p, RowId folder, CountingSink& sink, int depth) {
    if (depth > 512) return;
    for (RowId r = p.FirstChild(folder); r != kNoRow; r = p.NextSibling(r)) {
        if (p.Info(r).folder)
            ReadAll(p, r, sink, depth + 1);
        else
            p.ExtractData(r, sink);
    }
}

void List(const FileSystemParser& p, RowId folder, const std::string& prefix, std::string& out, int depth) {
    if (depth > 512) return;
    const auto& ext = static_cast<const ExtParser&>(p);
    for (RowId r = p.FirstChild(folder); r != kNoRow; r = p.NextSibling(r)) {
        EntryInfo info = p.Info(r);
        std::string path = prefix + info.name;
        const ExtEntry* row = ext.Row(r);
        out += info.folder ? "d" : "r";
        out += info.deleted ? " * " : " ";
        out += std::to_string(row->key == ExtEntry::kNoInode ? 0 : row->key + 1);
        out += '\t';
        out += path;
        out += '\n';
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
        if (info.folder) List(p, r, path + "/", out, depth + 1);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: ext_bench list IMAGE | recover IMAGE OUT\n");
        return 2;
    }
    std::string command = argv[1];
    FileReader reader;
    if (!reader.Open(argv[2])) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 2;
    }
    ParserLinks links;
    links.view = VolumeView(reader);
    links.volume.fileSystem = "ext";
    links.volume.sectorCount = reader.deviceSectorCount();
    auto parser = MakeParser("ext", links);
    auto t0 = std::chrono::steady_clock::now();
    if (!parser->Scan(RecoveryMode::Standard)) return 1;
    auto t1 = std::chrono::steady_clock::now();
    if (command == "list") {
        std::string out;
        List(*parser, parser->Root(), "", out, 0);
        std::fwrite(out.data(), 1, out.size(), stdout);
    } else if (command == "read") {
        CountingSink sink;
        ReadAll(*parser, parser->Root(), sink, 0);
        std::fprintf(stderr, "bytes %llu\n", static_cast<unsigned long long>(sink.bytes));
    } else if (command == "recover" && argc >= 4) {
        OutputWriter writer(argv[3]);
        SaveSummary s = parser->SaveFolder(parser->Root(), writer, writer.Root());
        std::fprintf(stderr, "files %llu written %llu failed %llu bytes %llu\n",
                     static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(writer.FilesWritten()),
                     static_cast<unsigned long long>(writer.FilesFailed()),
                     static_cast<unsigned long long>(writer.BytesWritten()));
    } else {
        return 2;
    }
    auto t2 = std::chrono::steady_clock::now();
    std::fprintf(stderr, "scan %.3f s, %s %.3f s, rows %llu\n", std::chrono::duration<double>(t1 - t0).count(),
                 command.c_str(), std::chrono::duration<double>(t2 - t1).count(),
                 static_cast<unsigned long long>(parser->RowCount()));
    return 0;
}
