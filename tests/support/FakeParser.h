#pragma once
// A parser over a tree held in memory, for tests of what runs on top of
// parsers (jobs, saving, searching, front ends). Its scan reveals the planned
// rows one at a time, at a checkpoint each, so tests can pause and stop it.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"

namespace tarnwell::test {

class FakeParser : public FileSystemParser {
public:
    struct Node {
        std::string name;
        bool folder = false;
        bool deleted = false;
        std::string data;
        RowId parent = kNoRow;
        std::vector<RowId> children;
    };

    explicit FakeParser(ParserLinks links) : FileSystemParser(std::move(links)) {
        nodes_.push_back({"ROOT", true});
    }

    // Plans a row; the scan makes it visible. Returns its id.
    RowId Add(RowId parent, const std::string& name, bool folder, const std::string& data = "",
              bool deleted = false);

    bool acceptVolume = true;
    std::chrono::microseconds delayPerRow{0};
    std::atomic<int> recyclePasses{0};
    std::atomic<std::uint64_t> visible{1};  // rows revealed so far (the root is always there)

    bool Scan(RecoveryMode mode) override;
    RowId Root() const override { return 0; }
    RowId FirstChild(RowId row) const override;
    RowId NextSibling(RowId row) const override;
    EntryInfo Info(RowId row) const override;
    std::uint64_t RowCount() const override { return visible.load(); }
    DetailTexts FormatTimes(RowId) const override { return {}; }
    std::string FormatSize(RowId row) const override;
    ExtractStatus ExtractData(RowId row, FileSink& sink) override;
    void RecoverRecycleBinNames() override { ++recyclePasses; }

private:
    bool Visible(RowId row) const { return row < visible.load(); }
    std::vector<Node> nodes_;
};

}  // namespace tarnwell::test
