// The FAT parsers on the images of tests/images, against The Sleuth Kit's view
// of each recorded by the image script (NAME.fls): every live file and every
// deleted entry that `fls -r -p` lists is listed under the same path with the
// same deleted mark, and nothing is listed that fls does not know.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "device/FileReader.h"
#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

struct Row {
    std::string path;
    bool dir = false;
    bool deleted = false;
    bool operator<(const Row& o) const { return std::tie(path, dir, deleted) < std::tie(o.path, o.dir, o.deleted); }
    bool operator==(const Row& o) const { return path == o.path && dir == o.dir && deleted == o.deleted; }
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
    return out << (r.dir ? "d " : "- ") << (r.deleted ? "* " : "  ") << r.path;
}

// The rows fls lists for the volume at offset (sectors), without the volume
// label and TSK's virtual files; orphans under "$OrphanFiles" apart.
std::vector<Row> FlsRows(const std::string& text, std::int64_t offset, std::vector<Row>* orphans = nullptr) {
    std::vector<Row> rows;
    std::istringstream in(text);
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# offset ", 0) == 0) {
            inSection = std::stoll(line.substr(9)) == offset;
            continue;
        }
        if (!inSection || line.size() < 4) continue;
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::string head = line.substr(0, tab), path = line.substr(tab + 1);
        if (head[0] == 'v' || head[0] == 'V' || path.find("(Volume Label Entry)") != std::string::npos) continue;
        Row r{path, head[2] == 'd', head.find(" * ") != std::string::npos};
        if (path.rfind("$OrphanFiles/", 0) == 0) {
            if (orphans) orphans->push_back(r);
            continue;
        }
        rows.push_back(r);
    }
    return rows;
}

struct Volume {
    FileReader reader;
    RecordingPrompter prompter;
    std::unique_ptr<FileSystemParser> parser;

    Volume(const std::string& image, std::int64_t startSector, bool formatted = false) {
        EXPECT_TRUE(reader.Open(image));
        ParserLinks links;
        links.volume.startSector = startSector;
        links.view = ViewOf(reader, links.volume);
        links.volume.fileSystem = "FAT";  // told apart by the boot sector
        links.prompter = &prompter;
        links.driveFormatted = formatted;
        parser = MakeParser("FAT", links);
        EXPECT_TRUE(parser && parser->Scan(RecoveryMode::Standard));
    }

    std::vector<Row> Rows() const {
        std::vector<Row> rows;
        Walk(parser->Root(), "", rows, 0);
        return rows;
    }
    void Walk(RowId folder, const std::string& path, std::vector<Row>& rows, int depth) const {
        ASSERT_LT(depth, 100);
        for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
            EntryInfo e = parser->Info(r);
            std::string p = path.empty() ? e.name : path + "/" + e.name;
            rows.push_back({p, e.folder, e.deleted});
            if (e.folder) Walk(r, p, rows, depth + 1);
        }
    }
};

// Rows in a but not in b (as multisets).
std::vector<Row> Missing(std::vector<Row> a, std::vector<Row> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<Row> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

std::size_t Utf16Units(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++n;
        if ((c & 0xF8) == 0xF0) ++n;  // a pair of surrogates
    }
    return n;
}

std::string Parent(const std::string& path) {
    std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? "" : path.substr(0, cut);
}

// Where we are right and fls is not, the differences are known:
// - The recycle bin's "$R" files carry the names their "$I" files record.
// - fls refuses long-name slots whose sequence byte is above 0x4F (it allows
//   15 slots, the FAT documentation 20), so a name of more than 195
//   characters loses the slot that holds its end and is cut after a multiple
//   of 13 characters.
void Reconcile(std::vector<Row>& theirs, const std::vector<Row>& ours,
               const std::map<std::string, std::string>& recycled) {
    std::vector<Row> extra = Missing(ours, theirs);
    for (Row& r : theirs) {
        if (auto it = recycled.find(r.path); it != recycled.end()) {
            r.path = it->second;
            continue;
        }
        std::string leaf = r.path.substr(r.path.rfind('/') + 1);
        if (Utf16Units(leaf) % 13 != 0) continue;
        for (const Row& o : extra) {
            bool cut = o.dir == r.dir && o.deleted == r.deleted && Parent(o.path) == Parent(r.path) &&
                       o.path.size() > r.path.size() && o.path.rfind(r.path, 0) == 0;
            if (cut) {
                r.path = o.path;
                break;
            }
        }
    }
}

void ExpectSameAsFls(const std::string& name, std::int64_t offset,
                     const std::map<std::string, std::string>& recycled = {}) {
    std::string image = test::ImagePath(name);
    ASSERT_FALSE(image.empty()) << name;
    test::UnchangedGuard unchanged(image);
    std::string fls = test::ReadImageFile(name + ".fls");
    ASSERT_FALSE(fls.empty());
    Volume v(image, offset);
    std::vector<Row> ours = v.Rows(), theirs = FlsRows(fls, offset);
    ASSERT_FALSE(theirs.empty());
    Reconcile(theirs, ours, recycled);
    for (const Row& r : Missing(theirs, ours)) ADD_FAILURE() << name << ": fls lists, we do not: " << r;
    for (const Row& r : Missing(ours, theirs)) ADD_FAILURE() << name << ": we list, fls does not: " << r;
}

