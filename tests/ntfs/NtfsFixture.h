#pragma once
// A hand-made NTFS volume in memory, for the cases no tool makes: records that
// name themselves as parent, run lists that point past the volume, torn
// records, reused parent records. 4 KiB clusters, 1 KiB records, the MFT at
// cluster 4 (4 records per cluster), its mirror at cluster 2.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwell::test {

class NtfsFixture {
public:
    static constexpr std::uint64_t kCluster = 4096;
    static constexpr std::uint64_t kRecord = 1024;
    static constexpr std::uint64_t kMftLcn = 4;

    explicit NtfsFixture(std::uint64_t clusters = 512, std::uint64_t mftRecords = 64)
        : bytes_(clusters * kCluster, 0), mftRecords_(mftRecords), clusters_(clusters) {
        Boot();
        // $MFT: its $DATA covers the table; "." is the root.
        Record mft(0, 1, 0x1);
        mft.StandardInformation().FileName(5, 5, "$MFT", 3).NonResidentData(
            {{MftClusters(), static_cast<std::int64_t>(kMftLcn)}}, mftRecords_ * kRecord);
        Put(mft);
        Record root(5, 5, 0x3);
        root.StandardInformation().FileName(5, 5, ".", 3, true);
        Put(root);
    }

    struct Run {
        std::uint64_t length;
        std::int64_t lcn;  // < 0: sparse
    };

    class Record {
    public:
        Record(std::uint32_t number, std::uint16_t sequence, std::uint16_t flags)
            : number_(number), bytes_(kRecord, 0) {
            std::memcpy(bytes_.data(), "FILE", 4);
            Put16(4, 48);   // update sequence array
            Put16(6, 3);    // check value + two strides
            Put16(16, sequence);
            Put16(20, 56);  // first attribute
            Put16(22, flags);
            Put32(28, kRecord);
            Put32(44, number);
            end_ = 56;
        }
        std::uint32_t number() const { return number_; }

        Record& StandardInformation(std::uint64_t created = 133000000000000000ULL,
                                    std::uint64_t modified = 133100000000000000ULL,
                                    std::uint64_t accessed = 133200000000000000ULL, std::uint32_t flags = 0x20) {
            std::vector<std::uint8_t> v(48, 0);
            Set64(v, 0, created);
            Set64(v, 8, modified);
            Set64(v, 16, modified);
            Set64(v, 24, accessed);
            Set32(v, 32, flags);
            return Resident(0x10, v);
        }
        Record& FileName(std::uint64_t parent, std::uint16_t parentSequence, const std::string& ascii,
                         std::uint8_t nameSpace = 1, bool folder = false) {
            std::vector<std::uint8_t> v(66 + 2 * ascii.size(), 0);
            Set64(v, 0, parent | (static_cast<std::uint64_t>(parentSequence) << 48));
            Set32(v, 56, folder ? 0x10000000u : 0x20u);
            v[64] = static_cast<std::uint8_t>(ascii.size());
            v[65] = nameSpace;
            for (std::size_t i = 0; i < ascii.size(); ++i) v[66 + 2 * i] = static_cast<std::uint8_t>(ascii[i]);
            return Resident(0x30, v);
        }
        Record& ResidentData(const std::string& data) {
            return Resident(0x80, std::vector<std::uint8_t>(data.begin(), data.end()));
        }
        // Mapping pairs written as given (for hostile lists), or from runs.
        Record& NonResidentData(const std::vector<Run>& runs, std::uint64_t realSize, std::uint16_t flags = 0,
                                std::uint16_t compressionUnit = 0) {
            return NonResidentPairs(Pairs(runs), realSize, flags, compressionUnit, TotalLength(runs));
        }
        Record& NonResidentPairs(const std::vector<std::uint8_t>& pairs, std::uint64_t realSize,
                                 std::uint16_t flags = 0, std::uint16_t compressionUnit = 0,
                                 std::uint64_t clusters = 0, std::uint64_t startVcn = 0) {
            std::size_t length = (64 + pairs.size() + 8) & ~std::size_t{7};
            std::size_t a = end_;
            Put32(a, 0x80);
            Put32(a + 4, static_cast<std::uint32_t>(length));
            bytes_[a + 8] = 1;
            Put16(a + 12, flags);
            Put64(a + 16, startVcn);
            Put64(a + 24, startVcn + (clusters ? clusters - 1 : 0));
            Put16(a + 32, 64);
            Put16(a + 34, compressionUnit);
            Put64(a + 40, clusters * kCluster);
            Put64(a + 48, realSize);
            Put64(a + 56, realSize);
            std::memcpy(&bytes_[a + 64], pairs.data(), pairs.size());
            end_ += length;
            return *this;
        }
        // An extent of $DATA that continues at startVcn (in an extension record).
        Record& DataExtent(const std::vector<Run>& runs, std::uint64_t startVcn) {
            return NonResidentPairs(Pairs(runs), 0, 0, 0, TotalLength(runs), startVcn);
        }
        // This record holds attributes of record base (sequence baseSequence).
        Record& Base(std::uint64_t base, std::uint16_t baseSequence) {
            Put64(32, base | (static_cast<std::uint64_t>(baseSequence) << 48));
            return *this;
        }
        struct ListEntry {
            std::uint32_t type;
            std::uint64_t lowestVcn, record;
            std::uint16_t sequence;
        };
        Record& AttributeList(const std::vector<ListEntry>& entries) {
            std::vector<std::uint8_t> v;
            for (const ListEntry& e : entries) {
                std::vector<std::uint8_t> item(32, 0);
                Set32(item, 0, e.type);
                Set16(item, 4, 32);
                item[7] = 26;
                Set64(item, 8, e.lowestVcn);
                Set64(item, 16, e.record | (static_cast<std::uint64_t>(e.sequence) << 48));
                v.insert(v.end(), item.begin(), item.end());
            }
            return Resident(0x20, v);
        }
        // The bytes with the update sequence applied (as a disk holds them).
        std::vector<std::uint8_t> Encoded(bool torn = false) const {
            std::vector<std::uint8_t> out = bytes_;
            Set32(out, end_, 0xFFFFFFFF);
            Set32(out, 24, static_cast<std::uint32_t>(end_ + 8));
            const std::uint16_t check = 0x0007;
            Set16(out, 48, check);
            for (int i = 1; i <= 2; ++i) {
                std::size_t at = i * 512 - 2;
                out[48 + 2 * i] = out[at];
                out[49 + 2 * i] = out[at + 1];
                Set16(out, at, torn && i == 2 ? 0x0008 : check);
            }
            return out;
        }
        std::vector<std::uint8_t>& raw() { return bytes_; }

