#include "fs/OutputWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <vector>

#include "core/TextEncoding.h"

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

// The sysfs node of a block device ("/sys/devices/.../sda/sda1"), or empty.
std::filesystem::path SysfsNode(dev_t dev) {
    std::error_code ec;
    auto node = std::filesystem::canonical(
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)), ec);
    return ec ? std::filesystem::path() : node;
}

std::string ReadLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The whole disk a block device belongs to, as "major:minor".
std::string WholeDiskOf(dev_t dev) {
    std::filesystem::path node = SysfsNode(dev);
    if (node.empty()) return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::error_code ec;
    std::filesystem::path disk = std::filesystem::exists(node / "partition", ec) ? node.parent_path() : node;
    return ReadLine(disk / "dev");
}

// Every whole disk a file system's device rests on ("major:minor"): its own,
// and those below it (device mapper, RAID), so a mapped partition of the
// source counts as the source.
std::set<std::string> DisksBeneath(dev_t dev) {
    namespace fs = std::filesystem;
    std::set<std::string> disks{WholeDiskOf(dev)};
    std::vector<fs::path> pending;
    if (fs::path node = SysfsNode(dev); !node.empty()) pending.push_back(node);
    std::set<fs::path> seen;
    while (!pending.empty() && seen.size() < 64) {
        fs::path node = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second) continue;
        std::error_code ec;
        fs::path disk = fs::exists(node / "partition", ec) ? node.parent_path() : node;
        if (std::string id = ReadLine(disk / "dev"); !id.empty()) disks.insert(id);
        for (const fs::path& holder : {node, disk}) {
            for (const auto& e : fs::directory_iterator(holder / "slaves", ec)) {
                fs::path below = fs::canonical(e.path(), ec);
                if (!ec) pending.push_back(below);
            }
        }
    }
    return disks;
}

// The loop devices ("major:minor", and their names) whose backing file is file.
std::vector<std::pair<std::string, std::string>> LoopDevicesOf(const std::string& file) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, std::string>> out;
    std::error_code ec;
    fs::path real = fs::canonical(file, ec);
    if (ec) return out;
    for (const auto& e : fs::directory_iterator("/sys/block", ec)) {
        std::string name = e.path().filename().string();
        if (name.rfind("loop", 0) != 0) continue;
        if (ReadLine(e.path() / "loop/backing_file") == real.string())
            out.emplace_back(ReadLine(e.path() / "dev"), "/dev/" + name);
    }
    return out;
}

// Where a file system refuses a position or a size, lseek says EINVAL; the
// user should read that the file is too large for it.
int SizeError(int error) { return error == EINVAL ? EFBIG : error; }
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
    // Never finished (the caller gave up on it): it is not the file.
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlinkat(dirFd_, name_.c_str(), 0);
    }
    if (dirFd_ >= 0) ::close(dirFd_);
}

void OutputFile::StopWhen(std::function<bool()> stop) {
    if (!stop_) {
        stop_ = std::move(stop);
        return;
    }
    stop_ = [first = std::move(stop_), second = std::move(stop)] { return first() || second(); };
}

bool OutputFile::StopNow() {
    if (!stopped_ && ((control_ != nullptr && control_->StopRequested()) || (stop_ && stop_()))) stopped_ = true;
    return stopped_;
}

bool OutputFile::Fail(int error) {
    failed_ = true;
    error_ = error;
    return false;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    if (failed_ || StopNow()) return false;
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(n < 0 ? errno : ENOSPC);
        if (hash_) hash_->Update(p, static_cast<std::size_t>(n));
        p += n;
        size -= static_cast<std::size_t>(n);
        bytes_ += static_cast<std::uint64_t>(n);
    }
    stored_ = bytes_;
    return true;
}

bool OutputFile::WriteHole(std::uint64_t size) {
    if (failed_ || StopNow()) return false;
    if (size == 0) return true;
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (bytes_ > kMaxOffset || size > kMaxOffset - bytes_) return Fail(EFBIG);
    if (::lseek(fd_, static_cast<off_t>(bytes_ + size), SEEK_SET) < 0) return Fail(SizeError(errno));
    if (hash_) {
        // The digest is of the file as it reads back; a long hole is a long
        // hash, so a stop is heard inside it.
        static const std::vector<char> zeros(1u << 20, 0);
        for (std::uint64_t left = size; left > 0;) {
            if (StopNow()) return false;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
            hash_->Update(zeros.data(), n);
            left -= n;
        }
    }
    bytes_ += size;
    return true;
}

