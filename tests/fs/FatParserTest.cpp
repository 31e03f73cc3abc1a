// The FAT parsers on hand-made volumes: the corner cases of the boot sector, table, walk and extraction
// and the faults issue 4 lists.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "device/MemoryReader.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/fat/FatDirectory.h"
#include "fs/FileSystemRegistry.h"
#include "fs/RecycleIndex.h"
#include "support/FatFixture.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::FatFixture;

class StringSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

struct Parsed {
    MemoryReader reader;
    RecordingPrompter prompter;
    std::unique_ptr<FileSystemParser> parser;
    bool scanned = false;

    Parsed(const FatFixture& f, const std::string& kind, bool formatted = false,
           RecoveryMode mode = RecoveryMode::Standard)
        : reader(f.bytes) {
        ParserLinks links;
        links.view = VolumeView(reader);
        links.volume.fileSystem = kind;
        links.prompter = &prompter;
        links.driveFormatted = formatted;
        parser = MakeParser(kind, links);
        scanned = parser && parser->Scan(mode);
    }

    FatParser& Fat() { return static_cast<FatParser&>(*parser); }

    // Every row below the root by path, as the tree links give them.
    std::map<std::string, EntryInfo> Rows() {
        std::map<std::string, EntryInfo> rows;
        Walk(parser->Root(), "", rows, 0);
        return rows;
    }
    void Walk(RowId folder, const std::string& path, std::map<std::string, EntryInfo>& rows, int depth) {
        ASSERT_LT(depth, 64) << "the tree is too deep: a loop?";
        for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
            EntryInfo e = parser->Info(r);
            std::string p = path.empty() ? e.name : path + "/" + e.name;
            std::string key = p;
            for (int n = 2; rows.count(key); ++n) key = p + " #" + std::to_string(n);
            rows[key] = e;
            if (e.folder) Walk(r, p, rows, depth + 1);
        }
    }

    std::string Data(const std::string& path, ExtractStatus* status = nullptr) {
        std::map<std::string, RowId> ids;
        for (auto& [p, e] : Rows()) ids[p] = e.id;
        StringSink sink;
        ExtractStatus s = parser->ExtractData(ids.at(path), sink);
        if (status) *status = s;
        return sink.bytes;
    }
};

std::string Pattern(char c, std::size_t n) { return std::string(n, c); }

TEST(FatParser, RefusesTheWrongKindAndTheModesItCannotRun) {
    FatFixture f16 = FatFixture::Fat16();
    Parsed asFat32(f16, "FAT32");
    EXPECT_FALSE(asFat32.scanned);
    ASSERT_EQ(asFat32.prompter.informed.size(), 1u);
    EXPECT_EQ(asFat32.prompter.informed[0].step, Step::NotThisFileSystem);
    EXPECT_EQ(asFat32.prompter.informed[0].kind, "fat32");
    EXPECT_EQ(asFat32.prompter.informed[0].found, "fat16");

    FatFixture f32 = FatFixture::Fat32();
    Parsed asFat16(f32, "FAT16");
    EXPECT_FALSE(asFat16.scanned);
    ASSERT_EQ(asFat16.prompter.informed.size(), 1u);
    EXPECT_EQ(asFat16.prompter.informed[0].step, Step::NotThisFileSystem);
    EXPECT_EQ(asFat16.prompter.informed[0].kind, "fat16");
    EXPECT_EQ(asFat16.prompter.informed[0].found, "fat32");
    // FAT12 is read by the FAT16 parser, but the refusal names what was asked.
    Parsed asFat12(f32, "FAT12");
    ASSERT_EQ(asFat12.prompter.informed.size(), 1u);
    EXPECT_EQ(asFat12.prompter.informed[0].kind, "fat12");
    EXPECT_EQ(asFat12.prompter.informed[0].found, "fat32");

    Parsed deep(f32, "FAT32", false, RecoveryMode::Deep);
    EXPECT_FALSE(deep.scanned);
    ASSERT_EQ(deep.prompter.informed.size(), 1u);
    EXPECT_EQ(deep.prompter.informed[0].step, Step::FatModeNotAvailable);
    EXPECT_EQ(deep.prompter.informed[0].name, "deep");
    EXPECT_EQ(ReasonOf(deep.prompter.informed[0].step), Reason::ModeNotAvailable);

    FatFixture zero = FatFixture::Fat16();
    zero.bytes[510] = 0;  // no boot sector at all
    Parsed none(zero, "FAT16");
    EXPECT_FALSE(none.scanned);
}

