#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "device/MemoryReader.h"
#include "partition/BootSectors.h"
#include "partition/PartitionScanner.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n, bool big = false) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (big ? n - 1 - i : i)));
}

// A volume start (4 KiB) holding an HFS+ header at 1024.
std::vector<std::uint8_t> HfsVolume(char letter, std::uint16_t version, std::uint32_t blockSize, std::uint32_t blocks) {
    std::vector<std::uint8_t> v(4096, 0);
    v[1024] = 'H';
    v[1025] = static_cast<std::uint8_t>(letter);
    Put(v, 1026, version, 2, true);
    Put(v, 1024 + 0x28, blockSize, 4, true);
    Put(v, 1024 + 0x2C, blocks, 4, true);
    return v;
}

std::vector<std::uint8_t> ExtVolume(std::uint32_t blocks, std::uint32_t logBlock, std::uint16_t group,
                                    std::uint32_t incompat = 0) {
    std::vector<std::uint8_t> v(4096, 0);
    const std::size_t sb = 1024;
    Put(v, sb + 0x00, 2048, 4);    // inodes
    Put(v, sb + 0x04, blocks, 4);
    Put(v, sb + 0x18, logBlock, 4);
    Put(v, sb + 0x20, 8192, 4);    // blocks per group
    Put(v, sb + 0x28, 2048, 4);    // inodes per group
    Put(v, sb + 0x38, 0xEF53, 2);
    Put(v, sb + 0x5A, group, 2);
    Put(v, sb + 0x60, incompat, 4);
    return v;
}

std::vector<std::uint8_t> NtfsVolume(const char* oem, std::int64_t total) {
    std::vector<std::uint8_t> v(4096, 0);
    v[0] = 0xEB; v[1] = 0x52; v[2] = 0x90;
    for (int i = 0; oem[i]; ++i) v[3 + i] = static_cast<std::uint8_t>(oem[i]);
    Put(v, 0x0B, 512, 2);
    Put(v, 0x28, static_cast<std::uint64_t>(total), 8);
    v[510] = 0x55; v[511] = 0xAA;
    return v;
}

// The shown name by the volume's features: a journal makes ext3, any feature
// ext3 did not know makes ext4; HX makes HFSX. The KIND name follows it.
TEST(BootSectors, NamesByFeatures) {
    auto ext = [](std::uint32_t compat, std::uint32_t incompat, std::uint32_t roCompat) {
        std::vector<std::uint8_t> v = ExtVolume(8192, 0, 0, incompat);
        Put(v, 1024 + 0x5C, compat, 4);
        Put(v, 1024 + 0x64, roCompat, 4);
        return v;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* shown;
        const char* kind;
    };
    const Case cases[] = {
        {"mke2fs -t ext2: filetype, sparse_super, large_file", ext(0x38, 0x02, 0x03), "ext2", "ext2"},
        {"a journal", ext(0x3C, 0x02, 0x03), "ext3", "ext3"},
        {"a journal being replayed, meta_bg, btree_dir", ext(0x04, 0x16, 0x07), "ext3", "ext3"},
        {"extents", ext(0x3C, 0x42, 0x03), "ext4", "ext4"},
        {"flex_bg without a journal", ext(0x38, 0x202, 0x03), "ext4", "ext4"},
        {"64-bit", ext(0x3C, 0x82, 0x03), "ext4", "ext4"},
        {"huge_file (read-only compatible)", ext(0x3C, 0x02, 0x0B), "ext4", "ext4"},
        {"metadata_csum (read-only compatible)", ext(0x3C, 0x02, 0x403), "ext4", "ext4"},
        {"HFS+", HfsVolume('+', 4, 4096, 2560), "HFS+", "hfsplus"},
        {"HFSX", HfsVolume('X', 5, 4096, 2560), "HFSX", "hfsplus"},
    };
    for (const Case& c : cases) {
        auto m = DetectVolume(ByteView(c.bytes));
        ASSERT_TRUE(m) << c.what;
        EXPECT_STREQ(ShownName(m->type), c.shown) << c.what;
        EXPECT_STREQ(KindName(m->type), c.kind) << c.what;
    }
}

