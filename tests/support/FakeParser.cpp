#include "support/FakeParser.h"

#include <algorithm>
#include <thread>

#include "core/DisplayText.h"

namespace tarnwell::test {

RowId FakeParser::Add(RowId parent, const std::string& name, bool folder, const std::string& data, bool deleted) {
    RowId id = nodes_.size();
    nodes_.push_back({name, folder, deleted, data, parent, {}});
    nodes_[parent].children.push_back(id);
    return id;
}

bool FakeParser::Scan(RecoveryMode) {
    if (!acceptVolume) {
        links_.prompter->Inform(Event(Step::NotThisFileSystem).Kind("fake"));
        return false;
    }
    links_.progress->SetRange(0, static_cast<std::int64_t>(nodes_.size()));
    // Children are added after their parents, so revealing in id order keeps the tree whole.
    while (visible.load() < nodes_.size()) {
        if (!Checkpoint()) break;
        if (delayPerRow.count() > 0) std::this_thread::sleep_for(delayPerRow);
        ++visible;
        links_.progress->SetPosition(static_cast<std::int64_t>(visible.load()));
    }
    return true;
}

RowId FakeParser::FirstChild(RowId row) const {
    if (!Visible(row)) return kNoRow;
    for (RowId c : nodes_[row].children)
        if (Visible(c)) return c;
    return kNoRow;
}

RowId FakeParser::NextSibling(RowId row) const {
    if (!Visible(row) || row == 0) return kNoRow;
    const auto& siblings = nodes_[nodes_[row].parent].children;
    auto it = std::find(siblings.begin(), siblings.end(), row);
    for (++it; it != siblings.end(); ++it)
        if (Visible(*it)) return *it;
    return kNoRow;
}

EntryInfo FakeParser::Info(RowId row) const {
    EntryInfo info;
    if (!Visible(row)) return info;
    const Node& n = nodes_[row];
    info.id = row;
    info.name = n.name;
    info.folder = n.folder;
    info.deleted = n.deleted;
    info.size = n.data.size();
    return info;
}

std::string FakeParser::FormatSize(RowId row) const { return FormatSizeText(Info(row).size); }

ExtractStatus FakeParser::ExtractData(RowId row, FileSink& sink) {
    if (!Visible(row)) return ExtractStatus::Failed;
    const std::string& d = nodes_[row].data;
    return sink.Write(d.data(), d.size()) ? ExtractStatus::Ok : ExtractStatus::WriteFailed;
}

}  // namespace tarnwell::test
