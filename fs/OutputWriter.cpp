#include "fs/OutputWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "fs/TextEncoding.h"

namespace tarnwell {

namespace {
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kPortableNameBytes = 143;
constexpr int kMaxClashes = 100000;

std::string Join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

// The errors with which a target file system (FAT, exFAT, a network share)
// turns down a name it cannot store; exFAT through FUSE answers ENOENT.
bool NameRefused(int error) {
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG || error == ENOENT;
}

// Cuts s to at most n bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& s, std::size_t n) {
    if (s.size() <= n) return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

// The whole disk a block device belongs to, as "major:minor".
std::string WholeDiskOf(dev_t dev) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path node = fs::canonical("/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)), ec);
    if (ec) return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    fs::path disk = fs::exists(node / "partition") ? node.parent_path() : node;
    std::ifstream in(disk / "dev");
    std::string id;
    std::getline(in, id);
    return id;
}
}  // namespace

bool FileSink::WriteHole(std::uint64_t size) {
    static const std::vector<char> zeros(1u << 16, 0);
    while (size > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, zeros.size()));
        if (!Write(zeros.data(), n)) return false;
        size -= n;
    }
    return true;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::Write(const void* data, std::size_t size) {
    if (failed_) return false;
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            error_ = n < 0 ? errno : ENOSPC;
            return false;
        }
        if (hash_) hash_->Update(p, static_cast<std::size_t>(n));
        p += n;
        size -= static_cast<std::size_t>(n);
        bytes_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

OutputWriter::OutputWriter(std::string root) : root_path_(std::move(root)) {
    std::error_code ec;
    std::filesystem::create_directories(root_path_, ec);
    root_.fd = ::open(root_path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_.fd < 0) problem_ = "cannot use the output folder " + root_path_ + ": " + std::strerror(errno);
}

OutputWriter::~OutputWriter() {
    for (int fd : folderFds_) ::close(fd);
    if (root_.fd >= 0) ::close(root_.fd);
}

std::optional<std::string> OutputWriter::RefuseSource(const std::string& sourcePath) {
    struct stat src {}, out {};
    if (root_.fd < 0 || ::stat(sourcePath.c_str(), &src) != 0 || ::fstat(root_.fd, &out) != 0) return std::nullopt;
    if (!S_ISBLK(src.st_mode)) return std::nullopt;  // an image file is never written to
    if (WholeDiskOf(src.st_rdev) == WholeDiskOf(out.st_dev)) {
        problem_ = "refusing to write into " + root_path_ + ": it lives on " + sourcePath +
                   ", the device being recovered. Choose a folder on another drive.";
        return problem_;
    }
    return std::nullopt;
}