TEST(FatParser, FactoryNamesAndTheBootSectorProbe) {
    FatFixture f16 = FatFixture::Fat16(), f32 = FatFixture::Fat32();
    Parsed a(f16, "fat16"), b(f32, "Fat32"), c(f16, "FAT"), d(f32, "FAT"), e(f16, "FAT12");
    EXPECT_TRUE(a.scanned);
    EXPECT_TRUE(b.scanned);
    EXPECT_TRUE(c.scanned) << "a mounted FAT volume is told apart by its boot sector";
    EXPECT_TRUE(d.scanned);
    EXPECT_NE(dynamic_cast<Fat16Parser*>(c.parser.get()), nullptr);
    EXPECT_NE(dynamic_cast<Fat32Parser*>(d.parser.get()), nullptr);
    EXPECT_TRUE(e.scanned) << "Fat16Parser reads FAT12 and FAT16 alike";
    EXPECT_EQ(b.parser->Info(b.parser->Root()).name, "ROOT");
}

TEST(FatParser, Fat32RootStartsAtTheBootSectorsRootClusterAndFollowsItsChain) {
    FatFixture f = FatFixture::Fat32(7);
    f.Chain({7, 20});
    // Cluster 2 holds what looks like a root: it must not be read as one.
    f.Entry(f.ClusterOffset(2), "DECOY   TXT", 0x20, 30, 5);
    for (int i = 0; i < 16; ++i) f.Entry(f.ClusterOffset(7) + 32 * i, "FIRST" + std::to_string(i), 0x20, 0, 0);
    f.Entry(f.ClusterOffset(20), "SECOND  TXT", 0x20, 31, 5);
    f.Chain({31});
    Parsed p(f, "FAT32");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    EXPECT_EQ(rows.size(), 17u);
    EXPECT_TRUE(rows.count("FIRST0"));
    EXPECT_TRUE(rows.count("SECOND.TXT")) << "the root's second cluster comes from the table";
    EXPECT_FALSE(rows.count("DECOY.TXT"));
}

TEST(FatParser, Fat32TableValuesAreMaskedAndBadClustersEndAChain) {
    FatFixture f = FatFixture::Fat32();
    f.Entry(f.RootOffset(), "MASKED  BIN", 0x20, 10, 1536);
    f.SetFat(10, 0xF000000B);  // top four bits are reserved
    f.SetFat(11, 0xA000000C);
    f.SetFat(12, 0x0FFFFFF8);  // any of F8..FF ends a chain
    f.Fill(10, 'a');
    f.Fill(11, 'b');
    f.Fill(12, 'c');
    f.Entry(f.RootOffset() + 32, "BAD     BIN", 0x20, 14, 1536);
    f.SetFat(14, 0x0FFFFFF7);  // a bad cluster in the middle of the chain
    f.Fill(14, 'x');
    Parsed p(f, "FAT32");
    ASSERT_TRUE(p.scanned);
    ExtractStatus s;
    EXPECT_EQ(p.Data("MASKED.BIN", &s), Pattern('a', 512) + Pattern('b', 512) + Pattern('c', 512));
    EXPECT_EQ(s, ExtractStatus::Ok);
    EXPECT_EQ(p.Data("BAD.BIN", &s), Pattern('x', 512));
    EXPECT_EQ(s, ExtractStatus::Partial);
}

