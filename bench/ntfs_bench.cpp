// ntfs_bench list IMAGE   scans the MFT and prints every path, as `fls -r -p` does
// ntfs_bench deep IMAGE   runs the Deep scan and prints the number of rows found
// Peak resident memory and the row count go to standard error.

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/FileReader.h"
#include "fs/ntfs/NtfsParser.h"

using namespace tarnwell;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ntfs_bench list|deep IMAGE\n");
        return 2;
    }
    std::string mode = argv[1];
    FileReader reader;
    if (!reader.Open(argv[2])) return 2;
    ParserLinks links;
    links.view = VolumeView(reader);
    NtfsParser parser(links);
    parser.Scan(mode == "deep" ? RecoveryMode::Deep : RecoveryMode::Standard);

    std::uint64_t listed = 0;
    std::vector<std::pair<RowId, std::string>> pending{{parser.Root(), ""}};
    std::string line;
    while (!pending.empty()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (RowId r = parser.FirstChild(folder); r != kNoRow; r = parser.NextSibling(r)) {
            EntryInfo info = parser.Info(r);
            line.assign(prefix).append(info.name);
            if (mode == "list") {
                std::fputs(line.c_str(), stdout);
                std::fputc('\n', stdout);
            }
            ++listed;
            if (info.folder) pending.emplace_back(r, line + "/");
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "rows %llu listed %llu peak_rss_kib %ld\n", static_cast<unsigned long long>(parser.RowCount()),
                 static_cast<unsigned long long>(listed), usage.ru_maxrss);
    if (mode == "deep") std::printf("%llu\n", static_cast<unsigned long long>(listed));
    return 0;
}
