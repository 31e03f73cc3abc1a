#include "core/FileTime.h"

#include <cstdio>

namespace tarnwell {

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
}  // namespace

std::int64_t CivilToSeconds(int year, int month, int day, int hour, int minute, int second) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

std::optional<timespec> ToTimespec(const FileTime& t) {
    if (!t.valid) return std::nullopt;
    timespec ts{};
    ts.tv_nsec = t.nanoseconds;
    if (t.utc) {
        ts.tv_sec = static_cast<time_t>(t.seconds);
        return ts;
    }
    time_t wall = static_cast<time_t>(t.seconds);
    std::tm parts{};
    if (gmtime_r(&wall, &parts) == nullptr) return std::nullopt;
    parts.tm_isdst = -1;  // let the zone rules say whether summer time applied
    time_t instant = std::mktime(&parts);
    if (instant == static_cast<time_t>(-1) && parts.tm_year != 69) return std::nullopt;
    ts.tv_sec = instant;
    return ts;
}

std::string IsoText(const FileTime& t) {
    if (!t.valid) return {};
    time_t wall = static_cast<time_t>(t.seconds);
    std::tm p{};
    if (gmtime_r(&wall, &p) == nullptr) return {};
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.tm_year + 1900, p.tm_mon + 1,
                          p.tm_mday, p.tm_hour, p.tm_min, p.tm_sec);
    std::string s(text, static_cast<std::size_t>(n));
    if (t.nanoseconds != 0) {
        std::snprintf(text, sizeof text, ".%09u", t.nanoseconds);
        std::string frac = text;
        while (frac.back() == '0') frac.pop_back();
        s += frac;
    }
    if (t.utc) s += 'Z';
    return s;
}

}  // namespace tarnwell
