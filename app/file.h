#pragma once
// The core's file object: sequential read and write from where the file
// stands, with seek. Virtual so that tests can put a failing disk in its place.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick {

class File {
public:
    enum class Mode {
        Read,        // existing file, read only
        ReadWrite,   // existing file, read and write
        Create,      // create or truncate, read and write
    };
    enum class Whence { Begin, Current, End };

    File() = default;
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens path; false (errno kept) when it cannot be opened.
    virtual bool Open(const std::string& path, Mode mode);
    // Takes over an already open descriptor (mkstemp, say).
    void Adopt(int fd, const std::string& path);
    virtual void Close();
    virtual bool IsOpen() const { return fd_ >= 0; }

    // Reads up to n bytes; returns the number read (less only at the end of
    // the file), or -1 on an error.
    virtual std::int64_t Read(void* buffer, std::size_t n);
    // Writes all n bytes; false when the disk refused any of them.
    virtual bool Write(const void* buffer, std::size_t n);
    // Returns the new position, or -1.
    virtual std::int64_t Seek(std::int64_t offset, Whence whence = Whence::Begin);
    virtual std::int64_t Position() const;
    virtual std::int64_t Length() const;
    // Pushes written bytes to the disk (fsync).
    virtual bool Flush();

    const std::string& Path() const { return path_; }
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace tarnwick
