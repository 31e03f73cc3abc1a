#include "core/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace tarnwell {

InstanceLock::InstanceLock(std::string folder) {
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::error_code ec;
        folder = runtime && *runtime ? runtime : std::filesystem::temp_directory_path(ec).string();
        if (folder.empty()) folder = "/tmp";
    }
    path_ = (std::filesystem::path(folder) / kInstanceLockName).string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    // flock belongs to the open file, so the lock goes with the process however it ends.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) acquired_ = false;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tarnwell
