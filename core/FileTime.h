#pragma once
// A time as a file system stores it: UTC (NTFS, exFAT with offset, ext, HFS+)
// or local wall-clock time (FAT's DOS times).

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tarnwell {

struct FileTime {
    bool valid = false;
    bool utc = true;           // false: a local time without a zone
    std::int64_t seconds = 0;  // since 1970-01-01 00:00:00 (of UTC, or of the local clock)
    std::uint32_t nanoseconds = 0;

    static FileTime Utc(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
        return {true, true, seconds, nanoseconds};
    }
    static FileTime Local(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
        return {true, false, seconds, nanoseconds};
    }
};

// Seconds since 1970 of a civil date and time, without any zone.
std::int64_t CivilToSeconds(int year, int month, int day, int hour, int minute, int second);

// The instant to set on an output file; a local time is read in the machine's zone.
std::optional<timespec> ToTimespec(const FileTime& time);

// ISO 8601: "2024-06-01T11:01:00Z" for UTC, without the "Z" for a local time;
// fractions only where there are any. Empty when not valid.
std::string IsoText(const FileTime& time);

}  // namespace tarnwell
