#pragma once
// Only one copy of the program runs per user: the desktop and the console
// front end hold the same advisory lock for as long as they live.
#include <string>

namespace tarnwick {

class InstanceLock {
public:
    enum class Result {
        Acquired,     // this process is the running copy
        HeldByOther,  // another copy holds the lock
        Unavailable,  // the lock file cannot be opened; nothing to coordinate with
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // $XDG_RUNTIME_DIR/Tarnwick.lock, or /tmp/Tarnwick-<uid>.lock when the
    // runtime folder is not set.
    static std::string DefaultPath();

    Result Acquire(const std::string& path = DefaultPath());
    void Release();
    bool Held() const { return fd_ >= 0; }
    // Why the last Acquire returned Unavailable.
    const std::string& Problem() const { return problem_; }

private:
    int fd_ = -1;
    std::string problem_;
};

}  // namespace tarnwick
