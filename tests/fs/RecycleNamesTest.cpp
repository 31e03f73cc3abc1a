// The recycle-bin name pass that every parser with a Windows recycle bin runs:
// which "$R" files get the name their "$I" index records, over a tree in memory.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fs/RecycleIndex.h"
#include "support/FakeParser.h"

namespace tarnwell {
namespace {

void PutLe(std::string& s, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s[at + i] = char((v >> (8 * i)) & 0xFF);
}

// An index file of version 1 (path in 260 units at 24) or 2 (length at 24, path at 28).
std::string Index(int version, const std::string& path) {
    std::string s(version == 1 ? 24 + 520 : 28 + 2 * path.size(), '\0');
    PutLe(s, 0, version, 8);
    PutLe(s, 8, 1234, 8);
    std::size_t at = 24;
    if (version == 2) {
        PutLe(s, 24, path.size(), 4);
        at = 28;
    }
    for (std::size_t i = 0; i < path.size(); ++i) s[at + 2 * i] = path[i];
    return s;
}

struct Row {
    const char* path;  // "/"-separated below the root; a trailing "/" makes a folder
    std::string data;
};

struct Case {
    const char* what;
    std::vector<Row> rows;
    std::map<std::string, std::string> renamed;  // path -> new name
};

TEST(RecycleNames, OnePassForEveryParser) {
    const std::string notes = Index(2, "C:\\Users\\x\\notes.txt");
    const Case cases[] = {
        {"a per-user folder, version 2",
         {{"$RECYCLE.BIN/", ""}, {"$RECYCLE.BIN/S-1-5-21/", ""}, {"$RECYCLE.BIN/S-1-5-21/$IAB12CD.txt", notes},
          {"$RECYCLE.BIN/S-1-5-21/$RAB12CD.txt", "data"}},
         {{"$RECYCLE.BIN/S-1-5-21/$RAB12CD.txt", "notes.txt"}}},
        {"version 1, in the bin itself",
         {{"$RECYCLEBIN/", ""}, {"$RECYCLEBIN/$I1.jpg", Index(1, "D:\\Fotos\\Sommer 2023.jpg")},
          {"$RECYCLEBIN/$R1.jpg", "jpeg"}},
         {{"$RECYCLEBIN/$R1.jpg", "Sommer 2023.jpg"}}},
        {"names in any case, as Windows compares them",
         {{"$Recycle.Bin/", ""}, {"$Recycle.Bin/s-1-5-21/", ""}, {"$Recycle.Bin/s-1-5-21/$iab12cd.txt", notes},
          {"$Recycle.Bin/s-1-5-21/$Rab12CD.TXT", "data"}},
         {{"$Recycle.Bin/s-1-5-21/$Rab12CD.TXT", "notes.txt"}}},
        {"FAT's blank-padded names",
         {{"$RECYCLE.BIN/", ""}, {"$RECYCLE.BIN/$IABC   ", notes}, {"$RECYCLE.BIN/$RABC   ", "data"}},
         {{"$RECYCLE.BIN/$RABC   ", "notes.txt"}}},
        {"every data file of several index files",
         {{"$RECYCLE.BIN/", ""}, {"$RECYCLE.BIN/$IA.txt", notes}, {"$RECYCLE.BIN/$RA.txt", "a"},
          {"$RECYCLE.BIN/$IB.doc", Index(2, "C:\\b.doc")}, {"$RECYCLE.BIN/$RB.doc", "b"},
          {"$RECYCLE.BIN/$RC.doc", "no index"}},
         {{"$RECYCLE.BIN/$RA.txt", "notes.txt"}, {"$RECYCLE.BIN/$RB.doc", "b.doc"}}},
        {"outside a recycle bin",
         {{"Backup/", ""}, {"Backup/$IAB.txt", notes}, {"Backup/$RAB.txt", "data"}, {"$IAB.txt", notes},
          {"$RAB.txt", "data"}},
         {}},
        {"below a per-user folder's own folders",
         {{"$RECYCLE.BIN/", ""}, {"$RECYCLE.BIN/S-1/", ""}, {"$RECYCLE.BIN/S-1/deep/", ""},
          {"$RECYCLE.BIN/S-1/deep/$IAB.txt", notes}, {"$RECYCLE.BIN/S-1/deep/$RAB.txt", "data"}},
         {}},
        {"a bin that is a file, an index that is no index, one with an empty path",
         {{"$RECYCLE.BIN", "a file"}, {"$RECYCLEBIN/", ""}, {"$RECYCLEBIN/$IX.txt", std::string(600, 'x')},
          {"$RECYCLEBIN/$RX.txt", "x"}, {"$RECYCLEBIN/$IY.txt", Index(1, "")}, {"$RECYCLEBIN/$RY.txt", "y"}},
         {}},
        {"an index that is a folder, and an index too large to be one",
         {{"$RECYCLE.BIN/", ""}, {"$RECYCLE.BIN/$IF/", ""}, {"$RECYCLE.BIN/$RF", "f"},
          {"$RECYCLE.BIN/$IL.txt", notes + std::string(kMaxRecycleIndexBytes, '\0')}, {"$RECYCLE.BIN/$RL.txt", "l"}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ParserLinks links;
        test::FakeParser parser(links);
        std::map<std::string, RowId> rows{{"", parser.Root()}};
        std::map<RowId, std::string> paths;
        for (const Row& r : c.rows) {
            std::string path = r.path;
            bool folder = !path.empty() && path.back() == '/';
            if (folder) path.pop_back();
            std::size_t slash = path.rfind('/');
            std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
            std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            RowId id = parser.Add(rows.at(parent), name, folder, r.data);
            rows[path] = id;
            paths[id] = path;
        }
        ASSERT_TRUE(parser.Scan(RecoveryMode::Standard));
        std::map<std::string, std::string> renamed;
        RenameRecycledFiles(parser, [&](RowId row, const std::string& name) { renamed[paths.at(row)] = name; });
        EXPECT_EQ(renamed, c.renamed);
    }
}

}  // namespace
}  // namespace tarnwell
