#include "carve/SignatureRecord.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "core/TextEncoding.h"

namespace tarnwell {

namespace {
std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    std::string clean = SanitizeUtf8(s);
    for (std::size_t i = 0; i < clean.size();) {
        auto b = static_cast<unsigned char>(clean[i]);
        std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len && i + k < clean.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(clean[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string Trim(const std::string& s) {
    std::size_t a = 0, z = s.size();
    while (a < z && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (z > a && std::isspace(static_cast<unsigned char>(s[z - 1]))) --z;
    return s.substr(a, z - a);
}

// A decimal field of the dialog; empty is 0, junk after the digits is ignored.
bool ParseNumber(const std::string& text, std::int64_t& value) {
    std::string t = Trim(text);
    value = 0;
    if (t.empty()) return true;
    std::size_t i = 0;
    bool negative = t[0] == '-';
    if (negative || t[0] == '+') ++i;
    bool any = false;
    for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (t[i] - '0');
        any = true;
    }
    if (negative) value = -value;
    return any || i == t.size();
}
}  // namespace

std::vector<std::uint8_t> SignatureRecord::Encode() const {
    std::vector<std::uint8_t> b(kSignatureRecordSize, 0);
    std::u16string ext = Utf8ToUtf16(extension);
    for (std::size_t i = 0; i < 4 && i < ext.size(); ++i) Put(b, 2 * i, ext[i], 2);
    b[0x0A] = extensionLength;
    for (std::size_t i = 0; i < start.size() && i < kMaxSignatureBytes; ++i) b[0x0B + i] = start[i];
    for (std::size_t i = 0; i < end.size() && i < kMaxSignatureBytes; ++i) b[0x15 + i] = end[i];
    b[0x1F] = static_cast<std::uint8_t>(std::min(start.size(), kMaxSignatureBytes));
    b[0x20] = static_cast<std::uint8_t>(std::min(end.size(), kMaxSignatureBytes));
    b[0x21] = index;
    Put(b, 0x22, static_cast<std::uint32_t>(sizeOffset), 4);
    Put(b, 0x26, static_cast<std::uint32_t>(sizeBytes), 4);
    Put(b, 0x2A, static_cast<std::uint32_t>(headerSize), 4);
    b[0x2E] = sizeIncludesHeader ? 1 : 0;
    Put(b, 0x33, static_cast<std::uint64_t>(approximateSize), 8);
    Put(b, 0x3B, static_cast<std::uint64_t>(skipSize), 8);
    std::u16string cat = Utf8ToUtf16(category);
    for (std::size_t i = 0; i < kMaxCategoryChars && i < cat.size(); ++i) Put(b, 0x43 + 2 * i, cat[i], 2);
    return b;
}

std::optional<SignatureRecord> SignatureRecord::Decode(ByteView b, std::size_t at, std::string& why) {
    if (!b.Has(at, kSignatureRecordSize)) {
        why = "the record is cut short";
        return std::nullopt;
    }
    ByteView r = b.Sub(at, kSignatureRecordSize);
    SignatureRecord s;
    s.extensionLength = r.U8(0x0A);
    s.extension = Utf16LeToUtf8(r, 0, std::min<std::size_t>(4, s.extensionLength));
    std::size_t startLength = r.U8(0x1F), endLength = r.U8(0x20);
    s.index = r.U8(0x21);
    s.sizeOffset = r.LeS32(0x22);
    s.sizeBytes = r.LeS32(0x26);
    s.headerSize = r.LeS32(0x2A);
    s.sizeIncludesHeader = r.U8(0x2E) != 0;
    s.approximateSize = r.LeS64(0x33);
    s.skipSize = r.LeS64(0x3B);
    std::size_t units = 0;
    while (units < 50 && r.Le16(0x43 + 2 * units) != 0) ++units;

    if (s.extensionLength == 0 || s.extension.empty()) why = "it has no extension";
    else if (startLength == 0) why = "its start signature is empty";
    else if (startLength > kMaxSignatureBytes || endLength > kMaxSignatureBytes) why = "a signature is longer than 10 bytes";
    else if (s.sizeBytes < 0 || s.sizeBytes > 8) why = "its size field is not 1 to 8 bytes";
    else if (s.sizeBytes > 0 && (s.sizeOffset < 0 || s.sizeOffset + s.sizeBytes > 512))
        why = "its size field lies outside the 512-byte header";
    else if (s.sizeOffset < -1 || s.sizeOffset >= 512) why = "its size offset lies outside the 512-byte header";
    else if (s.approximateSize < 0 || s.skipSize < 0 || s.headerSize < 0) why = "a size is negative";
    else if (units >= 50) why = "its category has no terminator";
    if (!why.empty()) return std::nullopt;
    s.start.assign(r.data() + 0x0B, r.data() + 0x0B + startLength);
    s.end.assign(r.data() + 0x15, r.data() + 0x15 + endLength);
    s.category = Utf16LeToUtf8(r, 0x43, units);
    return s;
}

std::string SignatureRecord::Problem() const {
    if (start.size() < 2) return "a start signature of one byte never matches";
    if (end.empty() && sizeBytes == 0 && approximateSize <= 0)
        return "without an end signature, a size field or an approximate size it finds only empty files";
    return {};
}

SignatureFile ParseSignatureFile(ByteView bytes) {
    SignatureFile f;
    if (bytes.size() > kMaxSignatureFileBytes || bytes.size() < kSignatureRecordSize) {
        f.error = "not a valid file..";
        return f;
    }
    std::size_t count = bytes.size() / kSignatureRecordSize;
    if (bytes.size() % kSignatureRecordSize != 0)
        f.refused.push_back("record " + std::to_string(count + 1) + ": the record is cut short");
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= kMaxRecordsPerFile) {
            f.refused.push_back("records past the 256th: a settings file holds at most 256");
            break;
        }
        std::string why;
        auto record = SignatureRecord::Decode(bytes, i * kSignatureRecordSize, why);
        if (record)
            f.records.push_back(std::move(*record));
        else
            f.refused.push_back("record " + std::to_string(i + 1) + ": " + why);
    }
    return f;
}

SignatureFile ReadSignatureFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    SignatureFile f;
    if (!in) {
        f.error = "can not open file";
        return f;
    }
    auto size = static_cast<std::uint64_t>(in.tellg());
    if (size > kMaxSignatureFileBytes) {
        f.error = "not a valid file..";
        return f;
    }
    in.seekg(0);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseSignatureFile(bytes);
}

std::vector<std::uint8_t> ParseSignatureText(const std::string& text, bool& tooLong) {
    std::vector<std::uint8_t> out;
    tooLong = false;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        std::string piece = Trim(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        from = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (piece.empty()) continue;
        std::size_t i = piece.rfind("0x", 0) == 0 || piece.rfind("0X", 0) == 0 ? 2 : 0;
        unsigned value = 0;
        for (; i < piece.size() && std::isxdigit(static_cast<unsigned char>(piece[i])); ++i)
            value = (value << 4) | static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(piece[i]))
                                                              ? piece[i] - '0'
                                                              : std::tolower(piece[i]) - 'a' + 10);
        if (out.size() == kMaxSignatureBytes) {
            tooLong = true;
            break;
        }
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    return out;
}