TEST(BootSectors, HeadersAndSuperblocks) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool requireNtfsName;
        std::optional<BootKind> kind;
        std::uint64_t bytesExpected;
        std::uint64_t extentSectors;
    };
    const Case cases[] = {
        {"HFS+", HfsVolume('+', 4, 4096, 2560), false, BootKind::HfsPlus, 10485760, 20480},
        {"HFSX is accepted too", HfsVolume('X', 5, 4096, 2560), false, BootKind::HfsPlus, 10485760, 20480},
        {"HFS+ with a bad version", HfsVolume('+', 9, 4096, 2560), false, std::nullopt, 0, 0},
        {"HFS+ with a block size that is no power of two", HfsVolume('+', 4, 3000, 2560), false, std::nullopt, 0, 0},
        {"ext superblock", ExtVolume(8192, 0, 0), false, BootKind::Ext, 8388608, 16384},
        {"ext 64-bit feature, 4 KiB blocks", ExtVolume(256, 2, 0, 0x80), false, BootKind::Ext, 1048576, 2048},
        {"ext backup superblock of group 1", ExtVolume(8192, 0, 1), false, std::nullopt, 0, 0},
        {"ext external journal", ExtVolume(8192, 0, 0, 0x08), false, std::nullopt, 0, 0},
        {"ext absurd block size", ExtVolume(8192, 20, 0), false, std::nullopt, 0, 0},
        {"NTFS, backup boot sector in the extent", NtfsVolume("NTFS    ", 16383), true, BootKind::Ntfs, 8388096, 16384},
        {"NTFS without its name, table scan", NtfsVolume("MSWIN4.1", 16383), false, BootKind::Ntfs, 8388096, 16384},
        {"NTFS without its name, sector search", NtfsVolume("MSWIN4.1", 16383), true, std::nullopt, 0, 0},
        {"NTFS with a negative total", NtfsVolume("NTFS    ", -5), true, BootKind::Ntfs, 0, 0},
        {"zeros", std::vector<std::uint8_t>(4096, 0), false, std::nullopt, 0, 0},
        {"short buffer", std::vector<std::uint8_t>(300, 0xEB), false, std::nullopt, 0, 0},
    };
    for (const Case& c : cases) {
        auto m = DetectVolume(c.bytes, c.requireNtfsName);
        ASSERT_EQ(m.has_value(), c.kind.has_value()) << c.what;
        if (!m) continue;
        EXPECT_EQ(m->kind, *c.kind) << c.what;
        EXPECT_EQ(m->volumeBytes, c.bytesExpected) << c.what;
        EXPECT_EQ(m->extentSectors, c.extentSectors) << c.what;
    }
}

// ---- the public fixtures ------------------------------------------------------

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The first bytes of a packed fixture image.
std::vector<std::uint8_t> FixtureHead(const std::string& path, const std::string& packing, std::size_t bytes) {
    std::string tool = packing == "gzip" ? "gzip -dc " : packing == "bzip2" ? "bzip2 -dc "
                     : packing == "xz"   ? "xz -dc "
                                         : "tar -xOJf ";
    std::string cmd = tool + Quote(path) + " 2>/dev/null | head -c " + std::to_string(bytes);
    std::vector<std::uint8_t> out(bytes, 0);
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return {};
    std::size_t got = std::fread(out.data(), 1, bytes, pipe);
    ::pclose(pipe);
    out.resize(got);
    return out;
}

// What a fixture is taken for as a whole source, from the source project's own probe (util-linux) or else
// from The Sleuth Kit's: the KIND name we must give it, "" for none of ours, "fat" for any FAT, "ext*"
// for any ext. util-linux tells ext2, ext3 and ext4 apart by the features as we do (any feature ext3
// did not know makes ext4); The Sleuth Kit keeps ext2 for flex_bg, uninit_bg, metadata_csum, quota and
// encrypt volumes, so only its family is taken.
std::string Expected(const std::string& image, const std::string& tskSays, const std::map<std::string, std::string>& blkid) {
    auto b = blkid.find(image);
    if (b != blkid.end()) {
        const std::string& t = b->second;
        if (t == "vfat") return "fat";
        if (t == "ntfs" || t == "exfat" || t == "ext2" || t == "ext3" || t == "ext4" || t == "hfsplus") return t;
        return "";
    }
    if (tskSays.rfind("FAT", 0) == 0) return "fat";
    if (tskSays == "NTFS") return "ntfs";
    if (tskSays == "exFAT") return "exfat";
    if (tskSays == "Ext2" || tskSays == "Ext3" || tskSays == "Ext4") return "ext*";
    if (tskSays == "HFS+") return "hfsplus";
    return "?";  // not told: must only not crash
}

