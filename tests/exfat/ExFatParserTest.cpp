#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "device/FileReader.h"
#include "device/MemoryReader.h"
#include "fs/exfat/ExFatParser.h"
#include "fs/FileSystemRegistry.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

using test::Slurp;

ParserLinks LinksFor(SectorReader& reader, RecordingPrompter& prompter) {
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = "exFAT";
    links.volume.sectorCount = reader.deviceSectorCount();
    return links;
}

class ExFatImage : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        image = test::ImagePath(GetParam());
        if (image.empty()) GTEST_SKIP() << "image not committed";
        ASSERT_TRUE(reader.Open(image));
        parser = MakeParser("exFAT", LinksFor(reader, prompter));
        ASSERT_TRUE(parser);
        ASSERT_TRUE(parser->Scan(RecoveryMode::Standard));
    }
    std::string image;
    FileReader reader;
    RecordingPrompter prompter;
    std::unique_ptr<FileSystemParser> parser;
};

TEST_P(ExFatImage, ListsEveryEntryFlsListsUnderItsPathWithItsDeletedMark) {
    test::UnchangedGuard unchanged(image);
    auto ours = test::ListParser(*parser);
    auto theirs = test::ParseFls(test::ReadImageFile(std::string(GetParam()) + ".fls"));
    ASSERT_FALSE(theirs.empty());
    for (const auto& [path, fls] : theirs) {
        auto it = ours.find(path);
        ASSERT_NE(it, ours.end()) << path << " is missing";
        EXPECT_EQ(it->second.deleted, fls.deleted) << path;
        EXPECT_EQ(it->second.folder, fls.folder) << path;
    }
    EXPECT_EQ(ours.size(), theirs.size()) << "we list what fls lists, no more";
}

