#include "hardening/FixtureManifest.h"

#include <fstream>
#include <sstream>

namespace tarnwell::test {

std::vector<PublicFixture> PublicFixtures(const std::string& root, std::uint64_t maxRawBytes) {
    std::vector<PublicFixture> list;
    if (root.empty()) return list;
    std::ifstream in(root + "/MANIFEST.tsv");
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() < 5 || f[0].empty() || f[0][0] == '#') continue;
        std::uint64_t raw = 0;
        try {
            raw = std::stoull(f[4]);
        } catch (...) {
            continue;
        }
        if (raw > maxRawBytes) continue;
        list.push_back({f[0], f[3].rfind("tar", 0) == 0 ? "tar.xz" : f[3], raw, f.size() > 6 ? f[6] : ""});
    }
    return list;
}

}  // namespace tarnwell::test
