#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tarnwell::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwell-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& relative, const std::string& text) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

}  // namespace tarnwell::test