TEST_P(ExFatImage, RecoversTheBytesIcatGives) {
    if (!test::HaveSleuthKit()) GTEST_SKIP() << "icat not installed";
    test::UnchangedGuard unchanged(image);
    test::TempDir out;
    OutputWriter writer(out.path().string());
    auto ours = test::ListParser(*parser);
    int compared = 0;
    for (const auto& [path, fls] : test::ParseFls(test::ReadImageFile(std::string(GetParam()) + ".fls"))) {
        if (fls.folder) continue;
        // Of the folder of a thousand files, its first and last do.
        if (path.rfind("many/", 0) == 0 && path != "many/f0001.dat" && path != "many/f1000.dat") continue;
        auto sub = writer.MakeFolder(writer.Root(), std::to_string(compared));
        ASSERT_TRUE(sub);
        ExtractStatus status = parser->ExtractFile(ours.at(path).row, writer, *sub);
        EXPECT_EQ(status, ExtractStatus::Ok) << path;
        std::string name = OutputWriter::SafeName(parser->Info(ours.at(path).row).name);
        EXPECT_EQ(Slurp(out / (std::to_string(compared) + "/" + name)), test::Icat(image, fls.inode)) << path;
        ++compared;
    }
    EXPECT_GE(compared, 4);
    EXPECT_EQ(writer.FilesFailed(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ExFatImage, ::testing::Values("exfat-4k", "exfat-128k"));

class ExFat4k : public ::testing::Test {
protected:
    void SetUp() override {
        image = test::ImagePath("exfat-4k");
        if (image.empty()) GTEST_SKIP() << "image not committed";
        std::ifstream in(image, std::ios::binary | std::ios::ate);
        bytes.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Parses bytes (patched or not) in memory.
    std::unique_ptr<ExFatParser> Parse(std::vector<std::uint8_t> b) {
        readers.push_back(std::make_unique<MemoryReader>(std::move(b)));
        auto p = std::make_unique<ExFatParser>(LinksFor(*readers.back(), prompter));
        EXPECT_TRUE(p->Scan(RecoveryMode::Standard));
        return p;
    }
    RowId Find(const FileSystemParser& p, const std::string& path) {
        auto all = test::ListParser(p);
        auto it = all.find(path);
        return it == all.end() ? kNoRow : it->second.row;
    }
    std::string image;
    std::vector<std::uint8_t> bytes;
    std::vector<std::unique_ptr<MemoryReader>> readers;
    RecordingPrompter prompter;
};

TEST_F(ExFat4k, ShowsSizesTimesAndTheFullLongName) {
    auto p = Parse(bytes);
    RowId f1 = Find(*p, "f1.bin");
    ASSERT_NE(f1, kNoRow);
    EntryInfo info = p->Info(f1);
    EXPECT_EQ(info.size, 40960u);
    EXPECT_EQ(IsoText(info.modified), "2024-06-01T11:01:00Z") << "the UTC offset is applied";
    EXPECT_EQ(p->FormatTimes(f1).modified, "06/01/2024  11:01 AM");
    EXPECT_EQ(p->FormatSize(f1), "40.00 KB");
    std::string longName(251, 'L');
    EXPECT_NE(Find(*p, longName + ".txt"), kNoRow) << "a 255-character name is whole";
    RowId many = Find(*p, "many");
    EXPECT_EQ(p->CountFiles(many), 1000u) << "a folder of many clusters is read whole";
    test::TempDir out;
    OutputWriter writer(out.path().string());
    ASSERT_EQ(p->ExtractFile(f1, writer, writer.Root()), ExtractStatus::Ok);
    struct stat st {};
    ASSERT_EQ(::stat((out / "f1.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, CivilToSeconds(2024, 6, 1, 11, 1, 0));
}

// The stream entry of a file's set, and the set's first slot, found by name.
struct SetPlace {
    std::size_t fileEntry = 0;
    std::size_t slots = 0;
};

SetPlace FindSet(const std::vector<std::uint8_t>& bytes, const std::string& ascii) {
    std::u16string units(ascii.begin(), ascii.end());
    for (std::size_t at = 0; at + 96 <= bytes.size(); at += 32) {
        if (bytes[at] != 0x85 || bytes[at + 64] != 0xC1) continue;
        bool same = true;
        for (std::size_t i = 0; i < units.size() && same; ++i)
            same = bytes[at + 66 + 2 * i] == units[i] && bytes[at + 67 + 2 * i] == 0;
        if (same) return {at, std::size_t(bytes[at + 1]) + 1};
    }
    return {};
}

TEST_F(ExFat4k, ZerosPastTheValidDataLength) {
    SetPlace set = FindSet(bytes, "sparse.txt");
    ASSERT_NE(set.fileEntry, 0u);
    // Valid data length 6 of 100000 bytes, as a driver that zeroes lazily leaves it.
    std::size_t stream = set.fileEntry + 32;
    for (int i = 0; i < 8; ++i) bytes[stream + 8 + i] = i == 0 ? 6 : 0;
    std::uint16_t sum = EntrySetChecksum(ByteView(bytes), set.fileEntry, set.slots);
    bytes[set.fileEntry + 2] = sum & 0xFF;
    bytes[set.fileEntry + 3] = sum >> 8;
    // Junk in the file's clusters past the valid length must not come out.
    std::uint64_t heap = std::uint64_t(ByteView(bytes).Le32(88)) * 512;
    std::uint64_t cluster = heap + (std::uint64_t(ByteView(bytes).Le32(stream + 20)) - 2) * 4096;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(cluster + 6), bytes.begin() + static_cast<std::ptrdiff_t>(cluster + 4096), 'J');
    auto p = Parse(bytes);
    RowId row = Find(*p, "sparse.txt");
    ASSERT_NE(row, kNoRow);
    EXPECT_EQ(p->Info(row).size, 100000u) << "the size is the data length";
    test::TempDir out;
    OutputWriter writer(out.path().string());
    ASSERT_EQ(p->ExtractFile(row, writer, writer.Root()), ExtractStatus::Ok);
    std::string data = Slurp(out / "sparse.txt");
    ASSERT_EQ(data.size(), 100000u);
    EXPECT_EQ(data.substr(0, 6), "short\n");
    EXPECT_EQ(data.find_first_not_of('\0', 6), std::string::npos);
}

TEST_F(ExFat4k, ALoopingFolderChainAndAnOverlongSetEndCleanly) {
    auto clean = Parse(bytes);
    RowId many = Find(*clean, "many");
    ASSERT_NE(many, kNoRow);
    const auto& dir = clean->Entries()[many];
    ASSERT_EQ(dir.secondaryFlags & 2, 0) << "the folder is FAT-chained";
    std::uint64_t fat = std::uint64_t(ByteView(bytes).Le32(80)) * 512;
    // Walk its chain to the last cluster and point that back at the first.
    std::uint32_t c = dir.firstCluster, last = c;
    for (int guard = 0; guard < 100 && c < 0xFFFFFFF7; ++guard) {
        last = c;
        c = ByteView(bytes).Le32(fat + 4 * c);
    }
    std::vector<std::uint8_t> looped = bytes;
    for (int i = 0; i < 4; ++i) looped[fat + 4 * last + i] = (dir.firstCluster >> (8 * i)) & 0xFF;
    auto p = Parse(looped);
    EXPECT_EQ(p->CountFiles(Find(*p, "many")), 1000u) << "each cluster is read once";

    // A set claiming 255 secondary entries is cut where its entries end.
    std::vector<std::uint8_t> overlong = bytes;
    SetPlace set = FindSet(overlong, "f1.bin");
    ASSERT_NE(set.fileEntry, 0u);
    overlong[set.fileEntry + 1] = 0xFF;
    auto q = Parse(overlong);
    RowId f1 = Find(*q, "f1.bin");
    ASSERT_NE(f1, kNoRow);
    EXPECT_TRUE(q->Entries()[f1].damaged);
    EXPECT_NE(Find(*q, "frag.bin"), kNoRow) << "the next set is still read";
}

TEST_F(ExFat4k, RefusesWhatIsNotExFat) {
    std::vector<std::uint8_t> spoiled = bytes;
    spoiled[3] = 'N';
    MemoryReader reader(spoiled);
    ExFatParser p(LinksFor(reader, prompter));
    EXPECT_FALSE(p.Scan(RecoveryMode::Standard));
    ASSERT_EQ(prompter.informed.size(), 1u);
    EXPECT_EQ(prompter.informed[0].step, Step::NotThisFileSystem);
    EXPECT_EQ(prompter.informed[0].kind, "exfat");
}

TEST_F(ExFat4k, CorruptDirectoriesNeverCrash) {
    // Overwrite the heap's directory clusters with patterns of set-like bytes.
    std::uint64_t heap = std::uint64_t(ByteView(bytes).Le32(88)) * 512;
    for (std::uint8_t fill : {0x85, 0xC1, 0xFF, 0x05}) {
        std::vector<std::uint8_t> b = bytes;
        for (std::size_t i = heap; i < heap + 64 * 4096 && i < b.size(); i += 7) b[i] = fill;
        auto p = Parse(b);
        EXPECT_LE(p->RowCount(), 64u * 4096 / 32 + 2000);
    }
}

}  // namespace
}  // namespace tarnwell
