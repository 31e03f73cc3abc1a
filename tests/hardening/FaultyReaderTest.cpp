// Every parser listing and recovering a committed image through a reader that
// fails on a plan: a bad sector in a file's data, in a directory, in the FAT or
// the MFT, in a catalog B-tree node. Unreadable bytes come back as zeros and are
// counted, the file they hit is reported partial, nothing stalls, and every
// file the damage does not reach is recovered byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "core/ByteView.h"
#include "fs/FileSystemRegistry.h"
#include "fs/MemorySink.h"
#include "partition/FatBootSector.h"
#include "support/FaultyReader.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::FaultPlan;
using test::FaultyReader;

struct File {
    RowId row = kNoRow;
    std::string folder;  // path of the parent, "" at the root
    std::string name;
    std::vector<std::uint8_t> bytes;
    ExtractStatus status = ExtractStatus::Ok;
};

struct Outcome {
    bool scanned = false;
    std::map<std::string, File> files;  // live files by path
    std::uint64_t failedSectors = 0, refusals = 0, rawReads = 0;
    SaveSummary saved;
};

// Lists every live file, extracts each into memory, then recovers the whole tree.
Outcome ListAndRecover(const std::string& image, const std::string& fs, const FaultPlan& plan) {
    Outcome run;
    auto reader = test::OpenFaulty(image, plan);
    if (!reader) return run;
    SilentPrompter quiet;
    ParserLinks links;
    links.view = VolumeView(*reader);
    links.prompter = &quiet;
    links.volume.fileSystem = fs;
    links.volume.sectorCount = reader->deviceSectorCount();
    auto parser = MakeParser(fs, links);
    if (!parser || !parser->Scan(RecoveryMode::Standard)) return run;
    run.scanned = true;
    std::function<void(RowId, const std::string&, int)> walk = [&](RowId folder, const std::string& path, int depth) {
        for (RowId r = parser->FirstChild(folder); r != kNoRow && depth < 32; r = parser->NextSibling(r)) {
            EntryInfo info = parser->Info(r);
            if (info.deleted) continue;
            std::string full = path.empty() ? info.name : path + "/" + info.name;
            if (info.folder) {
                walk(r, full, depth + 1);
                continue;
            }
            if (info.name.rfind("$", 0) == 0) continue;  // NTFS and HFS+ metadata files
            MemorySink sink;
            File f{r, path, info.name, {}, parser->ExtractData(r, sink)};
            f.bytes = std::move(sink.bytes);
            run.files.emplace(full, std::move(f));
        }
    };
    walk(parser->Root(), "", 0);
    test::TempDir out;
    OutputWriter writer((out / "out").string());
    run.saved = parser->SaveFolder(parser->Root(), writer, writer.Root(), false);
    run.failedSectors = reader->FailedSectors();
    run.refusals = reader->Refusals();
    run.rawReads = reader->RawReads();
    return run;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Sectors of the image where needle lies wholly inside one sector.
std::vector<std::uint64_t> SectorsHolding(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& needle) {
    std::vector<std::uint64_t> out;
    if (needle.empty()) return out;
    for (auto it = image.begin(); (it = std::search(it, image.end(), needle.begin(), needle.end())) != image.end(); ++it) {
        auto at = static_cast<std::uint64_t>(it - image.begin());
        if (at / kSectorSize == (at + needle.size() - 1) / kSectorSize &&
            (out.empty() || out.back() != at / kSectorSize))
            out.push_back(at / kSectorSize);
    }
    return out;
}

std::vector<std::uint8_t> Utf16(const std::string& ascii, bool bigEndian, std::size_t chars) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < ascii.size() && i < chars; ++i) {
        out.push_back(bigEndian ? 0 : static_cast<std::uint8_t>(ascii[i]));
        out.push_back(bigEndian ? static_cast<std::uint8_t>(ascii[i]) : 0);
    }
    return out;
}