OutputWriter::OutputWriter(std::string root) : root_path_(std::move(root)) {
    namespace fs = std::filesystem;
    auto refuse = [this](int error) { problem_ = "cannot use the output folder " + root_path_ + ": " + std::strerror(error); };
    if (root_path_.empty()) {
        refuse(ENOENT);
        return;
    }
    std::error_code ec;
    fs::path at = fs::absolute(root_path_, ec);
    if (ec) at = root_path_;
    struct stat st {};
    // The nearest folder that exists decides: nothing is made before the
    // writer knows it may write there.
    while (::stat(at.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            refuse(errno);
            return;
        }
        fs::path parent = at.parent_path();
        if (parent == at || parent.empty()) {
            refuse(ENOENT);
            return;
        }
        at = parent;
    }
    existing_ = at.string();
    if (!S_ISDIR(st.st_mode)) {
        refuse(ENOTDIR);
        return;
    }
    // Root passes access() on a read-only mount's folders; the mount flag tells.
    struct statvfs vfs {};
    if (::statvfs(existing_.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0)
        refuse(EROFS);
    else if (::access(existing_.c_str(), W_OK | X_OK) != 0)
        refuse(errno);
}

OutputWriter::~OutputWriter() {
    for (auto& [path, fd] : open_) ::close(fd);
    if (rootFd_ >= 0) ::close(rootFd_);
}

std::optional<std::string> OutputWriter::RefuseSource(const std::string& sourcePath) {
    struct stat src {}, out {};
    if (existing_.empty() || ::stat(sourcePath.c_str(), &src) != 0 || ::stat(existing_.c_str(), &out) != 0)
        return std::nullopt;
    std::set<std::string> beneath = DisksBeneath(out.st_dev);
    std::string via;
    if (S_ISBLK(src.st_mode)) {
        if (beneath.count(WholeDiskOf(src.st_rdev)) == 0) return std::nullopt;
    } else if (S_ISREG(src.st_mode)) {
        // An image is never written to, unless it is attached as a loop device
        // and the folder is on a file system of that device.
        for (const auto& [id, name] : LoopDevicesOf(sourcePath))
            if (beneath.count(id) != 0) via = name;
        if (via.empty()) return std::nullopt;
    } else {
        return std::nullopt;
    }
    problem_ = "refusing to write into " + root_path_ + ": it lives on " +
               (via.empty() ? sourcePath + ", the device being recovered"
                            : via + ", the loop device of " + sourcePath + ", the image being recovered") +
               ". Choose a folder on another drive.";
    return problem_;
}

bool OutputWriter::OpenRoot() {
    if (rootFd_ >= 0) return true;
    if (problem_) {
        errno = EPERM;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(root_path_, ec);
    rootFd_ = ::open(root_path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0 && ec) errno = ec.value();
    return rootFd_ >= 0;
}

void OutputWriter::Cache(const std::string& relativePath, int fd) {
    open_.emplace_front(relativePath, fd);
    openIndex_[relativePath] = open_.begin();
    if (open_.size() > kOpenFolders) {
        ::close(open_.back().second);
        openIndex_.erase(open_.back().first);
        open_.pop_back();
    }
}

int OutputWriter::FolderFd(const std::string& relativePath) {
    if (!OpenRoot()) return -1;
    if (relativePath.empty()) return rootFd_;
    if (auto hit = openIndex_.find(relativePath); hit != openIndex_.end()) {
        open_.splice(open_.begin(), open_, hit->second);
        return hit->second->second;
    }
    // From the deepest folder still open, one component at a time, never
    // through a link: a folder swapped for a symlink is not followed.
    std::size_t from = 0;
    int base = rootFd_;
    for (std::size_t cut = relativePath.rfind('/'); cut != std::string::npos && cut > 0;
         cut = relativePath.rfind('/', cut - 1)) {
        if (auto hit = openIndex_.find(relativePath.substr(0, cut)); hit != openIndex_.end()) {
            open_.splice(open_.begin(), open_, hit->second);  // kept open while the walk goes on
            base = hit->second->second;
            from = cut + 1;
            break;
        }
    }
    while (true) {
        std::size_t cut = relativePath.find('/', from);
        std::string component = relativePath.substr(from, cut == std::string::npos ? std::string::npos : cut - from);
        int fd = ::openat(base, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return -1;
        Cache(relativePath.substr(0, cut), fd);
        if (cut == std::string::npos) return fd;
        base = fd;
        from = cut + 1;
    }
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
    int dir = FolderFd(parent.relativePath);
    if (dir < 0) {
        CountFailure(Join(parent.relativePath, safe) + "/", std::strerror(errno));
        return std::nullopt;
    }
    bool portable = false;
    for (int n = 1; n <= kMaxClashes; ++n) {
        std::string candidate = NumberedName(safe, n);
        if (::mkdirat(dir, candidate.c_str(), 0755) != 0) {
            // Only a name that exists gets a number; any other refusal is final.
            if (errno == EEXIST) continue;
            if (!portable && NameRefused(errno) && PortableName(safe) != safe) {
                safe = PortableName(safe), portable = true, n = 0;
                continue;
            }
            CountFailure(Join(parent.relativePath, candidate) + "/", std::strerror(errno));
            return std::nullopt;
        }
        NoteRename(name, parent.relativePath, candidate);
        return OutputFolder{Join(parent.relativePath, candidate)};
    }
    CountFailure(Join(parent.relativePath, safe) + "/", "too many folders of this name");
    return std::nullopt;
}

std::unique_ptr<OutputFile> OutputWriter::CreateFile(const OutputFolder& parent, std::string_view name) {
    std::string safe = SafeName(name);
    int dir = FolderFd(parent.relativePath);
    if (dir < 0) {
        CountFailure(Join(parent.relativePath, safe), std::strerror(errno));
        return nullptr;
    }
    bool portable = false;
    for (int n = 1; n <= kMaxClashes; ++n) {
        std::string candidate = NumberedName(safe, n);
        int fd = ::openat(dir, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
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
        file->name_ = candidate;
        // The folder's own handle, so that an incomplete file can be removed
        // by name whatever the cache has closed meanwhile.
        file->dirFd_ = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
        file->relativePath_ = Join(parent.relativePath, candidate);
        if (file->dirFd_ < 0) {
            int error = errno;
            ::close(fd);
            file->fd_ = -1;
            ::unlinkat(dir, candidate.c_str(), 0);
            CountFailure(file->relativePath_, std::strerror(error));
            return nullptr;
        }
        file->control_ = control_;
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
    bool stopped = file->stopped_;
    bool ok = !file->failed_ && !stopped;
    // A hole at the end is only a size: give the file its length.
    if (ok && file->bytes_ > file->stored_ && ::ftruncate(file->fd_, static_cast<off_t>(file->bytes_)) != 0)
        ok = !file->Fail(SizeError(errno));
    timespec ts[2];
    auto accessed = ToTimespec(times.accessed), modified = ToTimespec(times.modified);
    ts[0] = accessed ? *accessed : timespec{0, UTIME_OMIT};
    ts[1] = modified ? *modified : timespec{0, UTIME_OMIT};
    bool timesSet = ok && (accessed || modified) && ::futimens(file->fd_, ts) == 0;
    if (::close(file->fd_) != 0 && ok) ok = !file->Fail(errno);
    file->fd_ = -1;
    FinishedFile done{file->relativePath_, file->bytes_, "", timesSet && accessed.has_value(),
                      timesSet && modified.has_value(), file->UnreadableBytes(), ok, stopped, ""};
    if (ok) {
        if (file->hash_) done.sha256 = file->hash_->HexDigest();
        ++filesWritten_;
        bytesWritten_ += file->bytes_;
    } else {
        // Not whole, so not kept: a short file under the real name would pass for the file.
        ::unlinkat(file->dirFd_, file->name_.c_str(), 0);
        if (stopped) {
            done.error = "stopped before it was written whole";
        } else {
            done.error = std::strerror(file->error_ ? file->error_ : EIO);
            CountFailure(file->relativePath_, done.error);
        }
    }
    finished_ = std::move(done);
    return ok;
}

void OutputWriter::DiscardFile(std::unique_ptr<OutputFile> file, const std::string& why) {
    if (!file) return;
    ::close(file->fd_);
    file->fd_ = -1;
    ::unlinkat(file->dirFd_, file->name_.c_str(), 0);
    FinishedFile done;
    done.relativePath = file->relativePath_;
    done.unreadable = file->UnreadableBytes();
    done.error = why;
    CountFailure(file->relativePath_, why);
    finished_ = std::move(done);
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
