#include "app/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

bool File::Open(const std::string& path, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void File::Adopt(int fd, const std::string& path) {
    Close();
    fd_ = fd;
    path_ = path;
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::int64_t File::Read(void* buffer, std::size_t n) {
    if (fd_ < 0) return -1;
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd_, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<std::int64_t>(got);
}

bool File::Write(const void* buffer, std::size_t n) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const unsigned char*>(buffer);
    std::size_t put = 0;
    while (put < n) {
        const ssize_t w = ::write(fd_, p + put, n - put);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        put += static_cast<std::size_t>(w);
    }
    return true;
}

std::int64_t File::Seek(std::int64_t offset, Whence whence) {
    if (fd_ < 0) return -1;
    const int w = whence == Whence::Begin ? SEEK_SET : whence == Whence::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(fd_, offset, w);
}

std::int64_t File::Position() const {
    if (fd_ < 0) return -1;
    return ::lseek(fd_, 0, SEEK_CUR);
}

std::int64_t File::Length() const {
    if (fd_ < 0) return -1;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool File::Flush() {
    if (fd_ < 0) return false;
    return ::fsync(fd_) == 0;
}

}  // namespace tarnwick
