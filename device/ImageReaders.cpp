#include "device/ImageReaders.h"

#include <fcntl.h>
#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tarnwell {

namespace {
namespace fs = std::filesystem;

// The name of part n (0-based) of a set whose first part is first.
std::string PartName(const std::string& first, std::size_t n) {
    std::size_t dot = first.rfind('.');
    std::string suffix = first.substr(dot + 1), base = first.substr(0, dot + 1);
    if (std::all_of(suffix.begin(), suffix.end(), ::isdigit)) {
        std::string number = std::to_string(std::stoul(suffix) + n);
        if (number.size() < suffix.size()) number.insert(0, suffix.size() - number.size(), '0');
        return base + number;
    }
    // "aa", "ab", ... "az", "ba", ...: base-26 with the width of the first.
    std::string letters = suffix;
    std::size_t carry = n;
    for (std::size_t i = letters.size(); i-- > 0 && carry > 0;) {
        std::size_t v = static_cast<std::size_t>(letters[i] - 'a') + carry;
        letters[i] = static_cast<char>('a' + v % 26);
        carry = v / 26;
    }
    return carry > 0 ? std::string() : base + letters;
}
}  // namespace

std::vector<std::string> SplitRawReader::FindParts(const std::string& path) {
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return {};
    std::string suffix = path.substr(dot + 1);
    bool numbered = (suffix == "001" || suffix == "000");
    bool lettered = suffix == "aa";
    if (!numbered && !lettered) return {};
    std::vector<std::string> parts{path};
    for (std::size_t n = 1; n < 100000; ++n) {
        std::string next = PartName(path, n);
        std::error_code ec;
        if (next.empty() || !fs::is_regular_file(next, ec)) break;
        parts.push_back(next);
    }
    if (parts.size() == 1) {
        // A set whose second part is missing still shows by its later parts.
        std::error_code ec;
        for (std::size_t n = 2; n < 5; ++n)
            if (std::string later = PartName(path, n); !later.empty() && fs::is_regular_file(later, ec))
                return parts;
        return {};
    }
    return parts;
}

SplitRawReader::~SplitRawReader() {
    for (int fd : fds_) ::close(fd);
}

bool SplitRawReader::Open(const std::string& firstPart) {
    paths_ = FindParts(firstPart);
    if (paths_.empty()) {
        error_ = firstPart + " is not the first part of a split image";
        return false;
    }
    // A gap in the numbering would silently shift everything after it.
    std::error_code ec;
    for (std::size_t n = paths_.size() + 1; n < paths_.size() + 4; ++n) {
        std::string later = PartName(firstPart, n);
        if (!later.empty() && fs::is_regular_file(later, ec)) {
            error_ = "part " + PartName(firstPart, paths_.size()) + " of the split image is missing";
            return false;
        }
    }
    std::uint64_t total = 0;
    for (const auto& p : paths_) {
        int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            error_ = "cannot open part " + p + ": " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        fds_.push_back(fd);
        starts_.push_back(total);
        total += static_cast<std::uint64_t>(st.st_size);
    }
    SetLength(total);
    return true;
}

SectorReader::RawResult SplitRawReader::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    if (position >= fileLength()) return {RawStatus::EndOfData, 0};
    auto it = std::upper_bound(starts_.begin(), starts_.end(), position);
    std::size_t part = static_cast<std::size_t>(it - starts_.begin()) - 1;
    std::uint64_t partEnd = part + 1 < starts_.size() ? starts_[part + 1] : fileLength();
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, partEnd - position));
    for (;;) {
        ssize_t got = ::pread(fds_[part], destination, n, static_cast<off_t>(position - starts_[part]));
        if (got > 0) return {RawStatus::Ok, static_cast<std::size_t>(got)};
        if (got == 0) return {RawStatus::Error, 0};  // a part shorter than when it was opened
        if (errno != EINTR) return {RawStatus::Error, 0};
    }
}

SectorReader::RawResult ContainerReader::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    if (position >= fileLength()) return {RawStatus::EndOfData, 0};
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileLength() - position));
    std::lock_guard lock(mutex_);
    long long got = ReadMedia(position, destination, n);
    if (got > 0) return {RawStatus::Ok, static_cast<std::size_t>(got)};
    return {RawStatus::Error, 0};
}

namespace {

template <typename Error, typename Free, typename Print>
std::string Describe(Error*& error, Free freeError, Print print) {
    if (error == nullptr) return "unknown error";
    char text[1024] = {0};
    print(error, text, sizeof text);
    freeError(&error);
    std::string s = text;
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

class EwfReader final : public ContainerReader {
public:
    ~EwfReader() override {
        if (handle_) {
            libewf_handle_close(handle_, nullptr);
            libewf_handle_free(&handle_, nullptr);
        }
    }
    bool Open(const std::string& path) override {
        libewf_error_t* e = nullptr;
        char** names = nullptr;
        int count = 0;
        auto fail = [&] {
            error_ = Describe(e, libewf_error_free, libewf_error_sprint);
            if (names) libewf_glob_free(names, count, nullptr);
            return false;
        };
        if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &e) != 1) return fail();
        // The glob stops at the first missing segment; a later one shows the gap.
        if (std::string gap = MissingSegment(path, count); !gap.empty()) {
            libewf_glob_free(names, count, nullptr);
            error_ = "segment " + gap + " of the EWF image is missing";
            return false;
        }
        if (libewf_handle_initialize(&handle_, &e) != 1) return fail();
        if (libewf_handle_open(handle_, names, count, LIBEWF_OPEN_READ, &e) != 1) return fail();
        libewf_glob_free(names, count, nullptr);
        names = nullptr;
        size64_t size = 0;
        if (libewf_handle_get_media_size(handle_, &size, &e) != 1) return fail();
        std::uint32_t sectorBytes = 0;
        if (libewf_handle_get_bytes_per_sector(handle_, &sectorBytes, nullptr) == 1) SetReportedSectorSize(sectorBytes);
        // A set cut short still states the full media size; its end cannot be read.
        unsigned char last[512];
        if (size >= 512 && libewf_handle_read_random(handle_, last, sizeof last, static_cast<off64_t>(size - 512), nullptr) !=
                               static_cast<ssize_t>(sizeof last)) {
            error_ = "the EWF image's segments end before its media does (a segment is missing or cut short)";
            return false;
        }
        Opened(size);
        return true;
    }

private:
    // "card.E05" when card.E01 to .E04 were found but a later segment exists too.
    static std::string MissingSegment(const std::string& first, int found) {
        if (first.size() < 4 || first[first.size() - 4] != '.') return {};
        std::string base = first.substr(0, first.size() - 2);
        auto name = [&](int n) {
            char two[16];
            std::snprintf(two, sizeof two, "%02d", n);
            return base + two;
        };
        std::error_code ec;
        for (int n = found + 2; n <= std::min(99, found + 4); ++n)
            if (fs::is_regular_file(name(n), ec)) return name(found + 1);
        return {};
    }

