#include "core/DisplayText.h"

#include <cstdio>

namespace tarnwell {

std::string FormatSizeText(std::uint64_t bytes) {
    char text[64];
    const double s = static_cast<double>(bytes);
    if (bytes >= (1ULL << 30))
        std::snprintf(text, sizeof text, "%.2f GB", s / (1ULL << 30));
    else if (bytes >= (1ULL << 20))
        std::snprintf(text, sizeof text, "%.2f MB", s / (1ULL << 20));
    else if (bytes >= (1ULL << 10))
        std::snprintf(text, sizeof text, "%.2f KB", s / (1ULL << 10));
    else
        std::snprintf(text, sizeof text, "%lld Bytes", static_cast<long long>(bytes));
    return text;
}

std::string BinarySizeText(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    char text[64];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
        return text;
    }
    int unit = 0;
    double shown = static_cast<double>(bytes) / 1024;
    // 1023.999 KiB would print as "1024.00 KiB": such a value moves up a unit.
    while (shown >= 1024 - 0.005 && unit + 1 < 6) {
        shown /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.2f %s", shown, kUnits[unit]);
    return text;
}

std::string FormatDateTimeText(int year, int month, int day, int hour, int minute) {
    const bool pm = hour >= 12;
    int shown = hour % 12;
    if (shown == 0) shown = 12;
    char text[64];
    std::snprintf(text, sizeof text, pm ? "%02d/%02d/%d  %02d:%02d PM" : "%02d/%02d/%d  %02d:%02d AM",
                  month, day, year, shown, minute);
    return text;
}

std::string FormatDateText(int year, int month, int day) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%d ", month, day, year);
    return text;
}

std::string MiBSizeText(std::uint64_t bytes, const char* separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu%sMB", static_cast<unsigned long long>(bytes >> 20), separator);
    return text;
}

}  // namespace tarnwell
