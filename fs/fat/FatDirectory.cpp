#include "fs/fat/FatDirectory.h"

#include <array>
#include <cstring>

#include "core/TextEncoding.h"

namespace tarnwell {

namespace {
constexpr std::uint8_t kDeletedMark = 0xE5;
// Offsets of the 13 name units of a long-name slot.
constexpr std::array<std::size_t, 13> kUnitOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

bool ForbiddenInShortName(std::uint8_t b) {
    return b < 0x20 || std::strchr("\"*+,./:;<=>?[\\]|", b) != nullptr;
}

// A plausible first byte of a short name, as restored from a checksum.
bool ValidFirstByte(std::uint8_t b) {
    if (b == 0x05) return true;  // stands for 0xE5
    return b > 0x20 && b != kDeletedMark && !ForbiddenInShortName(b) && !(b >= 'a' && b <= 'z');
}

bool PlausibleDate(std::uint16_t d) {
    if (d == 0) return true;
    unsigned day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day >= 1 && month >= 1 && month <= 12;
}

bool PlausibleTime(std::uint16_t t) { return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30; }

using Piece = std::array<char16_t, 13>;

// Long-name slots collected for the short entry that should follow them.
struct PendingName {
    bool active = false;
    bool deleted = false;  // collected from deleted slots
    bool valid = false;
    unsigned expected = 0;  // live runs: the sequence number the next slot must carry
    std::uint8_t checksum = 0;
    std::vector<Piece> pieces;  // in slot order: the end of the name first

    void Reset() {
        active = false;
        pieces.clear();
    }

    void Start(bool isDeleted, std::uint8_t sum) {
        pieces.clear();
        active = true;
        deleted = isDeleted;
        valid = true;
        checksum = sum;
        expected = 0;
    }

