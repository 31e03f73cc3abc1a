#pragma once
// Finding rows by name: an ECMAScript regular expression searched (not matched
// whole) in each name, without regard to case, over the Unicode name.

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"

namespace tarnwell {

struct SearchHit {
    RowId row = kNoRow;
    std::vector<std::string> path;  // names from the root's child down to the hit

    // "ROOT\DCIM\IMG_0001.JPG" as the results list shows it.
    std::string DisplayPath(const std::string& rootName, const char* separator = "\\") const;
    // "DCIM/IMG_0001.JPG", relative to the root.
    std::string RelativePath() const;
};

class NamePattern {
public:
    // Nothing when the pattern is not a valid expression.
    static std::optional<NamePattern> Make(const std::string& utf8Pattern);
    bool Matches(const std::string& utf8Name) const;

private:
    explicit NamePattern(std::wregex expression) : expression_(std::move(expression)) {}
    std::wregex expression_;
};

std::wstring Utf8ToWide(const std::string& utf8);

enum class SearchEnd { Finished, Stopped, InvalidPattern };

// Walks the parser's tree as the results page's search does: each top-level
// folder with children is searched below; other top-level rows are matched
// themselves. onHit is called for each hit, in tree order.
SearchEnd SearchNames(FileSystemParser& parser, const std::string& pattern,
                      const std::function<void(const SearchHit&)>& onHit,
                      const std::function<bool()>& keepGoing, ProgressSink& progress);

}  // namespace tarnwell
