#pragma once
// The texts of the detail list: sizes and times as every parser shows them.

#include <cstdint>
#include <string>

namespace tarnwell {

// "%.2f GB", "%.2f MB", "%.2f KB" from 2^30, 2^20 and 2^10 bytes up, else "%lld Bytes".
std::string FormatSizeText(std::uint64_t bytes);

// The command line's size text, in binary units: "512 B", "1.50 KiB", "124.00 MiB",
// "3.75 GiB", "2.00 TiB" (the wizard keeps FormatSizeText's texts).
std::string BinarySizeText(std::uint64_t bytes);

// "%02d/%02d/%d  %02d:%02d AM" (or PM) with month, day, year on a 12-hour clock:
// 00:10 is "12:10 AM", 12:30 is "12:30 PM", 13:05 is "01:05 PM".
std::string FormatDateTimeText(int year, int month, int day, int hour, int minute);

// "%02d/%02d/%d " with month, day, year (the trailing blank is part of the text).
std::string FormatDateText(int year, int month, int day);

// Whole MiB of a byte count, as the leading number of a volume's size text,
// followed by separator and "MB" ("%d  MB" and its variants).
std::string MiBSizeText(std::uint64_t bytes, const char* separator = "  ");

}  // namespace tarnwell
