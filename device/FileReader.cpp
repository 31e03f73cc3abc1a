#include "device/FileReader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwell {

FileReader::~FileReader() { Close(); }

void FileReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    blockDevice_ = false;
    SetLength(0);
    SetReportedSectorSize(0);
}

bool FileReader::Open(const std::string& path) {
    Close();
    path_ = path;
    lastError_.clear();
    auto fail = [&](int err) {
        lastError_ = std::strerror(err);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        prompter_.Inform(Event(Step::SourceNotOpened));
        return false;
    };

    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) return fail(errno);

    struct stat st {};
    if (::fstat(fd_, &st) != 0) return fail(errno);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);

    std::uint64_t length = 0;
    if (S_ISBLK(st.st_mode)) {
        blockDevice_ = true;
        if (::ioctl(fd_, BLKGETSIZE64, &length) != 0) return fail(errno);
        int logical = 0;
        if (::ioctl(fd_, BLKSSZGET, &logical) == 0 && logical > 0) SetReportedSectorSize(static_cast<std::uint32_t>(logical));
    } else if (S_ISREG(st.st_mode)) {
        length = static_cast<std::uint64_t>(st.st_size);
    } else {
        off_t end = ::lseek(fd_, 0, SEEK_END);
        length = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    SetLength(length);
    return true;
}

SectorReader::RawResult FileReader::ReadRaw(std::uint64_t position, void* destination,
                                                    std::size_t count) {
    if (fd_ < 0) return {RawStatus::Error, 0};
    for (;;) {
        ssize_t n = ::pread(fd_, destination, count, static_cast<off_t>(position));
        if (n > 0) return {RawStatus::Ok, static_cast<std::size_t>(n)};
        if (n == 0) return {RawStatus::EndOfData, 0};
        if (errno == EINTR) continue;
        return {RawStatus::Error, 0};
    }
}

}  // namespace tarnwell
