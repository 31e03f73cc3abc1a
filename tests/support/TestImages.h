#pragma once
// The committed test images (tests/images/NAME.img.xz), unpacked once into the
// build tree, and the proof that reading never changes them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnwell::test {

// Path of the unpacked image, or empty when it is not committed.
std::string ImagePath(const std::string& name);

// A committed text file beside the images (NAME.fls, NAME.mmls, ...), or empty.
std::string ReadImageFile(const std::string& fileName);

// Folder of the public damaged-image fixtures; empty when absent.
std::string FixturesRoot();

std::uint64_t FileChecksum(const std::filesystem::path& file);

// Records an image's checksum and size and checks at scope end that neither changed.
class UnchangedGuard {
public:
    explicit UnchangedGuard(std::string path);
    ~UnchangedGuard();

private:
    std::string path_;
    std::uint64_t checksum_;
    std::uintmax_t size_;
};

// The path of the tarnwell binary, for tests of the command line.
std::string CliPath();

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs the command line with arguments (each shell-quoted here).
CommandResult RunCli(const std::vector<std::string>& arguments);

// The whole of a file's bytes ("" when it cannot be read).
std::string Slurp(const std::filesystem::path& file);
// text split at its newlines, without them.
std::vector<std::string> Lines(const std::string& text);

}  // namespace tarnwell::test
