#pragma once
// Names on disk are UTF-16 (NTFS, exFAT, FAT long names, HFS+) or single-byte
// (FAT short names, ext). Everything inside Tarnwell is UTF-8.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ByteView.h"

namespace tarnwell {

// Units are converted as they stand; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);
// count UTF-16 units from bytes at offset (little- or big-endian); stops at the
// first NUL unit when stopAtNul, and at the end of the bytes in any case.
std::string Utf16LeToUtf8(ByteView bytes, std::size_t offset, std::size_t count, bool stopAtNul = true);
std::string Utf16BeToUtf8(ByteView bytes, std::size_t offset, std::size_t count, bool stopAtNul = true);

// One code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);
// Code page 437, the OEM set of DOS short names, to UTF-8.
std::string Cp437ToUtf8(std::string_view bytes);
// Bytes that are valid UTF-8 pass; every invalid byte becomes U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

}  // namespace tarnwell
