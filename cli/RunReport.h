#pragma once
// The JSON document `recover --report FILE` writes: what was read, how, and
// for every file what became of it. The same run on the same input gives the
// same document apart from "started" and "finished".

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "partition/VolumeEntry.h"

namespace tarnwell::cli {

struct ReportedFile {
    std::string path;    // on the volume, "/"-separated from its root
    std::string output;  // relative to the output folder; empty when nothing was created
    bool deleted = false;
    std::uint64_t size = 0;     // as the file system gives it
    std::uint64_t written = 0;  // bytes the output accepted
    std::string sha256;         // of those bytes; empty when nothing was created
    bool accessedSet = false, modifiedSet = false;
    std::uint64_t unreadableBytes = 0;
    std::string status;  // "ok" | "partial" | "failed"
    std::string reason;  // why not "ok"
};

struct RunReport {
    std::string started, finished;  // UTC, ISO 8601
    std::string sourcePath;
    std::uint64_t sourceSize = 0;
    std::string sourceKind;  // "raw", "EWF", ... (SourceKindName)
    VolumeEntry volume;
    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    std::vector<ReportedFile> files;
    std::uint64_t unreadableSectors = 0;
    bool stopped = false;

    // The document, files in path order, ending in a newline.
    std::string ToJson() const;
};

// Now, as "2026-01-31T12:00:00Z".
std::string UtcNow();

// Writes the report; false with error set when the file cannot be written.
bool WriteReport(const std::string& path, const RunReport& report, std::string& error);

}  // namespace tarnwell::cli
