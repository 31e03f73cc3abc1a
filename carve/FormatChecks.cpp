#include "carve/FormatChecks.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tarnwell {

namespace {
bool StartsWith(const std::vector<std::uint8_t>& s, std::initializer_list<int> bytes) {
    if (s.size() < bytes.size()) return false;
    std::size_t i = 0;
    for (int b : bytes)
        if (s[i++] != b) return false;
    return true;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// SOI, then marker segments; after each scan header the entropy-coded data up
// to the next marker that is not a stuffed 0xFF00 or a restart marker.
std::optional<std::uint64_t> Jpeg(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    std::uint64_t p = start + 2;
    int segments = 0;
    while (p + 4 <= limit) {
        if (c.At(p) != 0xFF) return std::nullopt;
        std::uint8_t m = c.At(p + 1);
        if (m == 0xFF) {  // fill byte
            ++p;
            continue;
        }
        if (m == 0xD9) return segments > 0 ? std::optional<std::uint64_t>(p + 2 - start) : std::nullopt;
        if (m == 0x00 || m == 0xD8) return std::nullopt;
        if ((m >= 0xD0 && m <= 0xD7) || m == 0x01) {
            p += 2;
            continue;
        }
        std::uint16_t length = c.Be16(p + 2);
        if (length < 2) return std::nullopt;
        p += 2 + length;
        ++segments;
        if (m != 0xDA) continue;
        // Entropy-coded data: the next 0xFF that starts a real marker ends it.
        for (;;) {
            static const std::uint8_t ff = 0xFF;
            p = c.Find(p, limit, &ff, 1);
            if (p + 1 >= limit) return std::nullopt;
            std::uint8_t next = c.At(p + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                p += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return std::nullopt;
}

// Signature, then chunks (length, type, data, CRC) from IHDR to IEND.
std::optional<std::uint64_t> Png(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    if (!c.Equals(start, "\x89PNG\r\n\x1A\n", 8)) return std::nullopt;
    std::uint64_t p = start + 8;
    bool first = true;
    while (p + 12 <= limit) {
        std::uint32_t length = c.Be32(p);
        if (length > 0x7FFFFFFF) return std::nullopt;
        for (int i = 4; i < 8; ++i)
            if (!std::isalpha(c.At(p + i))) return std::nullopt;
        if (first && !c.Equals(p + 4, "IHDR", 4)) return std::nullopt;
        first = false;
        bool end = c.Equals(p + 4, "IEND", 4);
        p += 12 + std::uint64_t(length);
        if (end) return p <= limit ? std::optional<std::uint64_t>(p - start) : std::nullopt;
    }
    return std::nullopt;
}

std::uint64_t SkipSubBlocks(VolumeCursor& c, std::uint64_t p, std::uint64_t limit) {
    while (p < limit) {
        std::uint8_t size = c.At(p);
        p += 1 + size;
        if (size == 0) return p;
    }
    return limit;
}

// Header, screen descriptor and colour table, then extension and image blocks
// up to the trailer 0x3B.
std::optional<std::uint64_t> Gif(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    if (!c.Equals(start, "GIF87a", 6) && !c.Equals(start, "GIF89a", 6)) return std::nullopt;
    std::uint64_t p = start + 13;
    std::uint8_t flags = c.At(start + 10);
    if (flags & 0x80) p += 3ULL << ((flags & 7) + 1);
    while (p < limit) {
        std::uint8_t kind = c.At(p);
        if (kind == 0x3B) return p + 1 - start;
        if (kind == 0x21) {
            p = SkipSubBlocks(c, p + 2, limit);
        } else if (kind == 0x2C) {
            std::uint8_t local = c.At(p + 9);
            p += 10;
            if (local & 0x80) p += 3ULL << ((local & 7) + 1);
            std::uint8_t codeSize = c.At(p);
            if (codeSize < 2 || codeSize > 12) return std::nullopt;
            p = SkipSubBlocks(c, p + 1, limit);
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// "BM", the file size at 2, the pixel offset at 10 and a known header size at 14.
std::optional<std::uint64_t> Bmp(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    std::uint32_t size = c.Le32(start + 2), offset = c.Le32(start + 10), header = c.Le32(start + 14);
    bool knownHeader = header == 12 || header == 40 || header == 52 || header == 56 || header == 64 ||
                       header == 108 || header == 124;
    if (!knownHeader || size < 26 || offset < 14 + header || offset >= size) return std::nullopt;
    if (c.Le32(start + 6) != 0) return std::nullopt;  // reserved
    if (start + size > limit) return std::nullopt;
    return size;
}

// Local headers, then the central directory; the end record says where that
// lies, which proves the end record is this archive's.
std::optional<std::uint64_t> Zip(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    static const std::uint8_t eocd[] = {'P', 'K', 5, 6};
    for (std::uint64_t p = start + 4; p + 22 <= limit;) {
        p = c.Find(p, limit, eocd, 4);
        if (p + 22 > limit) return std::nullopt;
        std::uint64_t cdSize = c.Le32(p + 12), cdOffset = c.Le32(p + 16);
        std::uint16_t comment = c.Le16(p + 20);
        if (cdOffset + cdSize == p - start && p + 22 + comment <= limit) return p + 22 + comment - start;
        p += 1;
    }
    return std::nullopt;
}

// The last "%%EOF" before the next "%PDF" or the limit, with its line end. An
// update appends its revision right after the previous "%%EOF", so the search
// for a further one stops a window's length after the last.
std::optional<std::uint64_t> Pdf(VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    static const std::uint8_t next[] = {'%', 'P', 'D', 'F', '-'};
    static const std::uint8_t eof[] = {'%', '%', 'E', 'O', 'F'};
    constexpr std::uint64_t kRevisionWindow = 4 << 20;
    std::optional<std::uint64_t> last;
    for (std::uint64_t p = start + 5; p < limit;) {
        std::uint64_t stop = last ? std::min(limit, start + *last + kRevisionWindow) : limit;
        p = c.Find(p, stop, eof, 5);
        if (p >= stop) break;
        // Another file's start before this "%%EOF": it is that file's.
        if (c.Find(last ? start + *last : start + 5, p, next, 5) < p) break;
        std::uint64_t end = p + 5;
        if (c.At(end) == '\r') ++end;
        if (c.At(end) == '\n') ++end;
        last = std::min(end, c.End()) - start;
        p += 5;
    }
    return last;
}
}  // namespace

CarveFormat FormatOf(const std::string& extension, const std::vector<std::uint8_t>& s) {
    std::string e = Lower(extension);
    if ((e == "jpg" || e == "jpeg" || e == "jpe" || e == "jfif") && StartsWith(s, {0xFF, 0xD8, 0xFF})) return CarveFormat::Jpeg;
    if (e == "png" && StartsWith(s, {0x89, 'P', 'N', 'G'})) return CarveFormat::Png;
    if (e == "gif" && StartsWith(s, {'G', 'I', 'F', '8'})) return CarveFormat::Gif;
    if ((e == "bmp" || e == "dib") && StartsWith(s, {'B', 'M'})) return CarveFormat::Bmp;
    if ((e == "zip" || e == "docx" || e == "xlsx" || e == "pptx" || e == "odt" || e == "ods" || e == "odp" ||
         e == "jar" || e == "apk" || e == "epub") &&
        StartsWith(s, {'P', 'K', 3, 4}))
        return CarveFormat::Zip;
    if (e == "pdf" && StartsWith(s, {'%', 'P', 'D', 'F'})) return CarveFormat::Pdf;
    return CarveFormat::None;
}

std::optional<std::uint64_t> MeasureFile(CarveFormat f, VolumeCursor& c, std::uint64_t start, std::uint64_t limit) {
    limit = std::min(limit, c.End());
    switch (f) {
        case CarveFormat::Jpeg: return Jpeg(c, start, limit);
        case CarveFormat::Png: return Png(c, start, limit);
        case CarveFormat::Gif: return Gif(c, start, limit);
        case CarveFormat::Bmp: return Bmp(c, start, limit);
        case CarveFormat::Zip: return Zip(c, start, limit);
        case CarveFormat::Pdf: return Pdf(c, start, limit);
        case CarveFormat::None: break;
    }
    return std::nullopt;
}

}  // namespace tarnwell