        static std::vector<std::uint8_t> Pairs(const std::vector<Run>& runs) {
            std::vector<std::uint8_t> out;
            std::int64_t previous = 0;
            for (const Run& r : runs) {
                std::vector<std::uint8_t> len = Minimal(r.length, false);
                std::vector<std::uint8_t> off;
                if (r.lcn >= 0) {
                    off = Minimal(static_cast<std::uint64_t>(r.lcn - previous), true);
                    previous = r.lcn;
                }
                out.push_back(static_cast<std::uint8_t>(len.size() | (off.size() << 4)));
                out.insert(out.end(), len.begin(), len.end());
                out.insert(out.end(), off.begin(), off.end());
            }
            out.push_back(0);
            return out;
        }

    private:
        static std::uint64_t TotalLength(const std::vector<Run>& runs) {
            std::uint64_t n = 0;
            for (const Run& r : runs) n += r.length;
            return n;
        }
        // Little-endian bytes, as few as hold the value (signed: with room for the sign bit).
        static std::vector<std::uint8_t> Minimal(std::uint64_t v, bool isSigned) {
            std::vector<std::uint8_t> out;
            auto s = static_cast<std::int64_t>(v);
            do {
                out.push_back(static_cast<std::uint8_t>(v & 0xFF));
                v >>= 8;
                s >>= 8;
            } while (isSigned ? !((s == 0 && !(out.back() & 0x80)) || (s == -1 && (out.back() & 0x80))) : v != 0);
            return out;
        }
        Record& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value) {
            std::size_t length = (24 + value.size() + 7) & ~std::size_t{7};
            std::size_t a = end_;
            Put32(a, type);
            Put32(a + 4, static_cast<std::uint32_t>(length));
            Put32(a + 16, static_cast<std::uint32_t>(value.size()));
            Put16(a + 20, 24);
            std::memcpy(&bytes_[a + 24], value.data(), value.size());
            end_ += length;
            return *this;
        }
        static void Set16(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { SetN(b, at, v, 2); }
        static void Set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { SetN(b, at, v, 4); }
        static void Set64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { SetN(b, at, v, 8); }
        static void SetN(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        void Put16(std::size_t at, std::uint64_t v) { SetN(bytes_, at, v, 2); }
        void Put32(std::size_t at, std::uint64_t v) { SetN(bytes_, at, v, 4); }
        void Put64(std::size_t at, std::uint64_t v) { SetN(bytes_, at, v, 8); }

        std::uint32_t number_;
        std::vector<std::uint8_t> bytes_;
        std::size_t end_;
    };

    void Put(const Record& r, bool torn = false) { PutAt(kMftLcn * kCluster + r.number() * kRecord, r, torn); }
    void PutAt(std::uint64_t offset, const Record& r, bool torn = false) {
        std::vector<std::uint8_t> e = r.Encoded(torn);
        std::memcpy(&bytes_[offset], e.data(), e.size());
    }
    void PutCluster(std::uint64_t lcn, const std::string& data) {
        std::memcpy(&bytes_[lcn * kCluster], data.data(), std::min<std::size_t>(data.size(), kCluster));
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::uint64_t MftClusters() const { return mftRecords_ * kRecord / kCluster; }
    void Boot() {
        std::uint8_t* b = bytes_.data();
        b[0] = 0xEB;
        b[1] = 0x52;
        b[2] = 0x90;
        std::memcpy(b + 3, "NTFS    ", 8);
        b[11] = 0x00;
        b[12] = 0x02;  // 512 bytes per sector
        b[13] = 8;     // sectors per cluster
        std::uint64_t sectors = clusters_ * 8 - 1;
        for (int i = 0; i < 8; ++i) b[40 + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
        b[48] = static_cast<std::uint8_t>(kMftLcn);
        b[56] = 2;
        b[64] = 0xF6;  // 2^10-byte records
        b[510] = 0x55;
        b[511] = 0xAA;
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t mftRecords_;
    std::uint64_t clusters_;
};

}  // namespace tarnwell::test
