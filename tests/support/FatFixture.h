#pragma once
// Hand-made FAT16 and FAT32 volumes in memory, for the corner cases no tool
// makes: loops in a chain, a folder that contains its own ancestor, long names
// whose checksum or sequence is wrong, odd attribute bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwell::test {

class FatFixture {
public:
    // DOS date 2024-06-01 and time 12:30:10 on every entry made here.
    static constexpr std::uint16_t kDate = ((2024 - 1980) << 9) | (6 << 5) | 1;
    static constexpr std::uint16_t kTime = (12 << 11) | (30 << 5) | 5;

    // FAT16: 512-byte sectors and clusters, 1 reserved sector, 2 FATs, 64 root entries.
    static FatFixture Fat16() {
        FatFixture f;
        f.fat32_ = false;
        f.total_ = 4300;
        f.reserved_ = 1;
        f.rootEntries_ = 64;
        f.spf_ = 17;
        f.Build();
        return f;
    }

    // FAT32 with few clusters, its root at rootCluster.
    static FatFixture Fat32(std::uint32_t rootCluster = 5) {
        FatFixture f;
        f.fat32_ = true;
        f.total_ = 400;
        f.reserved_ = 4;
        f.rootEntries_ = 0;
        f.spf_ = 4;
        f.rootCluster_ = rootCluster;
        f.Build();
        f.SetFat(rootCluster, 0x0FFFFFFF);
        return f;
    }

    std::vector<std::uint8_t> bytes;

    std::uint64_t FatOffset(unsigned copy = 0) const { return (reserved_ + copy * spf_) * 512ull; }
    std::uint64_t RootOffset() const {
        return fat32_ ? ClusterOffset(rootCluster_) : (reserved_ + 2ull * spf_) * 512;
    }
    std::uint64_t DataOffset() const { return (reserved_ + 2ull * spf_) * 512 + rootEntries_ * 32ull; }
    std::uint64_t ClusterOffset(std::uint32_t c) const { return DataOffset() + (std::uint64_t(c) - 2) * 512; }

    void SetFat(std::uint32_t c, std::uint32_t v) {
        for (unsigned copy = 0; copy < 2; ++copy) {
            if (fat32_)
                Put(FatOffset(copy) + 4ull * c, v, 4);
            else
                Put(FatOffset(copy) + 2ull * c, v, 2);
        }
    }
    void Chain(std::initializer_list<std::uint32_t> clusters) {
        std::uint32_t prev = 0;
        for (std::uint32_t c : clusters) {
            if (prev) SetFat(prev, c);
            prev = c;
        }
        if (prev) SetFat(prev, fat32_ ? 0x0FFFFFFF : 0xFFFF);
    }

    // A short entry at byte offset at; name11 is the raw 11 bytes.
    void Entry(std::uint64_t at, const std::string& name11, std::uint8_t attr, std::uint32_t cluster,
               std::uint32_t size, std::uint8_t caseFlags = 0) {
        std::string n = name11;
        n.resize(11, ' ');
        std::memcpy(&bytes[at], n.data(), 11);
        bytes[at + 11] = attr;
        bytes[at + 12] = caseFlags;
        Put(at + 14, kTime, 2);
        Put(at + 16, kDate, 2);
        Put(at + 18, kDate, 2);
        Put(at + 20, fat32_ ? cluster >> 16 : 0, 2);
        Put(at + 22, kTime, 2);
        Put(at + 24, kDate, 2);
        Put(at + 26, cluster & 0xFFFF, 2);
        Put(at + 28, size, 4);
    }

    static std::uint8_t Checksum(const std::string& name11) {
        std::uint8_t sum = 0;
        for (int i = 0; i < 11; ++i)
            sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(name11[i]));
        return sum;
    }

    // Long-name slots for name and the short entry after them; returns the
    // offset after the short entry. checksumDelta spoils the checksum;
    // skipSequence gives the slot of that number the next number instead.
    std::uint64_t LongEntry(std::uint64_t at, const std::u16string& name, const std::string& name11, std::uint8_t attr,
                            std::uint32_t cluster, std::uint32_t size, bool deleted = false, int checksumDelta = 0,
                            int skipSequence = 0) {
        std::size_t slots = (name.size() + 12) / 13;
        std::string n11 = name11;
        n11.resize(11, ' ');
        std::uint8_t sum = static_cast<std::uint8_t>(Checksum(n11) + checksumDelta);
        static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t k = slots; k >= 1; --k) {
            std::uint8_t* s = &bytes[at];
            std::memset(s, 0, 32);
            unsigned seq = static_cast<unsigned>(k);
            if (skipSequence != 0 && int(k) == skipSequence) seq = static_cast<unsigned>(k + 1);
            s[0] = static_cast<std::uint8_t>(seq | (k == slots ? 0x40 : 0));
            if (deleted) s[0] = 0xE5;
            s[11] = 0x0F;
            s[13] = sum;
            for (int u = 0; u < 13; ++u) {
                std::size_t i = (k - 1) * 13 + u;
                std::uint16_t unit = i < name.size() ? name[i] : (i == name.size() ? 0 : 0xFFFF);
                s[kOffsets[u]] = unit & 0xFF;
                s[kOffsets[u] + 1] = unit >> 8;
            }
            at += 32;
        }
        Entry(at, n11, attr, cluster, size);
        if (deleted) bytes[at] = 0xE5;
        return at + 32;
    }

    // The "." and ".." entries that begin a folder's first cluster.
    void Dots(std::uint32_t cluster, std::uint32_t parent) {
        Entry(ClusterOffset(cluster), ".", 0x10, cluster, 0);
        Entry(ClusterOffset(cluster) + 32, "..", 0x10, parent, 0);
    }

    // Fills a cluster with one byte value.
    void Fill(std::uint32_t cluster, std::uint8_t value) { std::memset(&bytes[ClusterOffset(cluster)], value, 512); }

    void Put(std::uint64_t at, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

private:
    void Build() {
        bytes.assign(std::size_t(total_) * 512, 0);
        bytes[0] = 0xEB; bytes[1] = 0x3C; bytes[2] = 0x90;
        std::memcpy(&bytes[3], "FIXTURE ", 8);
        Put(0x0B, 512, 2);
        bytes[0x0D] = 1;
        Put(0x0E, reserved_, 2);
        bytes[0x10] = 2;
        Put(0x11, rootEntries_, 2);
        Put(0x13, total_ < 65536 && !fat32_ ? total_ : 0, 2);
        bytes[0x15] = 0xF8;
        Put(0x16, fat32_ ? 0 : spf_, 2);
        Put(0x20, fat32_ || total_ >= 65536 ? total_ : 0, 4);
        if (fat32_) {
            Put(0x24, spf_, 4);
            Put(0x2C, rootCluster_, 4);
        }
        bytes[510] = 0x55; bytes[511] = 0xAA;
        SetFat(0, fat32_ ? 0x0FFFFFF8 : 0xFFF8);
        SetFat(1, fat32_ ? 0x0FFFFFFF : 0xFFFF);
    }

    bool fat32_ = false;
    std::uint32_t total_ = 0, reserved_ = 0, rootEntries_ = 0, spf_ = 0, rootCluster_ = 2;
};

}  // namespace tarnwell::test