TEST(FatParser, ALoopInAFileChainEndsWithoutAHang) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "LOOP    BIN", 0x20, 2, 10 * 512);
    f.SetFat(2, 3);
    f.SetFat(3, 2);  // 2 -> 3 -> 2 -> ...
    f.Fill(2, '2');
    f.Fill(3, '3');
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    ExtractStatus s;
    EXPECT_EQ(p.Data("LOOP.BIN", &s), Pattern('2', 512) + Pattern('3', 512)) << "no cluster twice";
    EXPECT_EQ(s, ExtractStatus::Partial);
    // A second extraction guards its own chain: the guard is per chain.
    EXPECT_EQ(p.Data("LOOP.BIN", &s).size(), 1024u);
}

TEST(FatParser, AFolderThatContainsItsOwnAncestorEndsWithoutAHang) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "A", 0x10, 4, 0);
    f.Chain({4});
    f.Dots(4, 0);
    f.Entry(f.ClusterOffset(4) + 64, "B", 0x10, 5, 0);
    f.Chain({5});
    f.Dots(5, 4);
    f.Entry(f.ClusterOffset(5) + 64, "BACKTOA", 0x10, 4, 0);  // A again
    f.Entry(f.ClusterOffset(5) + 96, "SELF", 0x10, 5, 0);     // B itself
    f.Entry(f.ClusterOffset(5) + 128, "FILE    TXT", 0x20, 0, 0);
    // A folder whose chain loops: 6 -> 7 -> 6.
    f.Entry(f.RootOffset() + 32, "C", 0x10, 6, 0);
    f.SetFat(6, 7);
    f.SetFat(7, 6);
    f.Dots(6, 0);
    for (int i = 2; i < 16; ++i) f.Entry(f.ClusterOffset(6) + 32 * i, "IN6_" + std::to_string(i), 0x20, 0, 0);
    for (int i = 0; i < 16; ++i) f.Entry(f.ClusterOffset(7) + 32 * i, "IN7_" + std::to_string(i), 0x20, 0, 0);
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    EXPECT_TRUE(rows.count("A/B/BACKTOA"));
    EXPECT_TRUE(rows.count("A/B/SELF"));
    EXPECT_TRUE(rows.count("A/B/FILE.TXT"));
    EXPECT_FALSE(rows.count("A/B/BACKTOA/B")) << "an ancestor is not read again";
    EXPECT_TRUE(rows.count("C/IN6_15"));
    EXPECT_TRUE(rows.count("C/IN7_15")) << "the folder's second cluster is read once";
    EXPECT_EQ(rows.size(), 5u + 1u + 14u + 16u);
    EXPECT_EQ(p.parser->CountFiles(p.parser->Root()), 1u + 14u + 16u);
}

TEST(FatParser, EveryFileAndFolderIsShownWhateverItsOtherAttributes) {
    FatFixture f = FatFixture::Fat16();
    std::uint64_t at = f.RootOffset();
    f.Entry(at, "VOLUMELABEL", 0x08, 0, 0);
    const std::pair<const char*, std::uint8_t> entries[] = {
        {"RO      TXT", 0x21}, {"HIDDEN  SYS", 0x27}, {"NOATTR  TXT", 0x00},
        {"HDIR", 0x12},        {"SDIR", 0x16},        {"WEIRD", 0x32},  // directory, hidden, archive
    };
    std::uint32_t cluster = 10;
    for (const auto& [name, attr] : entries) {
        at += 32;
        f.Entry(at, name, attr, cluster, (attr & 0x10) ? 0 : 3);
        f.Chain({cluster});
        if (attr & 0x10) f.Dots(cluster, 0);
        ++cluster;
    }
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    EXPECT_EQ(rows.size(), 6u) << "the label is no row of its own";
    EXPECT_FALSE(rows.at("RO.TXT").folder);
    EXPECT_EQ(rows.at("RO.TXT").attributes, "-R-A");
    EXPECT_EQ(rows.at("HIDDEN.SYS").attributes, "-R-H-S-A");
    EXPECT_TRUE(rows.count("NOATTR.TXT"));
    EXPECT_TRUE(rows.at("HDIR").folder);
    EXPECT_TRUE(rows.at("SDIR").folder);
    EXPECT_TRUE(rows.at("WEIRD").folder) << "0x32 has the directory bit";
    EXPECT_EQ(p.Fat().VolumeLabel(), "VOLUMELABEL");
}

