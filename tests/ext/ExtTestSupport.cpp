#include "ExtTestSupport.h"

#include <sstream>

#include "core/TextEncoding.h"

#include "support/TestImages.h"

namespace tarnwell::test {

ScannedImage ScanReader(std::unique_ptr<SectorReader> reader, ProgressSink* progress, Prompter* prompter) {
    ScannedImage s;
    ParserLinks links;
    links.view = VolumeView(*reader);
    links.volume.fileSystem = "ext";
    links.volume.sectorCount = reader->deviceSectorCount();
    links.progress = progress;
    links.prompter = prompter;
    s.parser = MakeParser("ext", links);
    s.reader = std::move(reader);
    if (s.parser) s.scanned = s.parser->Scan(RecoveryMode::Standard);
    return s;
}

ScannedImage ScanImage(const std::string& path, ProgressSink* progress, Prompter* prompter) {
    auto reader = std::make_unique<FileReader>();
    if (!reader->Open(path)) return {};
    return ScanReader(std::move(reader), progress, prompter);
}

std::map<std::string, Listed> ListAll(const FileSystemParser& p, std::uint64_t* visited) {
    std::map<std::string, Listed> out;
    std::vector<std::pair<RowId, std::string>> pending{{p.Root(), ""}};
    std::uint64_t seen = 0;
    while (!pending.empty() && seen <= p.RowCount()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (RowId r = p.FirstChild(folder); r != kNoRow && seen <= p.RowCount(); r = p.NextSibling(r)) {
            ++seen;
            EntryInfo info = p.Info(r);
            std::string path = prefix + info.name;
            std::string key = path;
            for (int n = 2; out.count(key); ++n) key = path + " #" + std::to_string(n);
            out[key] = {r, info.folder, info.deleted, info.orphan};
            if (info.folder) pending.emplace_back(r, path + "/");
        }
    }
    if (visited) *visited = seen;
    return out;
}

std::vector<FlsLine> ReadFls(const std::string& name) {
    std::vector<FlsLine> lines;
    std::istringstream in(ReadImageFile(name + ".fls"));
    for (std::string line; std::getline(in, line);) {
        auto tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        FlsLine f;
        f.path = line.substr(tab + 1);
        if (f.path.rfind("$OrphanFiles", 0) == 0) continue;
        // fls reads an htree folder's index data as a name; no real name is invalid UTF-8.
        if (SanitizeUtf8(f.path) != f.path) continue;
        std::string head = line.substr(0, tab);
        f.type = head[2];
        f.deleted = head.find(" * ") != std::string::npos;
        f.inode = static_cast<std::uint32_t>(std::stoul(head.substr(head.find_last_of(' ') + 1)));
        lines.push_back(f);
    }
    return lines;
}

std::vector<IcatLine> ReadIcat(const std::string& name) {
    std::vector<IcatLine> lines;
    std::istringstream in(ReadImageFile(name + ".icat"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        IcatLine l;
        std::string rest;
        if (!(fields >> l.crc >> l.size >> l.inode)) continue;
        fields.get();  // the tab before the path
        std::getline(fields, l.path);
        if (l.path.rfind("$OrphanFiles", 0) == 0 || SanitizeUtf8(l.path) != l.path) continue;
        lines.push_back(l);
    }
    return lines;
}

namespace {
const std::uint32_t* CrcTable() {
    static std::uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            table[i] = c;
        }
        made = true;
    }
    return table;
}
}  // namespace

bool CksumSink::Write(const void* data, std::size_t n) {
    const std::uint32_t* t = CrcTable();
    auto p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) crc_ = (crc_ << 8) ^ t[((crc_ >> 24) ^ p[i]) & 0xFF];
    size += n;
    return true;
}

std::uint32_t CksumSink::Value() const {
    const std::uint32_t* t = CrcTable();
    std::uint32_t c = crc_;
    for (std::uint64_t len = size; len != 0; len >>= 8) c = (c << 8) ^ t[((c >> 24) ^ (len & 0xFF)) & 0xFF];
    return ~c;
}

std::string Gen(const std::string& tag, std::size_t bytes) {
    std::string out;
    char line[160];
    for (int i = 0; out.size() < bytes; ++i) {
        std::snprintf(line, sizeof line, "%s %08d the quick brown fox jumps over the lazy dog ....\n", tag.c_str(), i);
        out += line;
    }
    out.resize(bytes);
    return out;
}

}  // namespace tarnwell::test