const std::map<std::string, std::string>& Fat32CardRecycled() {
    static const std::string bin = "$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-";
    static const std::map<std::string, std::string> names = {
        {bin + "1001/$RX1Y2Z3.jpg", bin + "1001/Birthday cake.jpg"},
        {bin + "1002/$RQ7W8E9.pdf", bin + "1002/Tax return 2023.pdf"},
        {"$RECYCLE.BIN/$RAB12CD.txt", "$RECYCLE.BIN/plan.txt"},
    };
    return names;
}

class FatImages : public ::testing::TestWithParam<std::pair<const char*, std::int64_t>> {};

TEST_P(FatImages, ListsWhatFlsLists) {
    std::string name = GetParam().first;
    ExpectSameAsFls(name, GetParam().second, name == "fat32-card" ? Fat32CardRecycled() : std::map<std::string, std::string>{});
}

INSTANTIATE_TEST_SUITE_P(All, FatImages,
                         ::testing::Values(std::make_pair("sample-card", 0), std::make_pair("mbr-fat", 2048),
                                           std::make_pair("mbr-fat", 43008), std::make_pair("gpt-fat", 2048),
                                           std::make_pair("fat12-floppy", 0), std::make_pair("fat12-bigcluster", 0),
                                           std::make_pair("fat16-stick", 0), std::make_pair("fat32-card", 0),
                                           std::make_pair("fat32-rootmoved", 0),
                                           std::make_pair("fat32-formatted", 0)),
                         [](const auto& info) {
                             std::string n = std::string(info.param.first) + "_" + std::to_string(info.param.second);
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST(FatImagesDetail, KindsLabelsAndLayouts) {
    struct Case {
        const char* image;
        FatKind kind;
        std::uint32_t clusterSize;
        const char* label;
    };
    for (const Case& c : {Case{"fat12-floppy", FatKind::Fat12, 512, "FLOPPY"},
                          Case{"fat12-bigcluster", FatKind::Fat12, 32768, "BIGCLUSTER"},
                          Case{"fat16-stick", FatKind::Fat16, 2048, "USB_STICK"},
                          Case{"fat32-card", FatKind::Fat32, 1024, "CARD_32"},
                          Case{"fat32-rootmoved", FatKind::Fat32, 512, "MOVED_ROOT"}}) {
        std::string image = test::ImagePath(c.image);
        ASSERT_FALSE(image.empty()) << c.image;
        Volume v(image, 0);
        auto& fat = static_cast<FatParser&>(*v.parser);
        EXPECT_EQ(fat.Boot().kind, c.kind) << c.image;
        EXPECT_EQ(fat.Boot().ClusterSize(), c.clusterSize) << c.image;
        EXPECT_EQ(fat.VolumeLabel(), c.label) << c.image;
        EXPECT_EQ(fat.RejectedFolders(), 0u) << c.image;
    }
    Volume moved(test::ImagePath("fat32-rootmoved"), 0);
    EXPECT_EQ(static_cast<FatParser&>(*moved.parser).Boot().rootCluster, 60000u);
}

TEST(FatImagesDetail, RecycleBinNamesComeFromTheIndexFiles) {
    Volume v(test::ImagePath("fat32-card"), 0);
    std::vector<Row> rows = v.Rows();
    auto has = [&](const std::string& p) {
        return std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.path == p; });
    };
    const std::string bin = "$RECYCLE.BIN/S-1-5-21-1111111111-2222222222-3333333333-";
    EXPECT_TRUE(has(bin + "1001/Birthday cake.jpg")) << "version 2, in a per-user folder";
    EXPECT_TRUE(has(bin + "1001/$IX1Y2Z3.jpg")) << "the index keeps its name";
    EXPECT_TRUE(has(bin + "1002/Tax return 2023.pdf")) << "version 1, in a per-user folder";
    EXPECT_TRUE(has("$RECYCLE.BIN/plan.txt")) << "at the top of the recycle bin";
    EXPECT_FALSE(has("$RECYCLE.BIN/$RAB12CD.txt"));
}

TEST(FatImagesDetail, FormattedCardYieldsItsFormerFiles) {
    std::string image = test::ImagePath("fat32-formatted");
    std::vector<Row> orphans;
    FlsRows(test::ReadImageFile("fat32-formatted.fls"), 0, &orphans);
    ASSERT_EQ(orphans.size(), 5u);
    Volume v(image, 0, true);
    std::vector<Row> rows = v.Rows();
    auto has = [&](const std::string& p) {
        return std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.path == p && r.deleted; });
    };
    for (const char* f : {"IMG_0101.JPG", "IMG_0102.JPG", "IMG_0103.JPG", "IMG_0104.JPG"})
        EXPECT_TRUE(has(std::string(kFatOrphanFolderName) + "/" + f)) << f;
    // fls shows its orphans by their short names; their long name belongs to them.
    EXPECT_TRUE(has(std::string(kFatOrphanFolderName) + "/Shopping list.txt"));
}

TEST(FatImagesDetail, SixDeepAndHundredsOfFilesInOneFolder) {
    Volume v(test::ImagePath("fat16-stick"), 0);
    std::vector<Row> rows = v.Rows();
    auto count = [&](const std::string& prefix) {
        return std::count_if(rows.begin(), rows.end(), [&](const Row& r) { return r.path.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("many/"), 400);
    EXPECT_EQ(count("one/two/three/four/five/six/at the bottom.txt"), 1);
}

}  // namespace
}  // namespace tarnwell
