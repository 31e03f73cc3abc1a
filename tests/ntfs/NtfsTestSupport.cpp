#include "ntfs/NtfsTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "fs/OutputWriter.h"
#include "support/TestImages.h"

namespace tarnwell::test {

std::unique_ptr<ScannedVolume> ScanReader(std::unique_ptr<SectorReader> reader, RecoveryMode mode,
                                          std::uint64_t sizeMiB) {
    auto v = std::make_unique<ScannedVolume>();
    v->reader = std::move(reader);
    ParserLinks links;
    links.view = VolumeView(*v->reader);
    links.prompter = &v->prompter;
    links.volume.fileSystem = "NTFS";
    links.volume.sizeText = std::to_string(sizeMiB) + "  MB";
    v->parser = std::make_unique<NtfsParser>(links);
    v->scanned = v->parser->Scan(mode);
    v->paths = TreePaths(*v->parser);
    return v;
}

std::unique_ptr<MemoryReader> LoadImage(const std::string& name) {
    std::string path = ImagePath(name);
    if (path.empty()) return nullptr;
    UnchangedGuard unchanged(path);
    auto reader = std::make_unique<MemoryReader>();
    if (!reader->Open(path)) return nullptr;
    return reader;
}

std::multimap<std::string, RowId> TreePaths(const NtfsParser& parser) {
    std::multimap<std::string, RowId> out;
    std::vector<std::pair<RowId, std::string>> pending{{parser.Root(), ""}};
    std::uint64_t visits = 0;
    while (!pending.empty()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
            if (++visits > 4 * parser.RowCount() + 16) return out;  // a cycle: the test sees rows missing
            std::string path = prefix + std::string(parser.Name(r));
            out.emplace(path, r);
            if (parser.Info(r).folder) pending.emplace_back(r, path + "/");
        }
    }
    return out;
}

std::vector<FlsLine> ReadFls(const std::string& name) {
    std::vector<FlsLine> out;
    std::istringstream in(ReadImageFile(name + ".fls"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        FlsLine f;
        f.path = line.substr(tab + 1);
        std::string head = line.substr(0, tab);
        f.folder = head.size() > 2 && head[2] == 'd';
        f.deleted = head.find(" * ") != std::string::npos;
        std::size_t number = head.find_last_of(' ');
        f.record = std::stoull(head.substr(number + 1));
        std::string last = f.path.substr(f.path.find_last_of('/') + 1);
        if (last.find(':') != std::string::npos) continue;            // a named stream
        if (f.path.rfind("$OrphanFiles", 0) == 0 && last.rfind("OrphanFile-", 0) == 0) continue;  // no name
        if (head[0] == 'V') continue;                                  // TSK's own virtual folders
        out.push_back(f);
    }
    return out;
}

std::vector<IcatSum> ReadSums(const std::string& name) {
    std::vector<IcatSum> out;
    std::istringstream in(ReadImageFile(name + ".sums"));
    std::string line;
    while (std::getline(in, line)) {
        std::size_t a = line.find(' '), b = line.find(' ', a + 1);
        if (b == std::string::npos) continue;
        out.push_back({line.substr(0, a), std::stoull(line.substr(a + 1, b - a - 1)), line.substr(b + 1)});
    }
    return out;
}

std::string ReadWhole(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Md5Of(const std::string& file) {
    std::string cmd = "md5sum < '" + file + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return {};
    char buf[64] = {};
    std::size_t n = std::fread(buf, 1, 32, p);
    ::pclose(p);
    return std::string(buf, n);
}

std::string Md5OfBytes(const std::string& bytes) {
    TempDir dir;
    dir.Write("x", bytes);
    return Md5Of((dir / "x").string());
}

std::string Pattern(const std::string& tag, std::size_t bytes) {
    std::string out;
    char line[160];
    for (int i = 0; out.size() < bytes; ++i) {
        std::snprintf(line, sizeof line, "%s line %08d abcdefghijklmnopqrstuvwxyz\n", tag.c_str(), i);
        out += line;
    }
    out.resize(bytes);
    return out;
}

std::string ExtractTo(NtfsParser& parser, RowId row, const TempDir& dir, ExtractStatus* status) {
    static int n = 0;
    std::string sub = "out" + std::to_string(++n);
    OutputWriter writer((dir / sub).string());
    ExtractStatus s = parser.ExtractFile(row, writer, writer.Root());
    if (status != nullptr) *status = s;
    return (dir / sub / OutputWriter::SafeName(parser.Info(row).name)).string();
}

}  // namespace tarnwell::test