std::string OutputWriter::SafeName(std::string_view raw) {
    std::string name = SanitizeUtf8(raw);
    for (char& c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (name.empty()) name = "_";
    if (name == ".") name = "_";
    if (name == "..") name = "__";
    if (name.size() > kMaxNameBytes) {
        std::size_t dot = name.rfind('.');
        std::string ext = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
        name = CutUtf8(name, kMaxNameBytes - ext.size()) + ext;
    }
    return name;
}

std::string OutputWriter::NumberedName(const std::string& safe, int n) {
    if (n <= 1) return safe;
    std::size_t dot = safe.rfind('.');
    if (dot == 0 || dot == std::string::npos) dot = safe.size();
    std::string suffix = " (" + std::to_string(n) + ")";
    std::string base = safe.substr(0, dot), ext = safe.substr(dot);
    return CutUtf8(base, kMaxNameBytes - suffix.size() - ext.size()) + suffix + ext;
}

std::optional<OutputFolder> OutputWriter::MakeFolder(const OutputFolder& parent, std::string_view name) {
    std::string safe = SafeName(name);
    bool portable = false;
    for (int n = 1; n <= kMaxClashes; ++n) {
        std::string candidate = NumberedName(safe, n);
        if (::mkdirat(parent.fd, candidate.c_str(), 0755) != 0) {
            if (errno == EEXIST) continue;
            if (!portable && NameRefused(errno) && PortableName(safe) != safe) {
                safe = PortableName(safe), portable = true, n = 0;
                continue;
            }
            CountFailure(Join(parent.relativePath, candidate) + "/", std::strerror(errno));
            return std::nullopt;
        }
        int fd = ::openat(parent.fd, candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            CountFailure(Join(parent.relativePath, candidate) + "/", std::strerror(errno));
            return std::nullopt;
        }
        folderFds_.push_back(fd);
        NoteRename(name, parent.relativePath, candidate);
        return OutputFolder{fd, Join(parent.relativePath, candidate)};
    }
    CountFailure(Join(parent.relativePath, safe) + "/", "too many folders of this name");
    return std::nullopt;
}

std::unique_ptr<OutputFile> OutputWriter::CreateFile(const OutputFolder& parent, std::string_view name) {
    std::string safe = SafeName(name);
    bool portable = false;
    for (int n = 1; n <= kMaxClashes; ++n) {
        std::string candidate = NumberedName(safe, n);
        int fd = ::openat(parent.fd, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            if (!portable && NameRefused(errno) && PortableName(safe) != safe) {
                safe = PortableName(safe), portable = true, n = 0;
                continue;
            }
            CountFailure(Join(parent.relativePath, candidate), std::strerror(errno));
            return nullptr;
        }
        auto file = std::unique_ptr<OutputFile>(new OutputFile);
        file->fd_ = fd;
        file->relativePath_ = Join(parent.relativePath, candidate);
        NoteRename(name, parent.relativePath, candidate);
        if (hashing_) file->hash_ = std::make_unique<Sha256>();
        return file;
    }
    CountFailure(Join(parent.relativePath, safe), "too many files of this name");
    return nullptr;
}

std::string OutputWriter::PortableName(std::string_view safe) {
    std::string name(safe);
    for (char& c : name)
        if (c != '\0' && std::strchr("\\:*?\"<>|", c) != nullptr) c = '_';
    // Windows and FAT drop trailing dots and spaces, which would merge names.
    for (std::size_t i = name.size(); i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i) name[i - 1] = '_';
    std::size_t dot = name.find('.');
    std::string stem = name.substr(0, dot);
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5",
                                            "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4",
                                            "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char* r : kReserved)
        if (stem == r) name.insert(dot == std::string::npos ? name.size() : dot, "_");
    // Encrypted home folders and some shares store fewer bytes than 255.
    if (name.size() > kPortableNameBytes) {
        std::size_t ext = name.rfind('.');
        std::string tail = ext != std::string::npos && name.size() - ext <= 16 ? name.substr(ext) : "";
        name = CutUtf8(name, kPortableNameBytes - tail.size()) + tail;
    }
    return name;
}

void OutputWriter::NoteRename(std::string_view original, const std::string& folder, const std::string& written) {
    if (written == original) return;
    // The old name goes into a report line: control bytes are shown, not written.
    std::string was;
    for (char c : SanitizeUtf8(original)) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            was += hex;
        } else {
            was += c;
        }
    }
    renamed_.push_back(Join(folder, written) + " (was \"" + was + "\")");
}

bool OutputWriter::FinishFile(std::unique_ptr<OutputFile> file, const OutputTimes& times) {
    if (!file) return false;
    bool ok = !file->failed_;
    timespec ts[2];
    auto accessed = ToTimespec(times.accessed), modified = ToTimespec(times.modified);
    ts[0] = accessed ? *accessed : timespec{0, UTIME_OMIT};
    ts[1] = modified ? *modified : timespec{0, UTIME_OMIT};
    bool timesSet = ok && (accessed || modified) && ::futimens(file->fd_, ts) == 0;
    if (::close(file->fd_) != 0 && ok) {
        ok = false;
        file->error_ = errno;
    }
    file->fd_ = -1;
    bytesWritten_ += file->bytes_;
    FinishedFile done{file->relativePath_, file->bytes_, file->hash_ ? file->hash_->HexDigest() : "",
                      timesSet && accessed.has_value(), timesSet && modified.has_value(), ok, ""};
    if (ok) {
        ++filesWritten_;
    } else {
        done.error = std::strerror(file->error_ ? file->error_ : EIO);
        CountFailure(file->relativePath_, done.error);
    }
    finished_ = std::move(done);
    return ok;
}

std::optional<FinishedFile> OutputWriter::TakeFinished() {
    std::optional<FinishedFile> out = std::move(finished_);
    finished_.reset();
    return out;
}

void OutputWriter::CountFailure(const std::string& what, const std::string& why) {
    ++filesFailed_;
    errors_.push_back(what + ": " + why);
}

}  // namespace tarnwell
