#include "fs/RunReport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <tuple>

#include "core/Version.h"
#include "device/SourceOpener.h"

namespace tarnwell {

namespace {
nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

const char* StatusName(SavedStatus status) {
    switch (status) {
        case SavedStatus::Whole: return "ok";
        case SavedStatus::Partial: return "partial";
        case SavedStatus::Failed:
        case SavedStatus::NotWritten:
        case SavedStatus::Stopped: break;
    }
    return "failed";
}

nlohmann::ordered_json FileJson(const SavedFile& f) {
    nlohmann::ordered_json times = nlohmann::ordered_json::array();
    if (f.modifiedSet) times.push_back("modified");
    if (f.accessedSet) times.push_back("accessed");
    nlohmann::ordered_json j = {{"path", f.path},
                                {"output", TextOrNull(f.output)},
                                {"deleted", f.deleted},
                                {"size", f.size},
                                {"written", f.written},
                                {"sha256", TextOrNull(f.sha256)},
                                {"times_set", times},
                                {"unreadable_bytes", f.unreadableBytes},
                                {"status", StatusName(f.status)}};
    if (!f.reason.empty()) j["reason"] = f.reason;
    return j;
}
}  // namespace

std::string RunReport::ToJson() const {
    std::vector<const SavedFile*> sorted;
    sorted.reserve(files.size());
    for (const auto& f : files)
        if (f.status != SavedStatus::Stopped) sorted.push_back(&f);
    // Two rows may share a path (a live and a deleted file): their outputs tell them apart.
    std::stable_sort(sorted.begin(), sorted.end(), [](const SavedFile* a, const SavedFile* b) {
        return std::tie(a->path, a->output) < std::tie(b->path, b->output);
    });
    std::uint64_t ok = 0, partial = 0, failed = 0, unreadable = 0;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SavedFile* f : sorted) {
        if (f->status == SavedStatus::Whole) ++ok;
        else if (f->status == SavedStatus::Partial) ++partial;
        else ++failed;
        unreadable += f->unreadableBytes;
        list.push_back(FileJson(*f));
    }
    nlohmann::ordered_json j = {
        {"tool", {{"name", "tarnwell"}, {"version", kVersionText}}},
        {"started", started},
        {"finished", finished},
        {"source", {{"path", sourcePath}, {"size", sourceSize}, {"kind", sourceKind}}},
        {"volume",
         {{"file_system", volume.fileSystem},
          {"start_sector", volume.startSector},
          {"sectors", volume.sectorCount},
          {"sector_size", volume.sectorSize},
          {"found_by", FoundByName(volume.foundBy)}}},
        {"options", options},
        {"summary",
         {{"files", sorted.size()},
          {"ok", ok},
          {"partial", partial},
          {"failed", failed},
          {"unreadable_bytes", unreadable},
          {"unreadable_sectors", unreadableSectors},
          {"stopped", stopped}}},
        {"files", list}};
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

RunReport ReportOf(const FileSystemParser& parser, const std::string& sourcePath, SaveResult result) {
    RunReport report;
    const SectorReader* reader = parser.Links().view ? &parser.Links().view.source() : nullptr;
    report.sourcePath = sourcePath;
    report.sourceSize = reader != nullptr ? reader->fileLength() : 0;
    report.sourceKind = SourceKindName(DetectSourceKind(sourcePath));
    report.volume = parser.Links().volume;
    report.files = std::move(result.files);
    report.unreadableSectors = reader != nullptr ? reader->FailedSectors() : 0;
    report.stopped = result.stopped;
    return report;
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool WriteReport(const std::string& path, const RunReport& report, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out << report.ToJson();
    out.close();
    if (!out) {
        error = "cannot write the report " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace tarnwell
