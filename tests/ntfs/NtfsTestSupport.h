#pragma once
// Shared by the NTFS suites: scanning a committed image, the tree as paths,
// and the reference views (fls -r -p, icat checksums) recorded beside it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/MemoryReader.h"
#include "fs/ntfs/NtfsParser.h"
#include "support/TempDir.h"

namespace tarnwell::test {

struct ScannedVolume {
    std::unique_ptr<SectorReader> reader;
    RecordingPrompter prompter;
    std::unique_ptr<NtfsParser> parser;
    bool scanned = false;
    // Every row reachable from the root, by its path ("Docs/Sub/x.txt").
    std::multimap<std::string, RowId> paths;
};

// Scans reader (taken over) as an NTFS volume of sizeMiB.
std::unique_ptr<ScannedVolume> ScanReader(std::unique_ptr<SectorReader> reader, RecoveryMode mode,
                                          std::uint64_t sizeMiB = 0);
// The committed image NAME, read through a memory copy (tests may change the copy).
std::unique_ptr<MemoryReader> LoadImage(const std::string& name);

std::multimap<std::string, RowId> TreePaths(const NtfsParser& parser);

struct FlsLine {
    bool folder = false;
    bool deleted = false;
    std::uint64_t record = 0;
    std::string path;
};
// The entries of NAME.fls, without streams (name:stream) and nameless orphans.
std::vector<FlsLine> ReadFls(const std::string& name);

struct IcatSum {
    std::string md5;
    std::uint64_t record = 0;
    std::string path;
};
std::vector<IcatSum> ReadSums(const std::string& name);

std::string Md5Of(const std::string& file);
std::string Md5OfBytes(const std::string& bytes);
std::string ReadWhole(const std::string& file);

// The text the image script's pattern() writes.
std::string Pattern(const std::string& tag, std::size_t bytes);

// Extracts row into a new folder under dir and returns the file's path.
std::string ExtractTo(NtfsParser& parser, RowId row, const TempDir& dir, ExtractStatus* status = nullptr);

}  // namespace tarnwell::test
