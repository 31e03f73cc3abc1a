#pragma once
// The default signature list, "FileSetting.txt": the committed file
// raw/FileSetting.txt, built into the program.

#include <cstdint>
#include <vector>

namespace tarnwell {

const std::vector<std::uint8_t>& DefaultSignatureFileBytes();

}  // namespace tarnwell
