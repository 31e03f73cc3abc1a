// The FAT parsers on the public damaged and reference images of other projects
// (../shared/fixtures: dosfstools' fsck test images, rust-fatfs), read in
// place and skipped when the folder is absent. Every image is read without a
// crash or a hang; every entry The Sleuth Kit lists is listed too; on the
// images that are not damaged, every live file's bytes have TSK's MD5.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "support/GzipImage.h"
#include "support/Md5.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

// Images above this size (raw) are left out to keep the suite quick.
constexpr std::uint64_t kMaxRawBytes = 300ull << 20;

struct Fixture {
    std::string image;  // relative to the fixtures folder
    std::string kind;   // what TSK recognised
};

std::vector<Fixture> FatFixtureList() {
    std::vector<Fixture> list;
    std::string root = test::FixturesRoot();
    if (root.empty()) return list;
    std::ifstream in(root + "/MANIFEST.tsv");
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() < 7) continue;
        bool fatFolder = f[0].rfind("dosfstools/", 0) == 0 || f[0].rfind("rust-fatfs/", 0) == 0;
        if (!fatFolder || f[3] != "gzip" || std::stoull(f[4]) > kMaxRawBytes) continue;
        if (f[6].find("Partition") != std::string::npos) continue;  // not a volume at sector 0
        list.push_back({f[0], f[6]});
    }
    return list;
}

struct TskView {
    std::vector<std::pair<std::string, bool>> names;  // path, deleted (no labels, no virtual files)
    std::map<std::string, std::string> md5;           // live regular file -> MD5 of TSK's read
};

TskView ReadTsk(const std::string& file) {
    TskView v;
    std::ifstream in(file);
    enum { None, Fls, Body } section = None;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("### fls -r -p", 0) == 0) {
            section = Fls;
            continue;
        }
        if (line.rfind("### fls -r -m", 0) == 0) {
            section = Body;
            continue;
        }
        if (line.rfind("#", 0) == 0) {
            section = None;
            continue;
        }
        if (section == Fls) {
            std::size_t tab = line.find('\t');
            if (tab == std::string::npos || line[0] == 'v' || line[0] == 'V') continue;
            std::string path = line.substr(tab + 1);
            if (path.find("(Volume Label Entry)") != std::string::npos || path.rfind("$OrphanFiles", 0) == 0) continue;
            v.names.emplace_back(path, line.find(" * ") != std::string::npos && line.find(" * ") < tab);
        } else if (section == Body) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string x; std::getline(fields, x, '|');) f.push_back(x);
            if (f.size() < 4 || f[3].rfind("r/r", 0) != 0) continue;
            std::string path = f[1].substr(1);
            if (path.find(" (deleted") != std::string::npos || path.find("(Volume Label Entry)") != std::string::npos)
                continue;
            v.md5[path] = f[0];
        }
    }
    return v;
}

class StringSink final : public FileSink {
public:
    bool Write(const void* data, std::size_t size) override {
        md5.Update(data, size);
        return true;
    }
    test::Md5 md5;
};

class FatFixtures : public ::testing::TestWithParam<Fixture> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FatFixtures);

TEST_P(FatFixtures, ReadWithoutHarmAndListWhatTskLists) {
    const Fixture& fx = GetParam();
    std::string root = test::FixturesRoot();
    test::GzipImage reader;
    ASSERT_TRUE(reader.Open(root + "/" + fx.image)) << fx.image;
    RecordingPrompter prompter;
    ParserLinks links;
    links.view = VolumeView(reader);
    links.prompter = &prompter;
    auto parser = MakeParser("FAT", links);
    ASSERT_TRUE(parser);
    bool scanned = parser->Scan(RecoveryMode::Standard);
    bool tskKnowsIt = fx.kind.find("FAT") != std::string::npos;
    if (!scanned) {
        EXPECT_FALSE(tskKnowsIt) << fx.image << ": TSK reads it as " << fx.kind;
        return;
    }

    // Rows by path, and every file's data read once.
    std::map<std::string, std::vector<RowId>> rows;
    std::vector<std::pair<RowId, std::string>> pending{{parser->Root(), ""}};
    std::size_t visited = 0;
    while (!pending.empty()) {
        auto [folder, path] = pending.back();
        pending.pop_back();
        for (RowId r = parser->FirstChild(folder); r != kNoRow; r = parser->NextSibling(r)) {
            ASSERT_LT(++visited, parser->RowCount() + 1) << "a row is reached twice";
            EntryInfo e = parser->Info(r);
            std::string p = path.empty() ? e.name : path + "/" + e.name;
            rows[p].push_back(r);
            if (e.folder) pending.emplace_back(r, p);
        }
    }

    std::string tskFile = root + "/" + fx.image.substr(0, fx.image.size() - 3) + ".tsk.txt";
    TskView tsk = ReadTsk(tskFile);
    for (const auto& [path, deleted] : tsk.names) {
        auto it = rows.find(path);
        if (it == rows.end()) {
            ADD_FAILURE() << fx.image << ": TSK lists " << path << ", we do not";
            continue;
        }
        bool same = false;
        for (RowId r : it->second) same |= parser->Info(r).deleted == deleted;
        EXPECT_TRUE(same) << fx.image << ": " << path << " deleted differs";
    }
    bool damaged = fx.image.find(".damaged.") != std::string::npos;
    for (const auto& [path, rowsAt] : rows) {
        for (RowId r : rowsAt) {
            EntryInfo e = parser->Info(r);
            if (e.folder) continue;
            StringSink sink;
            parser->ExtractData(r, sink);
            std::string ours = sink.md5.Hex();
            auto expected = tsk.md5.find(path);
            if (!damaged && !e.deleted && expected != tsk.md5.end() && rowsAt.size() == 1) {
                EXPECT_EQ(ours, expected->second) << fx.image << ": " << path;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Public, FatFixtures, ::testing::ValuesIn(FatFixtureList()), [](const auto& info) {
    std::string n = info.param.image;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

}  // namespace
}  // namespace tarnwell
