#pragma once
// A file seen through a window that notes every refused read or write and,
// when asked, never lets a read go beyond a given end. The stream coder only
// tells whether its input ran short; the document also needs to know when the
// disk refused output, and must never read past the stream it was pointed at.
#include <algorithm>
#include <cstdint>

#include "app/file.h"

namespace tarnwick {

class CheckedFile : public File {
public:
    explicit CheckedFile(File& inner) : inner_(inner) {}

    bool Open(const std::string& path, Mode mode) override { return inner_.Open(path, mode); }
    void Close() override { inner_.Close(); }
    bool IsOpen() const override { return inner_.IsOpen(); }

    std::int64_t Read(void* buffer, std::size_t n) override {
        if (readEnd_ >= 0) {
            const std::int64_t pos = inner_.Position();
            if (pos < 0) {
                readFailed_ = true;
                return -1;
            }
            const std::int64_t left = std::max<std::int64_t>(0, readEnd_ - pos);
            n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(n)));
            if (n == 0) return 0;
        }
        const std::int64_t got = inner_.Read(buffer, n);
        if (got < 0) readFailed_ = true;
        return got;
    }
    bool Write(const void* buffer, std::size_t n) override {
        const bool ok = inner_.Write(buffer, n);
        if (!ok) writeFailed_ = true;
        return ok;
    }
    std::int64_t Seek(std::int64_t offset, Whence whence = Whence::Begin) override {
        return inner_.Seek(offset, whence);
    }
    std::int64_t Position() const override { return inner_.Position(); }
    std::int64_t Length() const override { return inner_.Length(); }
    bool Flush() override {
        const bool ok = inner_.Flush();
        if (!ok) writeFailed_ = true;
        return ok;
    }

    // Reads stop at this file offset (negative: no limit).
    void SetReadEnd(std::int64_t end) { readEnd_ = end; }
    bool ReadFailed() const { return readFailed_; }
    bool WriteFailed() const { return writeFailed_; }

private:
    File& inner_;
    std::int64_t readEnd_ = -1;
    bool readFailed_ = false;
    bool writeFailed_ = false;
};

}  // namespace tarnwick