    long long ReadMedia(std::uint64_t position, void* destination, std::size_t count) override {
        return libewf_handle_read_random(handle_, destination, count, static_cast<off64_t>(position), nullptr);
    }
    libewf_handle_t* handle_ = nullptr;
};

class VhdiReader final : public ContainerReader {
public:
    ~VhdiReader() override {
        if (file_) {
            libvhdi_file_close(file_, nullptr);
            libvhdi_file_free(&file_, nullptr);
        }
    }
    bool Open(const std::string& path) override {
        libvhdi_error_t* e = nullptr;
        auto fail = [&] {
            error_ = Describe(e, libvhdi_error_free, libvhdi_error_sprint);
            return false;
        };
        if (libvhdi_file_initialize(&file_, &e) != 1) return fail();
        if (libvhdi_file_open(file_, path.c_str(), LIBVHDI_OPEN_READ, &e) != 1) return fail();
        size64_t size = 0;
        if (libvhdi_file_get_media_size(file_, &size, &e) != 1) return fail();
        std::uint32_t sectorBytes = 0;
        if (libvhdi_file_get_bytes_per_sector(file_, &sectorBytes, nullptr) == 1) SetReportedSectorSize(sectorBytes);
        Opened(size);
        return true;
    }

private:
    long long ReadMedia(std::uint64_t position, void* destination, std::size_t count) override {
        return libvhdi_file_read_buffer_at_offset(file_, destination, count, static_cast<off64_t>(position), nullptr);
    }
    libvhdi_file_t* file_ = nullptr;
};

class VmdkReader final : public ContainerReader {
public:
    ~VmdkReader() override {
        if (handle_) {
            libvmdk_handle_close(handle_, nullptr);
            libvmdk_handle_free(&handle_, nullptr);
        }
    }
    bool Open(const std::string& path) override {
        libvmdk_error_t* e = nullptr;
        auto fail = [&] {
            error_ = Describe(e, libvmdk_error_free, libvmdk_error_sprint);
            return false;
        };
        if (libvmdk_handle_initialize(&handle_, &e) != 1) return fail();
        if (libvmdk_handle_open(handle_, path.c_str(), LIBVMDK_OPEN_READ, &e) != 1) return fail();
        // The extents live in files named by the descriptor, beside it.
        if (libvmdk_handle_open_extent_data_files(handle_, &e) != 1) return fail();
        size64_t size = 0;
        if (libvmdk_handle_get_media_size(handle_, &size, &e) != 1) return fail();
        Opened(size);
        return true;
    }

private:
    long long ReadMedia(std::uint64_t position, void* destination, std::size_t count) override {
        return libvmdk_handle_read_buffer_at_offset(handle_, destination, count, static_cast<off64_t>(position), nullptr);
    }
    libvmdk_handle_t* handle_ = nullptr;
};

class QcowReader final : public ContainerReader {
public:
    ~QcowReader() override {
        if (file_) {
            libqcow_file_close(file_, nullptr);
            libqcow_file_free(&file_, nullptr);
        }
    }
    bool Open(const std::string& path) override {
        libqcow_error_t* e = nullptr;
        auto fail = [&] {
            error_ = Describe(e, libqcow_error_free, libqcow_error_sprint);
            return false;
        };
        if (libqcow_file_initialize(&file_, &e) != 1) return fail();
        if (libqcow_file_open(file_, path.c_str(), LIBQCOW_OPEN_READ, &e) != 1) return fail();
        size64_t size = 0;
        if (libqcow_file_get_media_size(file_, &size, &e) != 1) return fail();
        Opened(size);
        return true;
    }

private:
    long long ReadMedia(std::uint64_t position, void* destination, std::size_t count) override {
        return libqcow_file_read_buffer_at_offset(file_, destination, count, static_cast<off64_t>(position), nullptr);
    }
    libqcow_file_t* file_ = nullptr;
};

}  // namespace

std::unique_ptr<ContainerReader> MakeEwfReader() { return std::make_unique<EwfReader>(); }
std::unique_ptr<ContainerReader> MakeVhdiReader() { return std::make_unique<VhdiReader>(); }
std::unique_ptr<ContainerReader> MakeVmdkReader() { return std::make_unique<VmdkReader>(); }
std::unique_ptr<ContainerReader> MakeQcowReader() { return std::make_unique<QcowReader>(); }

}  // namespace tarnwell