TEST(FatParser, LongNamesNeedTheirChecksumAndSequence) {
    FatFixture f = FatFixture::Fat16();
    std::u16string n255;
    for (int i = 0; i < 51; ++i) n255 += u"abcde";  // 255 characters, 20 slots
    std::uint64_t at = f.RootOffset();
    at = f.LongEntry(at, n255, "ABCDEA~1   ", 0x20, 0, 0);
    at = f.LongEntry(at, u"checksum is wrong.txt", "CHECKS~1TXT", 0x20, 0, 0, false, 1);
    at = f.LongEntry(at, u"a sequence with a gap in it.txt", "ASEQUE~1TXT", 0x20, 0, 0, false, 0, 2);
    at = f.LongEntry(at, u"Grüße – ünïcode.txt", "GRUE-U~1TXT", 0x20, 0, 0);
    f.Entry(at, "LOWER   TXT", 0x20, 0, 0, 0x18);
    f.Entry(at + 32, "BASELOW TXT", 0x20, 0, 0, 0x08);
    f.Entry(at + 64, "EXTLOW  TXT", 0x20, 0, 0, 0x10);
    f.Entry(at + 96, "\x05KANJI  TXT", 0x20, 0, 0);
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    std::string expected255;
    for (int i = 0; i < 51; ++i) expected255 += "abcde";
    EXPECT_TRUE(rows.count(expected255)) << "20 slots make a 255-character name";
    EXPECT_TRUE(rows.count("CHECKS~1.TXT")) << "a wrong checksum falls back to the short name";
    EXPECT_TRUE(rows.count("ASEQUE~1.TXT")) << "a gap in the sequence falls back to the short name";
    EXPECT_TRUE(rows.count("Grüße – ünïcode.txt"));
    EXPECT_TRUE(rows.count("lower.txt"));
    EXPECT_TRUE(rows.count("baselow.TXT"));
    EXPECT_TRUE(rows.count("EXTLOW.txt"));
    EXPECT_TRUE(rows.count("\xCF\x83KANJI.TXT")) << "0x05 stands for a first byte 0xE5 (CP437 sigma)";
    EXPECT_EQ(rows.size(), 8u);
}

TEST(FatParser, DeletedEntriesKeepOneRowEachAndShowAnUnderscore) {
    FatFixture f = FatFixture::Fat16();
    std::uint64_t at = f.RootOffset();
    // A deleted file and the live file that reused its start cluster.
    f.Entry(at, "\xE5OO     TXT", 0x20, 10, 700);
    f.Entry(at + 32, "NEW     TXT", 0x20, 10, 300);
    f.Chain({10});
    f.Fill(10, 'n');
    at = f.LongEntry(at + 64, u"a deleted long name.txt", "ADELET~1TXT", 0x20, 20, 1300, true);
    // Its clusters were freed; cluster 21 went to another file meanwhile.
    f.Fill(20, 'd');
    f.Fill(21, 'o');
    f.Fill(22, 'e');
    f.Fill(23, 'f');
    f.Entry(at, "OTHER   BIN", 0x20, 21, 512);
    f.Chain({21});
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    ASSERT_TRUE(rows.count("_OO.TXT"));
    EXPECT_TRUE(rows.at("_OO.TXT").deleted);
    ASSERT_TRUE(rows.count("NEW.TXT"));
    EXPECT_FALSE(rows.at("NEW.TXT").deleted);
    ASSERT_TRUE(rows.count("a deleted long name.txt")) << "a deleted long name whose checksum fits";
    EXPECT_TRUE(rows.at("a deleted long name.txt").deleted);

    ExtractStatus s;
    EXPECT_EQ(p.Data("NEW.TXT", &s), Pattern('n', 300));
    EXPECT_EQ(p.Data("_OO.TXT", &s), "");
    EXPECT_EQ(s, ExtractStatus::Failed) << "its first cluster holds another file's data now";
    EXPECT_EQ(p.Data("a deleted long name.txt", &s), Pattern('d', 512) + Pattern('e', 512) + Pattern('f', 276))
        << "the free clusters after the start cluster, skipping the one in use";
    EXPECT_EQ(s, ExtractStatus::Ok);
}

