#include "reference_lz.h"

#include <array>
#include <stdexcept>

namespace tarnwick::testing {
namespace {

class ReferenceCompressor {
public:
    ReferenceCompressor(std::uint8_t* out, int capacity, const std::uint8_t* data, int n)
        : out_(out), capacity_(capacity), in_(data), n_(n) {}

    std::uint16_t Run() {
        // 1, 2: nothing to do, or no room at all.
        if (n_ <= 0) return 0xFFFF;
        limit_ = capacity_ - 25;
        if (limit_ <= 0) return 0xFFFF;
        // 3: the first flag byte.
        flagPos_ = 0;
        outPos_ = 1;
        flagValue_ = 0;
        bit_ = 0x80;
        // 4: fill the window, empty chains.
        fill_ = n_ < 6400 ? n_ : 6400;
        for (int i = 0; i < fill_; ++i) window_[i] = in_[i];
        inPos_ = fill_;
        heads_.fill(-1);
        cursor_ = 0;
        // 5: one item per step.
        while (cursor_ < fill_) {
            int length = 0;
            int distance = 0;
            FindLongestMatch(length, distance);
            if (length > 255) length = 255;
            if (length > fill_ - cursor_) length = fill_ - cursor_;
            if (length >= 3) {
                EmitMatch(length, distance);
            } else {
                EmitLiteral();
            }
            if (abandoned_) return 0xFFFF;
            if (cursor_ > 6144) Slide();
        }
        // 6, 7: close the last group, drop it when empty.
        Put(flagPos_, flagValue_);
        if (bit_ == 0x80) --outPos_;
        return static_cast<std::uint16_t>(outPos_);
    }

private:
    int Hash(int p) const {
        // Only the last entries of the input may hash bytes past the fill;
        // they must still lie inside the window.
        if (p < 0 || p + 2 >= 6400) throw std::logic_error("hash outside the window");
        return window_[p] + 2 * window_[p + 1] + 4 * window_[p + 2];
    }

    void FindLongestMatch(int& bestLength, int& bestDistance) {
        int lowest = cursor_ - 4095;
        if (lowest < 0) lowest = 0;
        bestLength = 1;
        bestDistance = 0;
        if (fill_ - cursor_ < 3) return;
        int p = heads_[Hash(cursor_)];
        while (p >= 0 && p >= lowest) {
            int count = 0;
            while (cursor_ + count < fill_ && window_[p + count] == window_[cursor_ + count]) ++count;
            if (count > bestLength) {
                bestLength = count;
                bestDistance = cursor_ - p;
                if (count >= 64) break;
            }
            p = links_[p];
        }
    }

    void Enter(int p) {
        const int h = Hash(p);
        links_[p] = heads_[h];
        heads_[h] = static_cast<std::int16_t>(p);
    }

    void EmitLiteral() {
        Put(outPos_++, window_[cursor_]);
        bit_ >>= 1;
        if (bit_ == 0) CloseGroup();
        if (cursor_ - 1 >= 0) Enter(cursor_ - 1);
        cursor_ += 1;
    }

    void EmitMatch(int k, int d) {
        if (d < 1 || d > 4095) throw std::logic_error("distance out of range");
        if (k < 17) {
            const unsigned w = (static_cast<unsigned>(k - 2) << 12) | static_cast<unsigned>(d);
            Put(outPos_++, w & 0xFF);
            Put(outPos_++, w >> 8);
        } else {
            const unsigned w = 0xF000u | static_cast<unsigned>(d);
            Put(outPos_++, w & 0xFF);
            Put(outPos_++, w >> 8);
            Put(outPos_++, static_cast<unsigned>(k));
        }
        flagValue_ |= bit_;
        bit_ >>= 1;
        if (bit_ == 0) CloseGroup();
        for (int p = cursor_ - 1; p <= cursor_ + k - 2; ++p) {
            if (p >= 0) Enter(p);
        }
        cursor_ += k;
    }

    void CloseGroup() {
        Put(flagPos_, flagValue_);
        flagPos_ = outPos_++;
        flagValue_ = 0;
        bit_ = 0x80;
        if (outPos_ >= limit_) abandoned_ = true;
    }

    void Slide() {
        for (int i = 2048; i < 6400; ++i) {
            window_[i - 2048] = window_[i];
            links_[i - 2048] = links_[i];
        }
        fill_ -= 2048;
        cursor_ -= 2048;
        for (auto& h : heads_) {
            if (h >= 0) h = static_cast<std::int16_t>(h - 2048);
        }
        for (int i = 0; i < 6400 - 2048; ++i) {
            if (links_[i] >= 0) links_[i] = static_cast<std::int16_t>(links_[i] - 2048);
        }
        while (fill_ < 6400 && inPos_ < n_) window_[fill_++] = in_[inPos_++];
    }

    void Put(int at, unsigned value) {
        if (at < 0 || at >= capacity_) throw std::logic_error("output past the capacity");
        out_[at] = static_cast<std::uint8_t>(value);
    }

    std::uint8_t* out_;
    int capacity_;
    const std::uint8_t* in_;
    int n_;

    std::array<std::uint8_t, 6400> window_{};
    std::array<std::int16_t, 1792> heads_{};
    std::array<std::int16_t, 6400> links_{};
    int outPos_ = 0;
    int limit_ = 0;
    int flagPos_ = 0;
    unsigned flagValue_ = 0;
    unsigned bit_ = 0x80;
    int cursor_ = 0;
    int fill_ = 0;
    int inPos_ = 0;
    bool abandoned_ = false;
};

}  // namespace

std::uint16_t ReferenceCompress(std::uint8_t* out, int capacity, const std::uint8_t* data,
                                std::int16_t length) {
    ReferenceCompressor c(out, capacity, data, length);
    return c.Run();
}

}  // namespace tarnwick::testing
