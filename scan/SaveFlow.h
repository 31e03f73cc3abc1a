#pragma once
// Saving from the results: the selected folder's contents, the ticked rows
// with their folders, or one file, into an output folder on another drive.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "fs/FileSystemParser.h"

namespace tarnwell {

struct SaveRequest {
    std::string outputFolder;
    RowId folder = kNoRow;  // the selected tree item, used when nothing is ticked
    // Ticked rows, each as its chain of rows from a child of the root down to
    // it; a ticked row below a ticked folder is written once, with the folder.
    std::vector<std::vector<RowId>> ticked;
    bool includeDeleted = true;
    std::string sourcePath;  // the device being read: never written into
};

struct SaveReport {
    bool ran = false;  // false: refused, or the user answered No
    std::uint64_t files = 0;
    std::uint64_t written = 0;
    std::uint64_t failed = 0;
    std::uint64_t partial = 0;
    bool stopped = false;
    std::vector<std::string> errors;
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
