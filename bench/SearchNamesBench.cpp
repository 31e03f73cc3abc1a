// Times the name search over a tree of many names: 1000 folders of 1000 files
// by default. Prints the names walked per second.
//
//   bench/search-names [FOLDERS FILES_PER_FOLDER PATTERN]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scan/NameSearch.h"

namespace {

using namespace tarnwell;

// A flat two-level tree; rows 1..folders are folders, the rest files.
class WideTree final : public FileSystemParser {
public:
    WideTree(std::uint64_t folders, std::uint64_t files) : FileSystemParser({}), folders_(folders), files_(files) {}
    bool Scan(RecoveryMode) override { return true; }
    RowId Root() const override { return 0; }
    RowId FirstChild(RowId r) const override {
        if (r == 0) return folders_ ? 1 : kNoRow;
        if (r <= folders_) return files_ ? FileRow(r, 0) : kNoRow;
        return kNoRow;
    }
    RowId NextSibling(RowId r) const override {
        if (r == 0) return kNoRow;
        if (r <= folders_) return r < folders_ ? r + 1 : kNoRow;
        std::uint64_t i = (r - folders_ - 1) % files_;
        return i + 1 < files_ ? r + 1 : kNoRow;
    }
    EntryInfo Info(RowId r) const override {
        EntryInfo e;
        e.id = r;
        e.folder = r <= folders_;
        e.name = e.folder ? "folder" + std::to_string(r) : "IMG_" + std::to_string(r) + (r % 7 ? ".JPG" : ".png");
        return e;
    }
    std::uint64_t RowCount() const override { return 1 + folders_ + folders_ * files_; }
    DetailTexts FormatTimes(RowId) const override { return {}; }
    std::string FormatSize(RowId) const override { return {}; }
    ExtractStatus ExtractData(RowId, FileSink&) override { return ExtractStatus::Failed; }

private:
    RowId FileRow(RowId folder, std::uint64_t i) const { return folders_ + 1 + (folder - 1) * files_ + i; }
    std::uint64_t folders_, files_;
};

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t folders = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    std::uint64_t files = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000;
    std::string pattern = argc > 3 ? argv[3] : "\\.jpg$|\\.png$";
    WideTree tree(folders, files);
    std::uint64_t hits = 0;
    auto start = std::chrono::steady_clock::now();
    SearchNames(tree, pattern, [&](const SearchHit&) { ++hits; }, [] { return true; }, NoProgress());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu names, %llu hits, %.3f s, %.0f names/s\n", static_cast<unsigned long long>(folders * files),
                static_cast<unsigned long long>(hits), seconds, double(folders * files) / seconds);
    return 0;
}
