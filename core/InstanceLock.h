#pragma once
// One running copy per user: an exclusive lock on "Tarnwell292021.lock" in the
// user's runtime folder, held for the life of the process.

#include <string>

namespace tarnwell {

inline constexpr const char* kInstanceLockName = "Tarnwell292021.lock";

class InstanceLock {
public:
    // folder empty: $XDG_RUNTIME_DIR, else the system temporary folder.
    explicit InstanceLock(std::string folder = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another instance holds the lock. A lock file that cannot be
    // made at all does not keep the program from running.
    bool Acquired() const { return acquired_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    bool acquired_ = true;
};

}  // namespace tarnwell
