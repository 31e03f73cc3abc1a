// The damaged images of other projects' test suites (../shared/fixtures)
// through the advanced scans: each ends, its tree has no cycle, and every
// file it lists can be extracted.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/FileReader.h"
#include "fs/FileSystemRegistry.h"
#include "support/GzipImage.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

// Larger ones only repeat the same layouts at more cost.
constexpr std::uint64_t kMaxRawBytes = 300ull << 20;

struct PublicImage {
    std::string path;  // relative to the fixtures folder
    std::vector<std::string> kinds;
};

std::vector<PublicImage> Images(const std::string& root) {
    std::vector<PublicImage> out;
    std::ifstream manifest(root + "/MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        std::vector<std::string> cols;
        std::stringstream row(line);
        for (std::string c; std::getline(row, c, '\t');) cols.push_back(c);
        if (cols.size() < 5 || cols[0].find(".txt") != std::string::npos || cols[0].find(".tsv") != std::string::npos)
            continue;
        const std::uint64_t raw = std::strtoull(cols[4].c_str(), nullptr, 10);
        if (raw == 0 || raw > kMaxRawBytes) continue;
        const std::string tsk = cols.size() > 6 ? cols[6] : "";
        const std::string folder = cols[0].substr(0, cols[0].find('/'));
        PublicImage image{cols[0], {}};
        if (folder == "dosfstools" || folder == "rust-fatfs") {
            if (tsk.find("FAT32") == std::string::npos) image.kinds.push_back("FAT16");
            if (tsk.find("FAT12") == std::string::npos && tsk.find("FAT16") == std::string::npos)
                image.kinds.push_back("FAT32");
        } else if (folder == "exfatprogs") {
            image.kinds = {"exFAT"};
        } else if (folder == "ntfs-rs") {
            image.kinds = {"NTFS"};
        }
        if (!image.kinds.empty()) out.push_back(image);
    }
    return out;
}

class NullSink final : public FileSink {
public:
    bool Write(const void*, std::size_t size) override {
        written += size;
        return written < (64u << 20);
    }
    std::size_t written = 0;
};

void ScanAndWalk(SectorReader& reader, const std::string& kind, const AdvancedChoice& pick) {
    RecordingPrompter prompter;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    links.volume.fileSystem = kind;
    links.volume.sectorCount = reader.deviceSectorCount();
    links.advanced = pick;
    auto parser = MakeParser(kind, links);
    ASSERT_TRUE(parser);
    if (!parser->Scan(RecoveryMode::Advanced)) {
        EXPECT_FALSE(prompter.informed.empty()) << "a refusal says why";
        return;
    }
    std::vector<RowId> pending{parser->Root()};
    std::uint64_t visited = 0;
    while (!pending.empty()) {
        RowId folder = pending.back();
        pending.pop_back();
        for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
            ASSERT_LE(++visited, parser->RowCount()) << "a row is reached twice: the tree has a cycle";
            EntryInfo e = parser->Info(r);
            if (e.folder) {
                pending.push_back(r);
            } else {
                NullSink sink;
                parser->ExtractData(r, sink);
            }
        }
    }
}

TEST(AdvancedPublicFixtures, DamagedImagesEndWithAnAcyclicTree) {
    const std::string root = test::FixturesRoot();
    if (root.empty()) GTEST_SKIP() << "no public fixtures";
    const auto images = Images(root);
    ASSERT_FALSE(images.empty());
    AdvancedChoice other;  // the second entry of every list
    other.max = 4;
    other.table = other.cluster = other.heap = 1;
    for (const PublicImage& image : images) {
        SCOPED_TRACE(image.path);
        const std::string full = root + "/" + image.path;
        std::unique_ptr<SectorReader> reader;
        test::TempDir unpacked;
        if (image.path.size() > 7 && image.path.compare(image.path.size() - 7, 7, ".tar.xz") == 0) {
            const std::string cmd = "tar -xJf '" + full + "' -C '" + unpacked.path().string() + "'";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            fs::path file;
            for (const auto& e : fs::recursive_directory_iterator(unpacked.path()))
                if (e.is_regular_file()) file = e.path();
            auto f = std::make_unique<FileReader>();
            ASSERT_TRUE(f->Open(file.string()));
            reader = std::move(f);
        } else {
            auto g = std::make_unique<test::GzipImage>();
            ASSERT_TRUE(g->Open(full));
            reader = std::move(g);
        }
        test::UnchangedGuard unchanged(full);
        for (const std::string& kind : image.kinds) {
            SCOPED_TRACE(kind);
            ScanAndWalk(*reader, kind, AdvancedChoice{});
            ScanAndWalk(*reader, kind, other);
        }
    }
}

}  // namespace
}  // namespace tarnwell
