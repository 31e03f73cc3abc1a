#pragma once
// Saving from the results: the selected folder's contents, the ticked rows
// with their folders, or one file, into an output folder on another drive.
// A save runs the same SavePlan as the command line's recover, so its result
// carries the same report, digests and list of changed names.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "fs/FileSystemParser.h"
#include "fs/RunReport.h"

namespace tarnwell {

struct SaveRequest {
    std::string outputFolder;
    RowId folder = kNoRow;  // the selected tree item, used when nothing is ticked
    // Its chain of rows from a child of the root down to it, for the paths of
    // the report; empty: found by a walk of the tree.
    std::vector<RowId> folderChain;
    // Ticked rows, each as its chain of rows from a child of the root down to
    // it; a ticked row below a ticked folder is written once, with the folder.
    std::vector<std::vector<RowId>> ticked;
    bool includeDeleted = true;
    std::string sourcePath;  // the device being read: never written into
};

struct SaveReport {
    bool ran = false;  // false: refused, or the user answered No
    std::uint64_t files = 0;    // files tried
    std::uint64_t whole = 0;    // written whole
    std::uint64_t written = 0;  // kept by the output writer, partial ones too
    std::uint64_t failed = 0;   // what the output writer could not make (files and folders)
    std::uint64_t partial = 0;
    bool stopped = false;
    std::vector<std::string> errors;
    std::vector<std::string> renamed;  // "written/path (was "name")", as the writer gives them
    RunReport report;                  // every file with its outcome and SHA-256, as `recover --report`
};

// Asks for confirmation with the file count, writes, then says "work done"
// when every file was written whole, else how many were written whole, partly
// and not at all, and whether it was stopped (the status line says so too).
SaveReport RunSave(FileSystemParser& parser, const SaveRequest& request, Prompter& prompter,
                   ProgressSink& progress);

// Writes one file into the output folder under its own name. tellPath shows
// where it went ("file is dumped in path  :  %s   ").
ExtractStatus SaveOneFile(FileSystemParser& parser, RowId row, const std::string& outputFolder,
                          const std::string& sourcePath, Prompter& prompter, bool tellPath);

}  // namespace tarnwell
