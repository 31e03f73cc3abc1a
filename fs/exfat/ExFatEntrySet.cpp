#include "fs/exfat/ExFatEntrySet.h"

#include "core/TextEncoding.h"

namespace tarnwell {

namespace {
constexpr std::size_t kMaxNameUnits = 255;
bool IsStream(std::uint8_t t) { return t == 0xC0 || t == 0x40; }
bool IsName(std::uint8_t t) { return t == 0xC1 || t == 0x41; }
}  // namespace

std::uint16_t EntrySetChecksum(ByteView b, std::size_t offset, std::size_t count, bool asInUse) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count * kExFatSlot; ++i) {
        if (i == 2 || i == 3) continue;
        std::uint8_t byte = b.U8(offset + i);
        // Deleting a set clears the in-use bit of each type byte, after the
        // checksum was taken; put it back to check a deleted set.
        if (asInUse && i % kExFatSlot == 0) byte |= 0x80;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

std::optional<ExFatEntry> DecodeEntrySet(ByteView b, std::size_t offset, std::size_t& slotsUsed) {
    slotsUsed = 1;
    std::uint8_t type = b.U8(offset);
    if ((type != 0x85 && type != 0x05) || !b.Has(offset, kExFatSlot)) return std::nullopt;
    ExFatEntry e;
    e.entryType = type;
    e.attributes = b.Le16(offset + 4);
    e.createTimestamp = b.Le32(offset + 8);
    e.modifyTimestamp = b.Le32(offset + 12);
    e.accessTimestamp = b.Le32(offset + 16);
    e.create10ms = b.U8(offset + 20);
    e.modify10ms = b.U8(offset + 21);
    e.createUtcOffset = b.U8(offset + 22);
    e.modifyUtcOffset = b.U8(offset + 23);
    e.accessUtcOffset = b.U8(offset + 24);

    // The set spans its secondary count, but never past the buffer nor past a
    // slot that cannot belong to it (a damaged count must not swallow neighbours).
    std::size_t declared = b.U8(offset + 1);
    std::size_t available = (b.size() - offset) / kExFatSlot - 1;
    std::size_t secondaries = std::min(declared, available);
    std::size_t s = 0;
    const bool deleted = type == 0x05;
    auto belongs = [&](std::uint8_t t) {
        // Secondary entries of a live set are in use (bit 7); a deleted set's are not.
        bool inUse = (t & 0x80) != 0;
        return (t & 0x40) != 0 && inUse == !deleted;  // a secondary entry
    };
    while (s < secondaries && belongs(b.U8(offset + (s + 1) * kExFatSlot))) ++s;
    if (s < declared) e.damaged = true;

    std::size_t at = offset + kExFatSlot;
    if (s >= 1 && IsStream(b.U8(at))) {
        e.streamType = b.U8(at);
        e.secondaryFlags = b.U8(at + 1);
        e.nameLength = b.U8(at + 3);
        e.validDataLength = b.Le64(at + 8);
        e.firstCluster = b.Le32(at + 20);
        e.dataLength = b.Le64(at + 24);
    } else {
        e.damaged = true;
    }
    std::u16string units;
    for (std::size_t k = 2; k <= s; ++k) {
        std::size_t slot = offset + k * kExFatSlot;
        if (!IsName(b.U8(slot))) continue;
        for (std::size_t u = 0; u < 15 && units.size() < kMaxNameUnits; ++u)
            units += static_cast<char16_t>(b.Le16(slot + 2 + 2 * u));
    }
    std::size_t length = e.nameLength;
    if (length == 0 || length > units.size()) {
        if (length > units.size()) e.damaged = true;
        std::size_t nul = units.find(u'\0');
        length = nul == std::u16string::npos ? units.size() : nul;
    }
    units.resize(length);
    e.name = Utf16ToUtf8(units);
    if (s == declared && EntrySetChecksum(b, offset, s + 1, deleted) != b.Le16(offset + 2)) e.damaged = true;
    slotsUsed = s + 1;
    return e;
}

std::optional<ExFatClock> DecodeExFatTimestamp(std::uint32_t t) {
    ExFatClock c{1980 + static_cast<int>(t >> 25), static_cast<int>((t >> 21) & 0x0F), static_cast<int>((t >> 16) & 0x1F),
                 static_cast<int>((t >> 11) & 0x1F), static_cast<int>((t >> 5) & 0x3F), static_cast<int>(t & 0x1F) * 2};
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 || c.second > 59)
        return std::nullopt;
    return c;
}

FileTime ExFatTime(std::uint32_t timestamp, std::uint8_t tenMs, std::uint8_t utcOffset) {
    auto c = DecodeExFatTimestamp(timestamp);
    if (!c) return {};
    std::int64_t seconds = CivilToSeconds(c->year, c->month, c->day, c->hour, c->minute, c->second);
    std::uint32_t nanos = 0;
    if (tenMs <= 199) {
        seconds += tenMs / 100;
        nanos = (tenMs % 100) * 10000000u;
    }
    if (utcOffset & 0x80) {
        // Signed 7-bit count of 15-minute steps east of UTC.
        int steps = utcOffset & 0x7F;
        if (steps >= 64) steps -= 128;
        return FileTime::Utc(seconds - steps * 15 * 60, nanos);
    }
    return FileTime::Local(seconds, nanos);
}

}  // namespace tarnwell