std::optional<SignatureRecord> BuildSignatureRecord(const SignatureFields& f, std::string& message) {
    SignatureRecord r;
    std::string ext = Trim(f.extension);
    if (ext.empty()) {
        message = "extention length is zero..";
        return std::nullopt;
    }
    r.extension = ext;
    r.extensionLength = static_cast<std::uint8_t>(std::min<std::size_t>(Utf8ToUtf16(ext).size(), 255));
    bool tooLong = false;
    r.start = ParseSignatureText(f.start, tooLong);
    if (r.start.empty()) {
        message = "signature length is zero..";
        return std::nullopt;
    }
    bool endTooLong = false;
    r.end = ParseSignatureText(f.end, endTooLong);
    if (tooLong || endTooLong) {
        message = "a signature has at most 10 bytes";
        return std::nullopt;
    }
    std::int64_t sizeOffset, sizeBytes, headerSize, skip, approx;
    if (!ParseNumber(f.sizeOffset, sizeOffset) || !ParseNumber(f.sizeBytes, sizeBytes) ||
        !ParseNumber(f.headerSize, headerSize) || !ParseNumber(f.skipSize, skip) ||
        !ParseNumber(f.approximateSize, approx)) {
        message = "a number field holds something that is not a number";
        return std::nullopt;
    }
    if (sizeBytes < 0 || sizeBytes > 8 || headerSize < 0 || headerSize > INT32_MAX || skip < 0 || approx < 0 ||
        sizeOffset >= 512 || (sizeBytes > 0 && (sizeOffset < 0 || sizeOffset + sizeBytes > 512))) {
        message = "the size field must lie in the first 512 bytes and take 1 to 8 bytes; sizes cannot be negative";
        return std::nullopt;
    }
    r.sizeOffset = sizeOffset > 0 ? static_cast<std::int32_t>(sizeOffset) : -1;
    r.sizeBytes = static_cast<std::int32_t>(sizeBytes);
    r.headerSize = static_cast<std::int32_t>(headerSize);
    r.skipSize = skip;
    r.approximateSize = approx;
    r.sizeIncludesHeader = f.sizeIncludesHeader;
    if (Utf8ToUtf16(f.category).size() > kMaxCategoryChars) {
        message = "a category has at most 49 characters";
        return std::nullopt;
    }
    r.category = f.category;
    if (r.end.empty() && r.sizeBytes == 0 && r.approximateSize <= 0) {
        message = "give an end signature, a size field or an approximate size: without one only empty files are found";
        return std::nullopt;
    }
    return r;
}

AppendResult AppendSignatureRecord(const std::string& path, SignatureRecord record, int* index) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::ate);
    if (!file) {
        file.open(path, std::ios::binary | std::ios::out);
        file.close();
        file.open(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::ate);
    }
    if (!file) return AppendResult::CannotCreate;
    auto length = static_cast<std::uint64_t>(file.tellp());
    if (length / kSignatureRecordSize >= kMaxRecordsPerFile) return AppendResult::FileFull;
    record.index = static_cast<std::uint8_t>(length / kSignatureRecordSize);
    if (index) *index = record.index;
    auto bytes = record.Encode();
    // A file whose length is not whole records gets the record after its last whole one.
    file.seekp(static_cast<std::streamoff>(length / kSignatureRecordSize * kSignatureRecordSize));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) return AppendResult::WriteFailed;
    return AppendResult::Appended;
}

}  // namespace tarnwell
