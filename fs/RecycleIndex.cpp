#include "fs/RecycleIndex.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "core/TextEncoding.h"
#include "fs/MemorySink.h"

namespace tarnwell {

std::optional<std::string> ParseRecycleIndex(ByteView b) {
    if (!b.Has(0, 24)) return std::nullopt;
    std::uint64_t version = b.Le64(0);
    std::string path;
    if (version == 1) {
        path = Utf16LeToUtf8(b, 24, 260);
    } else if (version == 2) {
        std::uint32_t units = b.Le32(24);
        // A length past the file's end says these bytes are no index file.
        if (units == 0 || units > 32768 || !b.Has(28, 2 * std::size_t(units))) return std::nullopt;
        path = Utf16LeToUtf8(b, 28, units);
    } else {
        return std::nullopt;
    }
    if (path.empty()) return std::nullopt;
    return path;
}

std::string WindowsFileName(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {
std::string Trimmed(const std::string& s) {
    std::size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

bool StartsNoCase(const std::string& s, const char* prefix) {
    std::string p(prefix);
    return s.size() >= p.size() && SameNoCase(s.substr(0, p.size()), p);
}

void RenameIn(FileSystemParser& parser, RowId folder, const RenameRow& rename) {
    std::vector<std::pair<std::string, std::string>> names;  // "$R..." name -> former name
    for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
        EntryInfo e = parser.Info(r);
        std::string name = Trimmed(e.name);
        if (e.folder || !StartsNoCase(name, "$I") || e.size < 24 || e.size > kMaxRecycleIndexBytes) continue;
        MemorySink sink(kMaxRecycleIndexBytes);
        ExtractStatus status = parser.ExtractData(r, sink);
        if (status == ExtractStatus::Failed || status == ExtractStatus::WriteFailed) continue;
        auto path = ParseRecycleIndex(sink.bytes);
        if (!path) continue;
        std::string leaf = WindowsFileName(*path);
        if (!leaf.empty()) names.emplace_back("$R" + name.substr(2), leaf);
    }
    if (names.empty()) return;
    for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
        std::string name = Trimmed(parser.Info(r).name);
        for (const auto& [data, leaf] : names)
            if (SameNoCase(name, data)) {
                rename(r, leaf);
                break;
            }
    }
}
}  // namespace

void RenameRecycledFiles(FileSystemParser& parser, const RenameRow& rename) {
    const RowId root = parser.Root();
    if (root == kNoRow) return;
    for (RowId bin = parser.FirstChild(root); bin != kNoRow; bin = parser.NextSibling(bin)) {
        EntryInfo e = parser.Info(bin);
        std::string name = Trimmed(e.name);
        if (!e.folder || (!SameNoCase(name, "$RECYCLE.BIN") && !SameNoCase(name, "$RECYCLEBIN"))) continue;
        RenameIn(parser, bin, rename);
        for (RowId user = parser.FirstChild(bin); user != kNoRow; user = parser.NextSibling(user))
            if (parser.Info(user).folder) RenameIn(parser, user, rename);
    }
}

}  // namespace tarnwell
