#pragma once
// The JSON document of a save (`recover --report FILE`, and the wizard's
// save result): what was read, how, and for every file what became of it.
// The same run on the same input gives the same document apart from
// "started" and "finished".

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fs/SavePlan.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

struct RunReport {
    std::string started, finished;  // UTC, ISO 8601
    std::string sourcePath;
    std::uint64_t sourceSize = 0;
    std::string sourceKind;  // "raw", "EWF", ... (SourceKindName)
    VolumeEntry volume;
    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    std::vector<SavedFile> files;  // stopped ones are left out of the document
    std::uint64_t unreadableSectors = 0;
    bool stopped = false;

    // The document, files in path order, ending in a newline.
    std::string ToJson() const;
};

// The report of a save plan's run over parser's volume, read from sourcePath:
// the source as the parser's reader sees it, and the files the run recorded.
RunReport ReportOf(const FileSystemParser& parser, const std::string& sourcePath, SaveResult result);

// Now, as "2026-01-31T12:00:00Z".
std::string UtcNow();

// Writes the report; false with error set when the file cannot be written.
bool WriteReport(const std::string& path, const RunReport& report, std::string& error);

}  // namespace tarnwell