TEST(FatParser, DeletedFoldersAreReadWhileTheirClustersHoldEntries) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "\xE5OLDDIR", 0x10, 30, 0);
    f.Dots(30, 0);
    // 16 slots per cluster: the folder's entries run over into cluster 31;
    // cluster 32 is in use by a live file, 33 holds more entries, 34 data.
    for (int i = 2; i < 16; ++i) f.Entry(f.ClusterOffset(30) + 32 * i, "\xE5" "A" + std::to_string(i), 0x20, 0, 0);
    for (int i = 0; i < 16; ++i) f.Entry(f.ClusterOffset(31) + 32 * i, "\xE5" "B" + std::to_string(i), 0x20, 0, 0);
    f.Entry(f.RootOffset() + 32, "LIVE    BIN", 0x20, 32, 10);
    f.Chain({32});
    f.Fill(32, 0xFF);
    f.Entry(f.ClusterOffset(33), "\xE5" "C0", 0x20, 0, 0);
    f.Fill(34, 0x01);
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    ASSERT_TRUE(rows.count("_OLDDIR"));
    EXPECT_TRUE(rows.at("_OLDDIR").deleted);
    EXPECT_TRUE(rows.count("_OLDDIR/_A2"));
    EXPECT_TRUE(rows.count("_OLDDIR/_B15"));
    EXPECT_TRUE(rows.count("_OLDDIR/_C0")) << "the cluster in use is skipped";
    EXPECT_TRUE(rows.at("_OLDDIR/_C0").deleted);
    EXPECT_EQ(p.parser->CountFiles(rows.at("_OLDDIR").id), 14u + 16u + 1u);
}

TEST(FatParser, FormattedVolumesGiveTheFoldersOfTheEarlierFileSystem) {
    FatFixture f = FatFixture::Fat32();
    // The new root is empty; the old folder DCIM (cluster 40) was overwritten,
    // its subfolder 100CANON (41) and MISC (45) survive.
    f.Entry(f.RootOffset(), "NEW     TXT", 0x20, 40, 4);
    f.Chain({40});
    f.Dots(41, 40);
    f.Entry(f.ClusterOffset(41) + 64, "IMG_0001JPG", 0x20, 42, 1000);
    f.Fill(42, 'i');
    f.Fill(43, 'j');
    f.Dots(45, 0);
    f.LongEntry(f.ClusterOffset(45) + 64, u"Shopping list.txt", "SHOPPI~1TXT", 0x20, 46, 20);
    f.Fill(46, 's');
    Parsed plain(f, "FAT32");
    ASSERT_TRUE(plain.scanned);
    EXPECT_EQ(plain.Rows().size(), 1u) << "without --formatted only the present file system";

    Parsed p(f, "FAT32", true);
    ASSERT_TRUE(p.scanned);
    auto rows = p.Rows();
    ASSERT_TRUE(rows.count("ORPHAN ENTRY/IMG_0001.JPG"));
    EXPECT_TRUE(rows.at("ORPHAN ENTRY/IMG_0001.JPG").deleted);
    EXPECT_TRUE(rows.at("ORPHAN ENTRY/IMG_0001.JPG").orphan);
    ASSERT_TRUE(rows.count("ORPHAN ENTRY/Shopping list.txt"));
    ExtractStatus s;
    EXPECT_EQ(p.Data("ORPHAN ENTRY/IMG_0001.JPG", &s), Pattern('i', 512) + Pattern('j', 488));
    EXPECT_EQ(s, ExtractStatus::Ok);
    EXPECT_EQ(p.Data("ORPHAN ENTRY/Shopping list.txt"), Pattern('s', 20));
}

