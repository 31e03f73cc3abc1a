#include "cli/EntryOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/DisplayText.h"
#include "core/TextEncoding.h"

namespace tarnwell::cli {

namespace {
nlohmann::ordered_json TimeJson(const FileTime& t) {
    if (!t.valid) return nullptr;
    return IsoText(t);
}

// "2024-06-01 11:01:00" for the listing (the ISO text with a blank for the "T").
std::string ShortTime(const FileTime& t) {
    std::string s = IsoText(t);
    if (s.size() >= 19) {
        s[10] = ' ';
        s.resize(19);
    }
    return s;
}

long long UnixSeconds(const FileTime& t) {
    auto ts = ToTimespec(t);
    return ts ? static_cast<long long>(ts->tv_sec) : 0;
}
}  // namespace

std::string VisibleText(const std::string& text, TextKind kind) {
    std::string clean = SanitizeUtf8(text);
    std::string out;
    out.reserve(clean.size());
    char hex[8];
    for (std::size_t i = 0; i < clean.size(); ++i) {
        auto c = static_cast<unsigned char>(clean[i]);
        if (c == '\\') {
            out += kind == TextKind::Name ? "\\\\" : "\\";
        } else if (c == '\n' && kind == TextKind::Message) {
            out += '\n';
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else if (c == 0xC2 && i + 1 < clean.size() && static_cast<unsigned char>(clean[i + 1]) < 0xA0) {
            // U+0080..U+009F: a terminal may take U+009B for the start of an escape sequence.
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned char>(clean[++i]));
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string EntryTextLine(const EntryInfo& e, const std::string& path) {
    std::string size = e.folder ? "" : BinarySizeText(e.size);
    std::string marks;
    if (e.deleted) marks += "  (deleted)";
    if (e.orphan) marks += "  (orphan)";
    char head[64];
    std::snprintf(head, sizeof head, "%c%c %12s  %-19s  ", e.folder ? 'd' : '-', e.deleted ? '*' : ' ', size.c_str(),
                  ShortTime(e.modified).c_str());
    return head + VisibleText(path) + (e.folder ? "/" : "") + marks;
}

std::string EntryJsonLine(const EntryInfo& e, const std::string& path) {
    nlohmann::ordered_json j = {{"path", path},
                                {"type", e.folder ? "dir" : "file"},
                                {"deleted", e.deleted},
                                {"orphan", e.orphan},
                                {"size", e.size},
                                {"created", TimeJson(e.created)},
                                {"modified", TimeJson(e.modified)},
                                {"accessed", TimeJson(e.accessed)},
                                {"attributes", e.attributes},
                                {"id", std::to_string(e.id)}};
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string EntryBodyfileLine(const EntryInfo& e, const std::string& path) {
    // '|' would split the record and mactime has no escape for it; a control
    // character is a '^' as fls prints it, so a newline cannot split the line.
    std::string name = "/" + path;
    for (char& c : name) {
        if (c == '|') c = '_';
        if (static_cast<unsigned char>(c) < 0x20) c = '^';
    }
    if (e.deleted) name += " (deleted)";
    const char* mode = e.folder ? "d/drwxrwxrwx" : "r/rrwxrwxrwx";
    char line[128];
    std::snprintf(line, sizeof line, "|%llu|%s|0|0|%llu|%lld|%lld|0|%lld", static_cast<unsigned long long>(e.id), mode,
                  static_cast<unsigned long long>(e.folder ? 0 : e.size), UnixSeconds(e.accessed),
                  UnixSeconds(e.modified), UnixSeconds(e.created));
    return "0|" + name + line;
}

}  // namespace tarnwell::cli