TEST(BootSectors, PublicFixturesAreToldApart) {
    std::string root = test::FixturesRoot();
    if (root.empty()) GTEST_SKIP() << "no public fixtures here";
    std::map<std::string, std::string> blkid;
    {
        std::ifstream index(root + "/util-linux/INDEX.tsv");
        for (std::string line; std::getline(index, line);) {
            if (line.empty() || line[0] == '#' || line.rfind("image\t", 0) == 0) continue;
            std::istringstream f(line);
            std::string image, raw, files, type;
            std::getline(f, image, '\t'); std::getline(f, raw, '\t'); std::getline(f, files, '\t');
            std::getline(f, type, '\t');
            blkid["util-linux/" + image] = type;
        }
    }
    std::ifstream manifest(root + "/MANIFEST.tsv");
    int checked = 0, recognised = 0;
    std::vector<std::string> wrong;
    for (std::string line; std::getline(manifest, line);) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
        if (f.size() < 7 || f[0].empty() || f[0][0] == '#') continue;
        std::string packing = f[3].rfind("tar", 0) == 0 ? "tar" : f[3];
        auto head = FixtureHead(root + "/" + f[0], packing, 4096);
        auto m = DetectSourceVolume(head);  // must never crash, whatever the bytes
        std::string got = m ? KindName(m->type) : "";
        std::string want = Expected(f[0], f[6], blkid);
        ++checked;
        if (want == "?") continue;
        bool ok = want == "fat"    ? (m && (m->kind == BootKind::Fat12 || m->kind == BootKind::Fat16 ||
                                            m->kind == BootKind::Fat32))
                  : want == "ext*" ? (m && m->kind == BootKind::Ext && m->type != FsType::Ext)
                                   : got == want;
        if (!want.empty() && ok) ++recognised;
        if (!ok) wrong.push_back(f[0] + ": want '" + want + "' got '" + got + "'");
    }
    EXPECT_GT(checked, 100);
    EXPECT_GT(recognised, 50);
    std::string list;
    for (const auto& w : wrong) list += "  " + w + "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " fixtures told wrongly:\n" << list;
}

// Both scans over every small image of the util-linux probe suite: whatever the
// bytes, they end, and the GPT sample's partitions are the ones libblkid expects.
TEST(BootSectors, ScannersSurviveThePublicImages) {
    std::string root = test::FixturesRoot();
    if (root.empty()) GTEST_SKIP() << "no public fixtures here";
    std::ifstream manifest(root + "/MANIFEST.tsv");
    int scanned = 0;
    for (std::string line; std::getline(manifest, line);) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
        if (f.size() < 5 || f[0].rfind("util-linux/", 0) != 0 || f[3] != "xz") continue;
        std::uint64_t raw = std::stoull(f[4]);
        if (raw > (16u << 20)) continue;
        MemoryReader reader(FixtureHead(root + "/" + f[0], "xz", raw));
        PartitionScanner p;
        p.ScanPartitionTables(reader);
        std::vector<std::int64_t> tableStarts;
        for (const auto& v : p.Entries()) tableStarts.push_back(v.startSector);
        p.gptFormat = true;
        p.ScanPartitionTables(reader);
        p.ScanForVolumes(reader);
        p.skipVolumeSize = false;
        p.ScanForVolumes(reader);
        ++scanned;
        if (f[0] == "util-linux/images-pt/gpt.img.xz") {
            EXPECT_EQ(tableStarts, (std::vector<std::int64_t>{34, 2048, 4096, 6144, 8192}));
        }
    }
    EXPECT_GT(scanned, 50);
}

}  // namespace
}  // namespace tarnwell
