#pragma once
// A folder under the system temporary folder, removed with everything in it
// when the object goes.

#include <filesystem>
#include <string>

namespace tarnwell::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Writes text to a file below the folder, creating its parents.
    void Write(const std::string& relative, const std::string& text) const;

private:
    std::filesystem::path path_;
};

}  // namespace tarnwell::test
