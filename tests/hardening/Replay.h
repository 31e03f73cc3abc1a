#pragma once
// The fuzz targets' entry points, compiled into the test suite under names of
// their own, so that every committed regression input is replayed by a plain
// test in every build, not only under the fuzzer.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace tarnwell::test {

using FuzzEntry = int (*)(const std::uint8_t*, std::size_t);

// Target name as the fuzz build calls it ("fuzz-parser-ntfs") -> entry point.
std::map<std::string, FuzzEntry>& FuzzEntries();

inline bool RegisterFuzzEntry(const char* name, FuzzEntry entry) {
    FuzzEntries()[name] = entry;
    return true;
}

}  // namespace tarnwell::test
