#pragma once
// exFAT directory entry sets: a file entry (0x85, 0x05 when deleted), its
// stream extension (0xC0/0x40) and name entries (0xC1/0x41), 32 bytes each.
//
// File entry:   1 secondary count, 2 set checksum, 4 attributes, 8/12/16 create/
//               modify/access timestamps, 20/21 create/modify 10 ms, 22/23/24
//               create/modify/access UTC offsets
// Stream entry: 1 flags (bit 1: no FAT chain), 3 name length, 8 valid data
//               length, 20 first cluster, 24 data length
// Name entry:   15 UTF-16 units at 2

#include <cstdint>
#include <optional>
#include <string>

#include "core/ByteView.h"
#include "core/FileTime.h"

namespace tarnwell {

inline constexpr std::size_t kExFatSlot = 32;

struct ExFatEntry {
    std::uint8_t entryType = 0;  // 0x85 live, 0x05 deleted
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0, modifyTimestamp = 0, accessTimestamp = 0;
    std::uint8_t create10ms = 0, modify10ms = 0;
    std::uint8_t createUtcOffset = 0, modifyUtcOffset = 0, accessUtcOffset = 0;
    std::uint8_t streamType = 0;  // 0xC0 live, 0x40 deleted, 0 when the set had none
    std::uint8_t secondaryFlags = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::string name;  // UTF-8
    bool damaged = false;  // checksum or structure of the set is wrong

    std::uint32_t parentIndex = 0;
    std::uint32_t selfIndex = 0;
    std::uint32_t firstChild = UINT32_MAX;
    std::uint32_t nextSibling = UINT32_MAX;

    bool Deleted() const { return entryType == 0x05; }
    bool Folder() const { return (attributes & 0x10) != 0; }
    bool Contiguous() const { return (secondaryFlags & 0x02) != 0; }
};

// Decodes the set whose file entry is at offset of slots; slotsUsed is how many
// 32-byte slots it spans (at least 1), so a walk never reads past a set.
std::optional<ExFatEntry> DecodeEntrySet(ByteView slots, std::size_t offset, std::size_t& slotsUsed);

// The set checksum over count slots at offset (bytes 2 and 3 of the first
// skipped); asInUse checks a deleted set as it was written.
std::uint16_t EntrySetChecksum(ByteView slots, std::size_t offset, std::size_t count, bool asInUse = false);

// A timestamp as stored: local wall time, made UTC when its offset byte is valid.
FileTime ExFatTime(std::uint32_t timestamp, std::uint8_t tenMs, std::uint8_t utcOffset);

struct ExFatClock {
    int year, month, day, hour, minute, second;
};
std::optional<ExFatClock> DecodeExFatTimestamp(std::uint32_t timestamp);

}  // namespace tarnwell
