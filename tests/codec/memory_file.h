#pragma once
// A File held in memory, so that stream tests run without a disk and can
// make reads come up short or writes fail at a chosen point.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/file.h"

namespace tarnwick::testing {

class MemoryFile : public File {
public:
    MemoryFile() = default;
    explicit MemoryFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    // Writes fail once the file would grow past this many bytes.
    std::size_t writeLimit = SIZE_MAX;
    // Reads fail (-1) from this position on.
    std::size_t readErrorAt = SIZE_MAX;

    bool Open(const std::string&, Mode) override { return true; }
    void Close() override {}
    bool IsOpen() const override { return true; }

    std::int64_t Read(void* buffer, std::size_t n) override {
        if (pos_ >= readErrorAt) return -1;
        const std::size_t left = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
        const std::size_t got = std::min(n, left);
        if (got > 0) std::memcpy(buffer, bytes_.data() + pos_, got);
        pos_ += got;
        return static_cast<std::int64_t>(got);
    }
    bool Write(const void* buffer, std::size_t n) override {
        if (pos_ + n > writeLimit) return false;
        if (pos_ + n > bytes_.size()) bytes_.resize(pos_ + n);
        if (n > 0) std::memcpy(bytes_.data() + pos_, buffer, n);
        pos_ += n;
        return true;
    }
    std::int64_t Seek(std::int64_t offset, Whence whence) override {
        std::int64_t base = 0;
        if (whence == Whence::Current) base = static_cast<std::int64_t>(pos_);
        if (whence == Whence::End) base = static_cast<std::int64_t>(bytes_.size());
        if (base + offset < 0) return -1;
        pos_ = static_cast<std::size_t>(base + offset);
        return static_cast<std::int64_t>(pos_);
    }
    std::int64_t Position() const override { return static_cast<std::int64_t>(pos_); }
    std::int64_t Length() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool Flush() override { return true; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace tarnwick::testing
