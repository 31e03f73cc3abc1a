#pragma once
// Writing carved files out: one folder per category below the output root,
// each file named after its offset in the source ("1048576.jpg").

#include <cstdint>
#include <map>
#include <string>

#include "device/VolumeView.h"
#include "fs/OutputWriter.h"

namespace tarnwell {

// A found file as the lists keep it: everything needed to write it again,
// whatever engine found it.
struct CarvedItem {
    std::int64_t start = 0;   // bytes from the volume start
    std::int64_t length = 0;
    std::string extension;
    std::string category;
    std::string name;         // "1048576 .jpg"
    bool partial = false;
};

class CarveOutput {
public:
    explicit CarveOutput(OutputWriter& writer) : writer_(writer) {}

    // Copies length bytes at start of the volume into the
    // category's folder, named after nameOffset. Returns the path relative to
    // the output root, or empty when the file could not be written (counted
    // by the writer).
    std::string Write(const VolumeView& volume, const CarvedItem& item, std::int64_t nameOffset);

private:
    OutputWriter& writer_;
    std::map<std::string, OutputFolder> folders_;
};

}  // namespace tarnwell
