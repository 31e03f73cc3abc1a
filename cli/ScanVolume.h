#pragma once
// What `list` and `recover` share: opening the SOURCE, choosing the volume,
// making its parser through the factory and running the scan of the chosen
// mode, with a progress bar and Ctrl-C; and walking the rows in tree order.

#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Terminal.h"
#include "cli/VolumeChoice.h"
#include "core/JobControl.h"
#include "device/DdrescueMap.h"
#include "fs/FileSystemParser.h"
#include "scan/ScanJob.h"

namespace tarnwell::cli {

struct ScanOptions {
    std::string source;
    VolumeOptions volume;
    std::string mode = "standard";  // standard | deep | advanced
    bool formatted = false;          // "Is Drive Formated..?"
    std::string mapfile;             // ddrescue mapfile of the SOURCE
    bool recordReads = false;        // remember the sectors read, for a domain mapfile
    AdvancedChoice advanced;         // --max, --table, --cluster, --heap
};

// SOURCE, the VOLUME options, --mode and --formatted.
void AddScanOptions(CLI::App* command, ScanOptions& options);

// A scanned volume; members in the order they must be built. The scan runs as
// the same job the GUI's results page runs.
struct ScannedVolume {
    CliPrompter prompter;
    TerminalProgress progress;
    ScanSession session;                 // owns the reader
    SectorReader* reader = nullptr;
    RecordingReader* recorder = nullptr;  // set when the options ask to record reads
    JobControl control;                  // Ctrl-C, for the scan and what follows
    VolumeEntry volume;
    std::unique_ptr<ScanJob> job;
    FileSystemParser* parser = nullptr;
    bool stopped = false;  // Ctrl-C ended the scan early
};

// Opens, chooses, scans. Returns 0, or the exit code after printing why not.
int OpenAndScan(const ScanOptions& options, ScannedVolume& scanned);

// Visits every row below folder in tree order (a folder before its contents),
// with its path relative to folder ("/"-separated). The visitor returns false
// to leave a folder's contents out.
void WalkTree(const FileSystemParser& parser, RowId folder,
              const std::function<bool(const EntryInfo& info, const std::string& path)>& visit);

}  // namespace tarnwell::cli
