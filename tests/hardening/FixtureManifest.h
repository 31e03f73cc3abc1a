#pragma once
// The public damaged images listed in the fixtures folder's MANIFEST.tsv.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell::test {

struct PublicFixture {
    std::string image;    // relative to the fixtures folder
    std::string packing;  // gzip, xz, bzip2, tar.xz
    std::uint64_t rawBytes = 0;
    std::string tskKind;  // what The Sleuth Kit calls it, or empty
};

// The images of root's manifest whose unpacked size is at most maxRawBytes.
std::vector<PublicFixture> PublicFixtures(const std::string& root, std::uint64_t maxRawBytes);

}  // namespace tarnwell::test
