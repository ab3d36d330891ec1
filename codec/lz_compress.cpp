// The LZ compressor. Its output is a stored format (documents, panel flash,
// bootloader packets), so every decision below -- which candidate wins, when
// the search stops, when the window slides, when the output budget is checked
// -- reproduces the one compressor all existing data was written with. Speed
// comes only from tricks that cannot change a decision.
#include <cstring>

#include "codec/lz_codec.h"

namespace tarnwick {
namespace {

constexpr int kWindowSize = 6400;    // bytes of input held at once
constexpr int kSlideAt = 6144;       // cursor beyond this: slide
constexpr int kSlideBy = 2048;
constexpr int kHashHeads = 1792;     // hash values 0 … 1785
constexpr int kMaxDistance = 4095;
constexpr int kMaxMatch = 255;
constexpr int kGoodMatch = 64;       // a match this long ends the search
constexpr int kMinMatch = 3;
constexpr int kShortMatchMax = 16;   // longer matches take the 3-byte form
constexpr int kGroupWorst = 25;      // flag byte + 8 long matches

struct CompressorTables {
    // The padding lets the hash of the last entered positions look one or two
    // bytes past the fill without leaving the array; those entries are never
    // searched, so what the padding holds does not matter.
    std::uint8_t window[kWindowSize + 16];
    std::int16_t heads[kHashHeads];
    std::int16_t links[kWindowSize];
};

// One set per thread rather than one per process: the tables are only
// working storage, reset by every call, and a thread of its own lets the
// serial link compress a packet while another thread compresses an import,
// without locks and without allocating per call.
thread_local CompressorTables tables;

inline int Hash(const std::uint8_t* p) { return p[0] + 2 * p[1] + 4 * p[2]; }

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal bytes at a and b, at most limit.
inline int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int k = 0;
    while (k + 8 <= limit) {
        const std::uint64_t x = Load64(a + k) ^ Load64(b + k);
        if (x != 0) return k + (__builtin_ctzll(x) >> 3);
        k += 8;
    }
    while (k < limit && a[k] == b[k]) ++k;
    return k;
}

}  // namespace

std::uint16_t Compress(std::uint8_t* out, int capacity, const std::uint8_t* data,
                       std::int16_t length) {
    const int n = length;
    if (n <= 0) return kCompressFailed;
    const int limit = capacity - kGroupWorst;
    if (limit <= 0) return kCompressFailed;

    CompressorTables& t = tables;
    std::uint8_t* const win = t.window;
    std::int16_t* const heads = t.heads;
    std::int16_t* const links = t.links;

    int outPos = 1;  // byte 0 is the first pending flag byte
    int flagPos = 0;
    unsigned flags = 0;
    unsigned bit = 0x80;

    int fill = n < kWindowSize ? n : kWindowSize;
    std::memcpy(win, data, static_cast<std::size_t>(fill));
    int inPos = fill;
    for (int i = 0; i < kHashHeads; ++i) heads[i] = -1;
    int cursor = 0;

    while (cursor < fill) {
        // Longest match at the cursor; the newest candidate wins a tie.
        int best = 1;
        int distance = 0;
        const int avail = fill - cursor;
        if (avail >= kMinMatch) {
            const int maxLen = avail < kMaxMatch ? avail : kMaxMatch;
            const int lowest = cursor > kMaxDistance ? cursor - kMaxDistance : 0;
            const std::uint8_t* const s = win + cursor;
            int p = heads[Hash(s)];
            while (p >= lowest) {
                const std::uint8_t* const q = win + p;
                // A candidate can only win if it is longer than best, so the
                // byte at best must agree before the full comparison.
                if (q[best] == s[best]) {
                    const int k = MatchLength(q, s, maxLen);
                    if (k > best) {
                        best = k;
                        distance = cursor - p;
                        // Nothing can beat maxLen; at 64 the walk ends anyway.
                        if (k >= kGoodMatch || k == maxLen) break;
                    }
                }
                p = links[p];
            }
        }

        int consumed;
        if (best >= kMinMatch) {
            if (best <= kShortMatchMax) {
                const unsigned w = (static_cast<unsigned>(best - 2) << 12) | static_cast<unsigned>(distance);
                out[outPos++] = static_cast<std::uint8_t>(w);
                out[outPos++] = static_cast<std::uint8_t>(w >> 8);
            } else {
                const unsigned w = 0xF000u | static_cast<unsigned>(distance);
                out[outPos++] = static_cast<std::uint8_t>(w);
                out[outPos++] = static_cast<std::uint8_t>(w >> 8);
                out[outPos++] = static_cast<std::uint8_t>(best);
            }
            flags |= bit;
            consumed = best;
        } else {
            out[outPos++] = win[cursor];
            consumed = 1;
        }
        bit >>= 1;
        if (bit == 0) {
            // Close the group. The budget is checked once per group; a group
            // adds at most kGroupWorst bytes, so the output never passes the
            // capacity.
            out[flagPos] = static_cast<std::uint8_t>(flags);
            flagPos = outPos++;
            flags = 0;
            bit = 0x80;
            if (outPos >= limit) return kCompressFailed;
        }

        // Positions enter the chains one step behind the cursor.
        const int last = cursor + consumed - 2;
        for (int p = cursor > 0 ? cursor - 1 : 0; p <= last; ++p) {
            const int h = Hash(win + p);
            links[p] = heads[h];
            heads[h] = static_cast<std::int16_t>(p);
        }
        cursor += consumed;

        if (cursor > kSlideAt) {
            constexpr int kKept = kWindowSize - kSlideBy;
            std::memmove(win, win + kSlideBy, kKept);
            for (int i = 0; i < kKept; ++i) {
                const int v = links[i + kSlideBy];
                links[i] = static_cast<std::int16_t>(v >= 0 ? v - kSlideBy : v);
            }
            for (int i = 0; i < kHashHeads; ++i) {
                if (heads[i] >= 0) heads[i] = static_cast<std::int16_t>(heads[i] - kSlideBy);
            }
            fill -= kSlideBy;
            cursor -= kSlideBy;
            int more = kWindowSize - fill;
            if (more > n - inPos) more = n - inPos;
            std::memcpy(win + fill, data + inPos, static_cast<std::size_t>(more));
            fill += more;
            inPos += more;
        }
    }

    out[flagPos] = static_cast<std::uint8_t>(flags);
    if (bit == 0x80) --outPos;  // the last group is empty: drop its flag byte
    return static_cast<std::uint16_t>(outPos);
}

}  // namespace tarnwick