    // The name units in reading order, cut at the terminating NUL; empty when
    // the pieces are not laid out as a long name is.
    std::u16string Units(bool strict) const {
        std::u16string units;
        for (std::size_t i = pieces.size(); i-- > 0;) {
            const Piece& p = pieces[i];
            bool last = i == 0;  // the piece stored first holds the end of the name
            std::size_t n = 0;
            while (n < p.size() && p[n] != 0) ++n;
            if (!last && n != p.size() && strict) return {};
            if (last && strict) {
                for (std::size_t k = n + 1; k < p.size(); ++k)
                    if (p[k] != 0xFFFF) return {};
            }
            units.append(p.data(), n);
            if (n != p.size()) break;
        }
        if (units.size() > kMaxLongNameUnits) units.resize(kMaxLongNameUnits);
        return units;
    }
};

Piece PieceOf(ByteView slot) {
    Piece p{};
    for (std::size_t i = 0; i < kUnitOffsets.size(); ++i) p[i] = static_cast<char16_t>(slot.Le16(kUnitOffsets[i]));
    return p;
}

bool LongSlotWellFormed(ByteView slot) { return slot.U8(12) == 0 && slot.Le16(26) == 0; }

// The long name for a short entry, or empty when the pending slots do not belong to it.
std::u16string MatchLongName(const PendingName& pending, ByteView slot, bool shortDeleted) {
    if (!pending.active || !pending.valid || pending.pieces.empty()) return {};
    std::uint8_t name[11];
    for (int i = 0; i < 11; ++i) name[i] = slot.U8(static_cast<std::size_t>(i));
    if (!pending.deleted) {
        if (shortDeleted || pending.expected != 0) return {};
        if (ShortNameChecksum(name) != pending.checksum) return {};
        return pending.Units(false);
    }
    if (!shortDeleted) return {};
    // Both deleted: the checksum tells which first byte the short name had;
    // it must be one a short name can begin with.
    bool found = false;
    for (int b = 0; b < 256 && !found; ++b) {
        name[0] = static_cast<std::uint8_t>(b);
        if (ShortNameChecksum(name) == pending.checksum) found = ValidFirstByte(static_cast<std::uint8_t>(b));
    }
    if (!found) return {};
    return pending.Units(true);
}

// Reasonable enough to be a row: no control characters in the name and no
// reserved attribute bits.
bool ShortEntryPlausible(ByteView slot) {
    if ((slot.U8(11) & 0xC0) != 0) return false;
    for (std::size_t i = 1; i < 11; ++i)
        if (slot.U8(i) < 0x20) return false;
    std::uint8_t b0 = slot.U8(0);
    return b0 >= 0x20 || b0 == 0x05;
}
}  // namespace

std::uint8_t ShortNameChecksum(const std::uint8_t* name) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

std::string FormatShortName(ByteView slot) {
    std::string base, ext;
    for (std::size_t i = 0; i < 8; ++i) base += static_cast<char>(slot.U8(i));
    for (std::size_t i = 8; i < 11; ++i) ext += static_cast<char>(slot.U8(i));
    std::uint8_t b0 = slot.U8(0);
    if (b0 == kDeletedMark)
        base[0] = '_';
    else if (b0 == 0x05)
        base[0] = static_cast<char>(0xE5);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    std::uint8_t flags = slot.U8(12);
    auto lower = [](std::string& s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    };
    if (flags & 0x08) lower(base);
    if (flags & 0x10) lower(ext);
    if (base.empty()) base = "_";  // a name of blanks only (a damaged entry)
    std::string name = Cp437ToUtf8(base);
    if (!ext.empty()) name += "." + Cp437ToUtf8(ext);
    return name;
}

int DotEntry(ByteView slot) {
    if (slot.U8(0) != '.' || !(slot.U8(11) & fat_attr::kDirectory) || fat_attr::IsLongNameSlot(slot.U8(11)))
        return 0;
    int dots = 1;
    if (slot.U8(1) == '.') dots = 2;
    for (std::size_t i = std::size_t(dots); i < 11; ++i)
        if (slot.U8(i) != ' ') return 0;
    return dots;
}

bool SlotLooksValid(ByteView slot) {
    if (!slot.Has(0, kDirSlot)) return false;
    std::uint8_t b0 = slot.U8(0), attr = slot.U8(11);
    if (b0 == 0) return false;
    if (fat_attr::IsLongNameSlot(attr)) {
        if (!LongSlotWellFormed(slot)) return false;
        if (b0 == kDeletedMark) return true;
        unsigned n = b0 & 0x1F;
        return (b0 & 0xA0) == 0 && n >= 1 && n <= kMaxLongNameSlots;
    }
    if ((attr & 0xC0) != 0) return false;
    if (DotEntry(slot)) return true;
    if (b0 != kDeletedMark && b0 != 0x05 && (ForbiddenInShortName(b0) || b0 == ' ')) return false;
    for (std::size_t i = 1; i < 11; ++i)
        if (ForbiddenInShortName(slot.U8(i)) && slot.U8(i) != ' ') return false;
    return PlausibleDate(slot.Le16(16)) && PlausibleDate(slot.Le16(18)) && PlausibleDate(slot.Le16(24)) &&
           PlausibleTime(slot.Le16(14)) && PlausibleTime(slot.Le16(22));
}

std::uint64_t DirectoryPlace::OffsetOf(std::size_t at) const {
    if (pieceSize == 0 || pieceOffsets.empty()) return 0;
    std::size_t piece = at / pieceSize;
    if (piece >= pieceOffsets.size()) return 0;
    return pieceOffsets[piece] + at % pieceSize;
}

DecodedDirectory DecodeDirectory(ByteView bytes, const DirectoryPlace& place, bool fat32) {
    DecodedDirectory out;
    PendingName pending;
    std::size_t at = 0;
    for (; at + kDirSlot <= bytes.size(); at += kDirSlot) {
        ByteView slot = bytes.Sub(at, kDirSlot);
        std::uint8_t b0 = slot.U8(0), attr = slot.U8(11);
        if (b0 == 0) {
            out.ended = true;
            break;
        }
        if (fat_attr::IsLongNameSlot(attr)) {
            if (!LongSlotWellFormed(slot)) {
                pending.Reset();
                continue;
            }
            std::uint8_t sum = slot.U8(13);
            if (b0 == kDeletedMark) {
                if (!pending.active || !pending.deleted || pending.checksum != sum ||
                    pending.pieces.size() >= kMaxLongNameSlots)
                    pending.Start(true, sum);
                pending.pieces.push_back(PieceOf(slot));
                continue;
            }
            unsigned n = b0 & 0x1F;
            bool valid = (b0 & 0xA0) == 0 && n >= 1 && n <= kMaxLongNameSlots;
            if (b0 & 0x40) {
                pending.Start(false, sum);
                pending.valid = valid;
                pending.expected = n - 1;
                pending.pieces.push_back(PieceOf(slot));
            } else if (pending.active && !pending.deleted && pending.valid && valid && n == pending.expected &&
                       sum == pending.checksum) {
                pending.expected = n - 1;
                pending.pieces.push_back(PieceOf(slot));
            } else {
                pending.Reset();  // a slot that belongs to no run
            }
            continue;
        }
        if (DotEntry(slot)) {
            pending.Reset();
            continue;
        }
        bool deleted = b0 == kDeletedMark;
        if (fat_attr::IsVolumeLabel(attr)) {
            if (!deleted && out.label.empty()) {
                std::string label;
                for (std::size_t i = 0; i < 11; ++i) label += static_cast<char>(slot.U8(i));
                while (!label.empty() && label.back() == ' ') label.pop_back();
                out.label = Cp437ToUtf8(label);
            }
            pending.Reset();
            continue;
        }
        if (!ShortEntryPlausible(slot)) {
            pending.Reset();
            continue;
        }
        FatEntry e;
        e.attributes = attr;
        e.caseFlags = slot.U8(12);
        e.createTimeTenth = slot.U8(13);
        e.createTime = slot.Le16(14);
        e.createDate = slot.Le16(16);
        e.accessDate = slot.Le16(18);
        e.clusterHigh = slot.Le16(20);
        e.writeTime = slot.Le16(22);
        e.writeDate = slot.Le16(24);
        e.clusterLow = slot.Le16(26);
        e.fileSize = slot.Le32(28);
        e.startCluster = fat32 ? (std::uint32_t(e.clusterHigh) << 16 | e.clusterLow) : e.clusterLow;
        e.deleted = deleted;
        e.entryOffset = place.OffsetOf(at);
        std::u16string longName = MatchLongName(pending, slot, deleted);
        if (!longName.empty()) {
            e.name = Utf16ToUtf8(longName);
            e.longName = true;
        } else {
            e.name = FormatShortName(slot);
        }
        pending.Reset();
        out.entries.push_back(std::move(e));
    }
    out.bytesUsed = out.ended ? at : bytes.size();
    return out;
}

}  // namespace tarnwell