bool Ascii(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

// A sector inside a file's data, at a sector-aligned offset of the file, whose
// content occurs exactly once in the image (so it is that file's and no other's).
struct DataSector {
    std::string path;
    std::uint64_t sector = 0;
    std::size_t offsetInFile = 0;
};

std::optional<DataSector> FindDataSector(const std::vector<std::uint8_t>& image, const Outcome& clean) {
    for (const auto& [path, f] : clean.files) {
        if (f.bytes.size() < 3 * kSectorSize) continue;
        for (std::size_t off = kSectorSize; off + kSectorSize <= f.bytes.size(); off += kSectorSize) {
            std::vector<std::uint8_t> chunk(f.bytes.begin() + off, f.bytes.begin() + off + kSectorSize);
            if (std::all_of(chunk.begin(), chunk.end(), [&](std::uint8_t b) { return b == chunk[0]; })) continue;
            std::vector<std::uint64_t> hits;
            for (std::size_t s = 0; s + kSectorSize <= image.size(); s += kSectorSize)
                if (std::memcmp(image.data() + s, chunk.data(), kSectorSize) == 0) hits.push_back(s / kSectorSize);
            if (hits.size() == 1) return DataSector{path, hits[0], off};
        }
    }
    return std::nullopt;
}

// A live file with a plain name (one folder down or deeper when inFolder), and
// the sectors that hold its name as the file system stores it.
struct Named {
    std::string path;
    std::vector<std::uint64_t> sectors;
};

std::vector<std::vector<std::uint8_t>> NameForms(const std::string& fs, const std::string& name) {
    std::vector<std::uint8_t> ascii(name.begin(), name.end());
    if (fs == "FAT12" || fs == "FAT16" || fs == "FAT32") return {ascii, Utf16(name, false, 5)};  // a long-name slot's first piece
    if (fs == "exFAT") return {Utf16(name, false, 15)};                                        // one name entry
    if (fs == "NTFS") return {Utf16(name, false, name.size())};
    if (fs == "HFS+") return {Utf16(name, true, name.size())};
    return {ascii};
}

std::optional<Named> FindNamed(const std::vector<std::uint8_t>& image, const Outcome& clean, const std::string& fs,
                               bool inFolder) {
    for (const auto& [path, f] : clean.files) {
        if ((inFolder && f.folder.empty()) || !Ascii(f.name) || f.name.size() < 6) continue;
        std::vector<std::uint64_t> sectors;
        for (const auto& needle : NameForms(fs, f.name)) {
            auto s = SectorsHolding(image, needle);
            sectors.insert(sectors.end(), s.begin(), s.end());
        }
        std::erase_if(sectors, [](std::uint64_t s) { return s == 0; });  // the boot sector is no directory
        std::sort(sectors.begin(), sectors.end());
        sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
        if (!sectors.empty()) return Named{path, sectors};
    }
    return std::nullopt;
}

enum class Damage { Data, Directory, Table, CatalogNode };

const char* DamageName(Damage d) {
    switch (d) {
        case Damage::Data: return "data";
        case Damage::Directory: return "directory";
        case Damage::Table: return "table";
        case Damage::CatalogNode: return "catalog node";
    }
    return "?";
}

// The first sector of the allocation table (FAT, exFAT) or the MFT record holding name (NTFS).
std::vector<std::uint64_t> TableSectors(const std::vector<std::uint8_t>& image, const std::string& fs,
                                        const std::string& name) {
    ByteView boot(image.data(), std::min<std::size_t>(image.size(), 512));
    if (fs == "FAT12" || fs == "FAT16" || fs == "FAT32") {
        auto p = ParseFatBootSector(boot);
        if (!p) return {};
        return {p->FatOffset() / kSectorSize};
    }
    if (fs == "exFAT") {
        std::uint64_t fatSector = boot.Le32(0x50);
        return {(fatSector << boot.U8(0x6C)) / kSectorSize};
    }
    if (fs == "NTFS") {
        std::vector<std::uint64_t> out;
        for (std::uint64_t s : SectorsHolding(image, Utf16(name, false, name.size()))) {
            std::uint64_t record = s * kSectorSize / 1024 * 1024;
            if (std::memcmp(image.data() + record, "FILE", 4) == 0) out.push_back(record / kSectorSize);
        }
        return out;
    }
    return {};
}

struct Case {
    std::string image, fs;
    std::vector<Damage> damages;
};

class FaultyReaderTest : public ::testing::TestWithParam<Case> {};

TEST_P(FaultyReaderTest, UnreadableSectorsBecomeZerosAndTheRestIsRecovered) {
    const Case& c = GetParam();
    std::string image = test::ImagePath(c.image);
    if (image.empty()) GTEST_SKIP() << c.image << " is not committed";
    test::UnchangedGuard unchanged(image);
    std::vector<std::uint8_t> bytes = ReadAll(image);
    Outcome clean = ListAndRecover(image, c.fs, {});
    ASSERT_TRUE(clean.scanned);
    ASSERT_FALSE(clean.files.empty());
    for (const auto& [path, f] : clean.files) ASSERT_EQ(f.status, ExtractStatus::Ok) << path;
    EXPECT_EQ(clean.failedSectors, 0u);

    for (Damage damage : c.damages) {
        SCOPED_TRACE(DamageName(damage));
        FaultPlan plan;
        std::string victim;  // the file whose own structure is damaged
        std::optional<DataSector> data;
        if (damage == Damage::Data) {
            data = FindDataSector(bytes, clean);
            ASSERT_TRUE(data) << "no file with a sector of its own";
            victim = data->path;
            plan.badSectors = {data->sector};
        } else {
            auto named = FindNamed(bytes, clean, c.fs, damage != Damage::Table);
            ASSERT_TRUE(named) << "no file with a plain name to damage";
            victim = named->path;
            std::vector<std::uint64_t> sectors = named->sectors;
            if (damage == Damage::Table) sectors = TableSectors(bytes, c.fs, clean.files.at(victim).name);
            ASSERT_FALSE(sectors.empty());
            plan.badSectors.insert(sectors.begin(), sectors.end());
        }
        Outcome hurt = ListAndRecover(image, c.fs, plan);
        ASSERT_TRUE(hurt.scanned) << "a bad sector must not refuse the volume";
        EXPECT_GT(hurt.refusals, 0u) << "the bad sector was never read";
        EXPECT_GE(hurt.failedSectors, 1u) << "unreadable sectors are counted";
        // Salvage reads each sector of a failed request once more, nothing like a retry loop.
        EXPECT_LT(hurt.rawReads, clean.rawReads * 4 + 100000) << "reads stalled on the bad sector";

        for (const auto& [path, want] : clean.files) {
            auto got = hurt.files.find(path);
            if (data && path == victim) {
                ASSERT_NE(got, hurt.files.end());
                EXPECT_EQ(got->second.status, ExtractStatus::Partial) << path;
                std::vector<std::uint8_t> expected = want.bytes;
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(data->offsetInFile), kSectorSize, 0);
                EXPECT_TRUE(got->second.bytes == expected) << path << ": the bad sector reads as zeros, the rest intact";
                continue;
            }
            // What the parser calls whole must be whole, damaged or not.
            if (got != hurt.files.end() && got->second.status == ExtractStatus::Ok) {
                EXPECT_TRUE(got->second.bytes == want.bytes) << path << " reported complete but differs";
            }
            const std::string& lostFolder = clean.files.at(victim).folder;
            bool below = want.folder == lostFolder || want.folder.rfind(lostFolder + "/", 0) == 0;
            bool reachable = false;
            switch (damage) {
                case Damage::Data: reachable = true; break;
                case Damage::Directory: reachable = !below; break;
                case Damage::Table: reachable = c.fs == "NTFS" && path != victim; break;  // FAT chains may cross it
                case Damage::CatalogNode: break;  // one leaf may hold the whole small catalog
            }
            if (reachable) {
                ASSERT_NE(got, hurt.files.end()) << path << " lost to damage elsewhere";
                EXPECT_EQ(got->second.status, ExtractStatus::Ok) << path;
                EXPECT_TRUE(got->second.bytes == want.bytes) << path;
            }
        }
        if (data) {
            EXPECT_GE(hurt.saved.partial, 1u) << "recovery reports the partial file";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Parsers, FaultyReaderTest,
    ::testing::Values(Case{"fat12-floppy", "FAT12", {Damage::Data, Damage::Table}},
                      Case{"fat16-stick", "FAT16", {Damage::Data, Damage::Directory, Damage::Table}},
                      Case{"fat32-card", "FAT32", {Damage::Data, Damage::Directory, Damage::Table}},
                      Case{"exfat-4k", "exFAT", {Damage::Data, Damage::Directory, Damage::Table}},
                      Case{"ntfs-512", "NTFS", {Damage::Data, Damage::Directory, Damage::Table}},
                      Case{"ext2-1k", "ext2", {Damage::Data, Damage::Directory}},
                      Case{"hfsplus-gen", "HFS+", {Damage::Data, Damage::CatalogNode}}),
    [](const auto& info) {
        std::string n = info.param.image;
        std::replace(n.begin(), n.end(), '-', '_');
        return n;
    });

// Short reads and flipped bytes: a reader that delivers a few bytes at a time
// changes nothing, and a flipped byte in a file's data reaches that file only.
TEST(FaultyReader, ShortReadsAndFlippedBytes) {
    std::string image = test::ImagePath("fat16-stick");
    if (image.empty()) GTEST_SKIP() << "fat16-stick is not committed";
    Outcome clean = ListAndRecover(image, "FAT16", {});
    ASSERT_TRUE(clean.scanned);
    FaultPlan dribble;
    dribble.maxBytesPerRead = 100;
    Outcome shortReads = ListAndRecover(image, "FAT16", dribble);
    ASSERT_TRUE(shortReads.scanned);
    EXPECT_EQ(shortReads.failedSectors, 0u);
    ASSERT_EQ(shortReads.files.size(), clean.files.size());
    for (const auto& [path, f] : clean.files) EXPECT_TRUE(shortReads.files.at(path).bytes == f.bytes) << path;

    std::vector<std::uint8_t> bytes = ReadAll(image);
    auto data = FindDataSector(bytes, clean);
    ASSERT_TRUE(data);
    FaultPlan flip;
    flip.flips[data->sector * kSectorSize + 7] = 0x5A;
    Outcome flipped = ListAndRecover(image, "FAT16", flip);
    ASSERT_TRUE(flipped.scanned);
    for (const auto& [path, f] : clean.files) {
        std::vector<std::uint8_t> want = f.bytes;
        if (path == data->path) want[data->offsetInFile + 7] ^= 0x5A;
        EXPECT_TRUE(flipped.files.at(path).bytes == want) << path;
    }
}

}  // namespace
}  // namespace tarnwell
