#include "support/TestImages.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/TempDir.h"

namespace tarnwell::test {

namespace fs = std::filesystem;

namespace {
fs::path CacheDir() {
    fs::path dir = fs::temp_directory_path() / ("tarnwell-images-" + std::to_string(::getuid()));
    fs::create_directories(dir);
    return dir;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

std::string Slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ImagePath(const std::string& name) {
    fs::path packed = fs::path(TARNWELL_TEST_IMAGES) / (name + ".img.xz");
    if (!fs::exists(packed)) return {};
    // One unpacked copy per version of the packed file.
    std::string stamp = std::to_string(fs::file_size(packed)) + "-" +
                        std::to_string(fs::last_write_time(packed).time_since_epoch().count());
    fs::path target = CacheDir() / (name + "-" + stamp + ".img");
    if (fs::exists(target)) return target.string();
    fs::path partial = target;
    partial += ".part" + std::to_string(::getpid());
    std::string cmd = "xz -dc " + Quote(packed.string()) + " > " + Quote(partial.string());
    if (std::system(cmd.c_str()) != 0) {
        fs::remove(partial);
        return {};
    }
    fs::rename(partial, target);  // atomic: parallel tests never see half an image
    return target.string();
}

std::string ReadImageFile(const std::string& fileName) {
    fs::path file = fs::path(TARNWELL_TEST_IMAGES) / fileName;
    return fs::exists(file) ? Slurp(file) : std::string();
}

std::string FixturesRoot() {
    fs::path root = TARNWELL_FIXTURES;
    return fs::is_directory(root) ? root.string() : std::string();
}

std::uint64_t FileChecksum(const fs::path& file) {
    // FNV-1a over every byte: enough to tell that a file changed.
    std::ifstream in(file, std::ios::binary);
    std::uint64_t h = 1469598103934665603ULL;
    std::vector<char> buf(1 << 20);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            h ^= static_cast<unsigned char>(buf[i]);
            h *= 1099511628211ULL;
        }
    }
    return h;
}

UnchangedGuard::UnchangedGuard(std::string path)
    : path_(std::move(path)), checksum_(FileChecksum(path_)), size_(fs::file_size(path_)) {}

UnchangedGuard::~UnchangedGuard() {
    EXPECT_EQ(fs::file_size(path_), size_) << path_ << " changed size";
    EXPECT_EQ(FileChecksum(path_), checksum_) << path_ << " was written to";
}

std::string CliPath() { return TARNWELL_CLI; }

CommandResult RunCli(const std::vector<std::string>& arguments) {
    TempDir tmp;
    std::string cmd = Quote(CliPath());
    for (const auto& a : arguments) cmd += " " + Quote(a);
    cmd += " >" + Quote((tmp / "out").string()) + " 2>" + Quote((tmp / "err").string()) + " </dev/null";
    int status = std::system(cmd.c_str());
    CommandResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(tmp / "out");
    r.err = Slurp(tmp / "err");
    return r;
}

}  // namespace tarnwell::test
