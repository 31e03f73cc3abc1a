#include "scan/NameSearch.h"

#include <locale>
#include <stdexcept>

#include "core/Limits.h"
#include "core/TextEncoding.h"

namespace tarnwell {

namespace {
// A damaged volume can link folders very deep; no real tree is deeper.
constexpr std::size_t kMaxDepth = limits::kMaxFolderDepth;
}  // namespace

std::wstring Utf8ToWide(const std::string& s) {
    std::string clean = SanitizeUtf8(s);
    std::wstring out;
    out.reserve(clean.size());
    for (std::size_t i = 0; i < clean.size();) {
        auto b = static_cast<unsigned char>(clean[i]);
        std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len && i + k < clean.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(clean[i + k]) & 0x3F);
        out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}

namespace {
// Case folding beyond ASCII needs a Unicode locale; the process's may be "C".
const std::locale& UnicodeLocale() {
    static const std::locale locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            try {
                return std::locale(name);
            } catch (const std::runtime_error&) {
            }
        }
        return std::locale();
    }();
    return locale;
}
}  // namespace

std::optional<NamePattern> NamePattern::Make(const std::string& pattern) {
    try {
        std::wregex expression;
        expression.imbue(UnicodeLocale());
        expression.assign(Utf8ToWide(pattern), std::regex::ECMAScript | std::regex::icase);
        return NamePattern(std::move(expression));
    } catch (const std::regex_error&) {
        return std::nullopt;
    }
}

bool NamePattern::Matches(const std::string& name) const {
    try {
        return std::regex_search(Utf8ToWide(name), expression_);
    } catch (const std::regex_error&) {  // too complex for this name: no hit
        return false;
    }
}

std::string SearchHit::DisplayPath(const std::string& rootName, const char* separator) const {
    std::string s = rootName;
    for (const auto& name : path) s += separator + name;
    return s;
}

std::string SearchHit::RelativePath() const {
    std::string s;
    for (const auto& name : path) s += (s.empty() ? "" : "/") + name;
    return s;
}

namespace {
struct Walker {
    FileSystemParser& parser;
    const NamePattern& pattern;
    const std::function<void(const SearchHit&)>& onHit;
    const std::function<bool()>& keepGoing;
    std::vector<std::string> path;
    bool stopped = false;

    void Folder(RowId folder) {
        if (path.size() > kMaxDepth) return;
        for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
            if (!keepGoing()) {
                stopped = true;
                return;
            }
            EntryInfo info = parser.Info(r);
            if (info.folder) {
                bool named = !info.name.empty();
                if (named) path.push_back(info.name);
                Folder(r);
                if (named) path.pop_back();
                if (stopped) return;
            } else if (pattern.Matches(info.name)) {
                path.push_back(info.name);
                onHit({r, path});
                path.pop_back();
            }
        }
    }
};
}  // namespace

SearchEnd SearchNames(FileSystemParser& parser, const std::string& text,
                      const std::function<void(const SearchHit&)>& onHit, const std::function<bool()>& keepGoing,
                      ProgressSink& progress) {
    if (text.empty()) return SearchEnd::Finished;
    auto pattern = NamePattern::Make(text);
    if (!pattern) return SearchEnd::InvalidPattern;
    Walker walker{parser, *pattern, onHit, keepGoing, {}};
    for (RowId top = parser.FirstChild(parser.Root()); top != kNoRow; top = parser.NextSibling(top)) {
        if (!keepGoing()) return SearchEnd::Stopped;
        EntryInfo info = parser.Info(top);
        if (info.folder && parser.FirstChild(top) != kNoRow) {
            std::uint64_t count = parser.CountFiles(top);
            progress.SetRange(0, static_cast<std::int64_t>(count));
            progress.SetPosition(0);
            walker.path = {info.name};
            walker.Folder(top);
            progress.SetPosition(static_cast<std::int64_t>(count));
            if (walker.stopped) return SearchEnd::Stopped;
        } else if (pattern->Matches(info.name)) {
            onHit({top, {info.name}});  // a folder without children is matched like a file
        }
    }
    return SearchEnd::Finished;
}

}  // namespace tarnwell