TEST(FatParser, TimesAreLocalAndTextsFollowThePart) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "TIMES   TXT", 0x27, 0, 1048576);
    f.bytes[f.RootOffset() + 13] = 150;  // 1.5 s past the creation time
    Parsed p(f, "FAT16");
    ASSERT_TRUE(p.scanned);
    RowId row = p.parser->FirstChild(p.parser->Root());
    EntryInfo e = p.parser->Info(row);
    EXPECT_FALSE(e.modified.utc) << "DOS times are local times";
    EXPECT_EQ(IsoText(e.modified), "2024-06-01T12:30:10");
    EXPECT_EQ(IsoText(e.created), "2024-06-01T12:30:11.5");
    EXPECT_EQ(IsoText(e.accessed), "2024-06-01T00:00:00");
    DetailTexts t = p.parser->FormatTimes(row);
    EXPECT_EQ(t.modified, "06/01/2024  12:30 PM");
    EXPECT_EQ(t.accessed, "06/01/2024 ");
    EXPECT_EQ(t.attributes, "-R-H-S-A");
    EXPECT_EQ(p.parser->FormatSize(row), "1.00 MB");
}

TEST(FatParser, StopKeepsWhatWasFound) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "A", 0x10, 4, 0);
    f.Chain({4});
    f.Dots(4, 0);
    f.Entry(f.ClusterOffset(4) + 64, "INNER   TXT", 0x20, 0, 0);
    MemoryReader reader(f.bytes);
    JobControl control;
    control.RequestStop();
    ParserLinks links;
    links.view = VolumeView(reader);
    links.control = &control;
    SilentPrompter quiet;
    links.prompter = &quiet;
    Fat16Parser parser(links);
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
    EXPECT_EQ(parser.RowCount(), 2u) << "the root and its folder, not what is inside";
}

TEST(FatParser, UnreadableSectorsAreCountedAndTheCopyOfTheTableStandsIn) {
    FatFixture f = FatFixture::Fat16();
    f.Entry(f.RootOffset(), "DATA    BIN", 0x20, 2, 1024);
    f.Chain({2, 3});
    f.Fill(2, 'a');
    f.Fill(3, 'b');
    MemoryReader reader(f.bytes);
    reader.MarkBad(f.FatOffset(0) / 512);  // the first sector of the first FAT
    reader.MarkBad(f.ClusterOffset(3) / 512);
    ParserLinks links;
    links.view = VolumeView(reader);
    SilentPrompter quiet;
    links.prompter = &quiet;
    Fat16Parser parser(links);
    ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
    RowId row = parser.FirstChild(parser.Root());
    StringSink sink;
    EXPECT_EQ(parser.ExtractData(row, sink), ExtractStatus::Partial);
    EXPECT_EQ(sink.bytes, Pattern('a', 512) + std::string(512, '\0')) << "the chain came from the second FAT";
    EXPECT_EQ(reader.FailedSectors(), 2u);
}

