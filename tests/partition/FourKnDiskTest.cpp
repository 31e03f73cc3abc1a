// A GPT disk of 4096-byte logical sectors with FAT32, NTFS, exFAT and ext4
// volumes, made on a 4 KiB loop device by the real tools: the table scan must
// find each partition where mmls does, in the disk's own sectors, and each
// volume must list and give back what fls and icat give.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "device/FileReader.h"
#include "fs/FileSystemRegistry.h"
#include "fs/OutputWriter.h"
#include "partition/PartitionScanner.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

struct Partition {
    std::uint64_t start, length;
};

// The partitions of a recorded mmls listing ("004:  000  0000000256  0000066815  0000066560  fat32").
std::vector<Partition> ParseMmls(const std::string& text) {
    std::vector<Partition> parts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::string slot, kind;
        std::uint64_t start = 0, end = 0, length = 0;
        if (!(f >> slot >> kind >> start >> end >> length)) continue;
        if (kind == "Meta" || kind.find('-') != std::string::npos) continue;
        parts.push_back({start, length});
    }
    return parts;
}

std::string Output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    if (!pipe) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
    return out;
}

class FourKnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        image = test::ImagePath("gpt-4kn");
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(reader.Open(image));
        scanner.ScanPartitionTables(reader);
    }
    std::string image;
    FileReader reader;
    PartitionScanner scanner;
};

TEST_F(FourKnDisk, TheTableScanListsThePartitionsMmlsListsInFourKiBSectors) {
    test::UnchangedGuard unchanged(image);
    std::vector<Partition> recorded = ParseMmls(test::ReadImageFile("gpt-4kn.mmls"));
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[0].start, 256u) << "the recorded view is in 4096-byte units";
    if (test::HaveSleuthKit()) {
        std::vector<Partition> live = ParseMmls(Output("mmls -b 4096 '" + image + "' 2>/dev/null"));
        ASSERT_EQ(live.size(), recorded.size());
        for (std::size_t i = 0; i < live.size(); ++i) EXPECT_EQ(live[i].start, recorded[i].start);
    }
    const auto& rows = scanner.Entries();
    ASSERT_EQ(rows.size(), recorded.size());
    const char* kinds[] = {"FAT32", "NTFS", "exFAT", "ext4"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].sectorSize, 4096u);
        EXPECT_EQ(std::uint64_t(rows[i].startSector), recorded[i].start);
        EXPECT_EQ(rows[i].sectorCount, recorded[i].length);
        EXPECT_EQ(rows[i].fileSystem, kinds[i]);
    }
    EXPECT_EQ(SourceSectorSize(reader), 4096u);
}

TEST_F(FourKnDisk, EveryVolumeListsWhatFlsListsAndGivesTheBytesIcatGives) {
    test::UnchangedGuard unchanged(image);
    const std::string fls = test::ReadImageFile("gpt-4kn.fls");
    for (const VolumeEntry& v : scanner.Entries()) {
        SCOPED_TRACE(v.fileSystem);
        SilentPrompter quiet;
        ParserLinks links;
        links.volume = v;
        links.view = ViewOf(reader, v);
        links.prompter = &quiet;
        auto parser = MakeParser(v.fileSystem, links);
        ASSERT_TRUE(parser);
        ASSERT_TRUE(parser->Scan(RecoveryMode::Standard));
        auto ours = test::ListParser(*parser);
        auto theirs = test::ParseFls(fls, v.startSector);
        ASSERT_FALSE(theirs.empty());
        int files = 0;
        test::TempDir out;
        OutputWriter writer(out.path().string());
        for (const auto& [path, entry] : theirs) {
            // fls's own folder of lost records, and NTFS named streams, which are no rows.
            if (path.rfind("$OrphanFiles", 0) == 0 || path.find(':') != std::string::npos) continue;
            auto it = ours.find(path);
            ASSERT_NE(it, ours.end()) << path << " is missing";
            EXPECT_EQ(it->second.deleted, entry.deleted) << path;
            EXPECT_EQ(it->second.folder, entry.folder) << path;
            if (entry.folder || path.find('$') != std::string::npos) continue;
            ++files;
            // The committed content, and icat's where The Sleuth Kit is there (-o in 512-byte sectors).
            const std::string bytes = test::ExtractedBytes(*parser, it->second.row);
            if (path == "docs/data.bin") EXPECT_EQ(bytes.size(), 20000u);
            if (path == "root.txt") EXPECT_EQ(bytes, "kept at the root\n");
            if (test::HaveSleuthKit() && !entry.deleted)
                EXPECT_EQ(bytes, test::Icat(image, entry.inode, v.startSector * 8)) << path;
        }
        EXPECT_GE(files, 3) << "docs/note.txt, docs/data.bin, root.txt";
    }
}

}  // namespace
}  // namespace tarnwell
