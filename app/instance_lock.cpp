#include "app/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::DefaultPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        std::string folder = runtime;
        if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder + "/Tarnwick.lock";
    }
    return "/tmp/Tarnwick-" + std::to_string(::getuid()) + ".lock";
}

InstanceLock::Result InstanceLock::Acquire(const std::string& path) {
    Release();
    problem_.clear();
    // O_NOFOLLOW: in a shared /tmp another user could have put a link there.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        problem_ = path + ": " + std::strerror(errno);
        return Result::Unavailable;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return Result::HeldByOther;
        problem_ = path + ": " + std::strerror(err);
        return Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace tarnwick