// Damaged volumes of every kind: random bytes of the boot sector, the tables
// and the first directories changed. Each must be read, listed and extracted
// without a crash, a hang or a runaway allocation (the sanitizer build runs
// this too).
TEST(FatParser, RandomDamageNeverHurts) {
    std::string image = test::ImagePath("fat12-floppy");
    ASSERT_FALSE(image.empty());
    MemoryReader original;
    ASSERT_TRUE(original.Open(image));
    std::vector<std::vector<std::uint8_t>> bases = {original.Bytes(), FatFixture::Fat32().bytes};
    std::mt19937 random(20240601);
    int scanned = 0;
    std::uint64_t totalRows = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes = bases[round % 2];
        std::size_t span = std::min<std::size_t>(bytes.size(), 64 * 1024);
        int changes = 1 + static_cast<int>(random() % 64);
        for (int i = 0; i < changes; ++i) {
            std::size_t at = random() % span;
            // Spare the boot sector's signature now and then, so that most
            // rounds get past it.
            if ((at == 510 || at == 511) && round % 4 != 0) continue;
            bytes[at] = static_cast<std::uint8_t>(random());
        }
        MemoryReader reader(bytes);
        SilentPrompter quiet;
        ParserLinks links;
        links.view = VolumeView(reader);
        links.prompter = &quiet;
        links.driveFormatted = round % 3 == 0;
        auto parser = MakeParser("FAT", links);
        if (!parser->Scan(RecoveryMode::Standard)) continue;
        ++scanned;
        totalRows += parser->RowCount();
        std::uint64_t rows = parser->RowCount(), seen = 0;
        std::vector<RowId> pending{parser->Root()};
        while (!pending.empty()) {
            RowId folder = pending.back();
            pending.pop_back();
            for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
                ASSERT_LE(++seen, rows) << "round " << round << ": the tree reaches a row twice";
                EntryInfo e = parser->Info(r);
                if (e.folder) {
                    pending.push_back(r);
                } else {
                    StringSink sink;
                    parser->ExtractData(r, sink);
                    EXPECT_LE(sink.bytes.size(), e.size);
                }
                parser->FormatTimes(r);
            }
        }
    }
    EXPECT_GT(scanned, 100) << "most rounds get past the boot sector";
    EXPECT_GT(totalRows, 1000u);
}

TEST(FatDirectory, ShortNamesAndChecksums) {
    auto slot = [](const std::string& name11, std::uint8_t flags) {
        std::vector<std::uint8_t> s(32, 0);
        std::memcpy(s.data(), name11.data(), 11);
        s[11] = 0x20;
        s[12] = flags;
        return s;
    };
    EXPECT_EQ(FormatShortName(slot("FOO     TXT", 0)), "FOO.TXT");
    EXPECT_EQ(FormatShortName(slot("README     ", 0)), "README");
    EXPECT_EQ(FormatShortName(slot("A       B  ", 0)), "A.B");
    EXPECT_EQ(FormatShortName(slot("\xE5OO     TXT", 0)), "_OO.TXT");
    EXPECT_EQ(FormatShortName(slot("NOTES   TXT", 0x18)), "notes.txt");
    const std::uint8_t name[] = {'F', 'O', 'O', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T'};
    EXPECT_EQ(ShortNameChecksum(name), FatFixture::Checksum("FOO     TXT"));
}

TEST(RecycleBin, BothIndexVersions) {
    auto utf16 = [](const std::u16string& s) {
        std::vector<std::uint8_t> b;
        for (char16_t c : s) {
            b.push_back(static_cast<std::uint8_t>(c & 0xFF));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        return b;
    };
    std::vector<std::uint8_t> v1(544, 0);
    v1[0] = 1;
    auto p1 = utf16(u"C:\\Users\\x\\notes.txt");
    std::copy(p1.begin(), p1.end(), v1.begin() + 24);
    ASSERT_TRUE(ParseRecycleIndex(v1));
    EXPECT_EQ(*ParseRecycleIndex(v1), "C:\\Users\\x\\notes.txt");
    EXPECT_EQ(WindowsFileName(*ParseRecycleIndex(v1)), "notes.txt");

    std::vector<std::uint8_t> v2(28, 0);
    v2[0] = 2;
    auto p2 = utf16(u"D:\\Fotos\\Sommer 2023.jpg");
    v2[24] = static_cast<std::uint8_t>(p2.size() / 2 + 1);
    v2.insert(v2.end(), p2.begin(), p2.end());
    v2.push_back(0);
    v2.push_back(0);
    ASSERT_TRUE(ParseRecycleIndex(v2));
    EXPECT_EQ(WindowsFileName(*ParseRecycleIndex(v2)), "Sommer 2023.jpg");

    v2[24] = 200;  // longer than the file
    EXPECT_FALSE(ParseRecycleIndex(v2));
    v2[0] = 3;
    EXPECT_FALSE(ParseRecycleIndex(v2));
    EXPECT_EQ(WindowsFileName("plain"), "plain");
}

}  // namespace
}  // namespace tarnwell
