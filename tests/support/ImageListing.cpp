#include "support/ImageListing.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

namespace tarnwell::test {

std::string ExtractedBytes(FileSystemParser& parser, RowId row) {
    class StringSink final : public FileSink {
    public:
        bool Write(const void* data, std::size_t size) override {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        }
        std::string bytes;
    } sink;
    parser.ExtractData(row, sink);
    return sink.bytes;
}

std::map<std::string, Listed> ListParser(const FileSystemParser& parser) {
    std::map<std::string, Listed> out;
    std::function<void(RowId, const std::string&, int)> walk = [&](RowId folder, const std::string& prefix, int depth) {
        if (depth > 64) return;
        for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
            EntryInfo info = parser.Info(r);
            std::string path = prefix + info.name;
            out.emplace(path, Listed{info.deleted, info.folder, r, {}});
            if (info.folder) walk(r, path + "/", depth + 1);
        }
    };
    walk(parser.Root(), "", 0);
    return out;
}

std::map<std::string, Listed> ParseFls(const std::string& text, std::int64_t offset) {
    std::map<std::string, Listed> out;
    std::istringstream in(text);
    bool inBlock = text.rfind("# offset", 0) != 0;
    const std::string wanted = "# offset " + std::to_string(offset);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# offset", 0) == 0) {
            inBlock = line == wanted;
            continue;
        }
        if (!inBlock) continue;
        // "r/r * 39:\tDCIM/100CANON/_MG_0003.JPG"
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.size() < 4) continue;
        std::string head = line.substr(0, tab), path = line.substr(tab + 1);
        if (head[0] == 'v' || head[0] == 'V') continue;
        if (path.find("(Volume Label Entry)") != std::string::npos) continue;
        if (path == "$ALLOC_BITMAP" || path == "$UPCASE_TABLE" || path.rfind("$OrphanFiles", 0) == 0) continue;
        Listed l;
        l.folder = head[0] == 'd';
        l.deleted = head.find(" * ") != std::string::npos;
        std::size_t colon = head.rfind(':');
        std::size_t space = head.rfind(' ', colon);
        l.inode = head.substr(space + 1, colon - space - 1);
        out.emplace(path, l);
    }
    return out;
}

bool HaveSleuthKit() { return std::system("command -v icat >/dev/null 2>&1") == 0; }

std::string Icat(const std::string& image, const std::string& inode, std::int64_t offset) {
    std::string cmd = "icat -o " + std::to_string(offset) + " '" + image + "' " + inode + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
    std::string data;
    if (!pipe) return data;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) data.append(buf, n);
    return data;
}

}  // namespace tarnwell::test
