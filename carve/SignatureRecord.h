#pragma once
// Signature settings files: records of 171 bytes, little-endian, back to back.
//
//   0x00  8  extension, first four UTF-16 characters     0x0A  1  extension length
//   0x0B 10  start signature   0x15 10  end signature    0x1F  1  start length
//   0x20  1  end length (0: none)                        0x21  1  index in the file
//   0x22  4  size offset (-1: none)   0x26 4 size bytes  0x2A  4  header size
//   0x2E  1  size includes header     0x33 8 approximate size (signed)
//   0x3B  8  skip size (signed)       0x43 100 category, UTF-16, NUL-terminated

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ByteView.h"

namespace tarnwell {

inline constexpr std::size_t kSignatureRecordSize = 171;
inline constexpr std::size_t kMaxSignatureBytes = 10;
inline constexpr std::size_t kMaxCategoryChars = 49;
inline constexpr std::size_t kMaxRecordsPerFile = 256;
inline constexpr std::uint64_t kMaxSignatureFileBytes = (1u << 20) + kSignatureRecordSize;

struct SignatureRecord {
    std::string extension;            // UTF-8, as typed; four characters are stored
    std::uint8_t extensionLength = 0; // as typed
    std::vector<std::uint8_t> start;  // 1..10 bytes; 0x2A matches any byte
    std::vector<std::uint8_t> end;    // 0..10 bytes
    std::uint8_t index = 0xFF;
    std::int32_t sizeOffset = -1;
    std::int32_t sizeBytes = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::int64_t approximateSize = 0;
    std::int64_t skipSize = 0;
    std::string category;             // UTF-8

    std::vector<std::uint8_t> Encode() const;
    // The record at offset, or the reason it is refused.
    static std::optional<SignatureRecord> Decode(ByteView bytes, std::size_t offset, std::string& why);
    // Why a record could never find a file, or empty.
    std::string Problem() const;
};

struct SignatureFile {
    std::vector<SignatureRecord> records;
    std::string error;  // set when the file was refused ("not a valid file..", "can not open file")
    std::vector<std::string> refused;  // records left out, each with its reason
};

// Counts whole records by length and checks every field; a record that fails
// is refused by name, the rest are kept.
SignatureFile ParseSignatureFile(ByteView bytes);
SignatureFile ReadSignatureFile(const std::string& path);

// The dialog's fields as typed.
struct SignatureFields {
    std::string extension, start, end;
    std::string sizeOffset, sizeBytes, headerSize, skipSize, approximateSize;
    bool sizeIncludesHeader = false;
    std::string category;
};

// The record that the settings dialog's "Save" makes of its fields, or the
// message that refuses them.
std::optional<SignatureRecord> BuildSignatureRecord(const SignatureFields& fields, std::string& message);

// "0x89,0x50,0x4E,0x47" -> 89 50 4E 47; empty pieces are skipped.
std::vector<std::uint8_t> ParseSignatureText(const std::string& text, bool& tooLong);

enum class AppendResult { Appended, CannotCreate, FileFull, WriteFailed };

// Appends a record at the end of the file, with its index set from the file's
// length (index set in record when given).
AppendResult AppendSignatureRecord(const std::string& path, SignatureRecord record, int* index = nullptr);

}  // namespace tarnwell
