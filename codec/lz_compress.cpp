// The LZ compressor. Its output is a stored format (documents, panel flash,
// bootloader packets), so every decision -- which candidate wins, when the
// search stops, when the output budget is checked -- is the one the format's
// compressor has always made:
//
//  - The match at cursor c is the longest among the earlier positions p with
//    c - 4095 <= p <= c - 2 (positions enter the search one step behind the
//    cursor), counted at most to the end of the input; among equal lengths
//    the newest (largest p) wins, and the first candidate, newest first, that
//    reaches 64 bytes ends the search. Lengths are cut to 255; 3 or more is a
//    match, anything shorter a literal.
//  - Items go eight to a flag byte, most significant bit first. When a group
//    closes and the output (with the next flag byte reserved) has reached
//    capacity - 25, the compression is abandoned.
//
// The format's compressor keeps 6400 input bytes in a window that slides by
// 2048 once the cursor passes 6144, and chains positions under the hash
// b0 + 2*b1 + 4*b2. Neither changes a result: every position within reach
// is still in the window, at least 256 bytes lie ahead of the cursor before
// each search, and a candidate can only win with 3 or more equal bytes, so
// only positions that share the cursor's first three bytes ever matter. This
// implementation therefore works on the whole input at once (at most 32767
// bytes) and walks chains of exact keys instead:
//
//  - a chain of positions keyed on their first kLongKey bytes is searched
//    first. When it holds a position within reach that shares those bytes,
//    the answer lies among those positions: every other one is shorter than
//    kLongKey (< 64), so it can neither win nor end the search.
//  - otherwise the chain keyed on the first three bytes is searched.
//
// Both chains list positions newest first, so ties and the 64-byte stop
// fall exactly as before. The tests compare this against a plain
// step-by-step implementation of the sliding-window compressor.
#include <cstring>
#include <memory>
#include <new>

#include "codec/lz_codec.h"

namespace tarnwick {
namespace {

constexpr int kMaxInput = 32767;     // the length is a signed 16-bit count
constexpr int kMaxDistance = 4095;
constexpr int kMaxMatch = 255;
constexpr int kGoodMatch = 64;       // a match this long ends the search
constexpr int kMinMatch = 3;
constexpr int kShortMatchMax = 16;   // longer matches take the 3-byte form
constexpr int kGroupWorst = 25;      // flag byte + 8 long matches
constexpr int kLongKey = 8;          // bytes keyed by the first chain

constexpr int kHeadBits = 13;
constexpr int kHeads = 1 << kHeadBits;
constexpr int kLinks = 4096;         // > kMaxDistance: a slot is reused only out of reach
constexpr int kLinkMask = kLinks - 1;
constexpr int kPad = 64;             // word compares read a little past the input

struct CompressorTables {
    std::uint8_t input[kMaxInput + kPad];
    std::int16_t shortHeads[kHeads];
    std::int16_t longHeads[kHeads];
    std::int16_t shortLinks[kLinks];
    std::int16_t longLinks[kLinks];
};

// One set per thread rather than one per process: the tables are only
// working storage, reset by every call, and a set per thread lets the serial
// link compress a packet while another thread compresses an import, without
// locks. A thread's set is made on its first call and kept, so no call after
// that allocates; threads that never compress carry nothing.
CompressorTables* ThreadTables() {
    thread_local std::unique_ptr<CompressorTables> tables;
    if (!tables) tables.reset(new (std::nothrow) CompressorTables);
    return tables.get();
}

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

inline unsigned ShortHash(const std::uint8_t* p) {
    return ((Load32(p) & 0xFFFFFFu) * 2654435761u) >> (32 - kHeadBits);
}

inline unsigned LongHash(const std::uint8_t* p) {
    static_assert(kLongKey >= 4 && kLongKey <= 8, "the long key fits one 64-bit word");
    constexpr std::uint64_t kMask = kLongKey == 8 ? ~0ull : (1ull << (8 * kLongKey)) - 1;
    return static_cast<unsigned>(((Load64(p) & kMask) * 0x9E3779B97F4A7C15ull) >> (64 - kHeadBits));
}

// Number of equal bytes at a and b, at most limit. May read up to 7 bytes
// past a + limit and b + limit.
inline int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int k = 0;
    while (k < limit) {
        const std::uint64_t x = Load64(a + k) ^ Load64(b + k);
        if (x != 0) {
            k += __builtin_ctzll(x) >> 3;
            return k < limit ? k : limit;
        }
        k += 8;
    }
    return limit;
}

// Walks one chain from head p, newest first, down to lowest. best holds the
// length a candidate must beat; returns with best and distance updated.
inline void WalkChain(const std::uint8_t* in, int cursor, int p, int lowest, const std::int16_t* links,
                      int maxLen, int& best, int& distance) {
    const std::uint8_t* const s = in + cursor;
    // best >= 2 here; a winner must agree on the bytes up to index best,
    // and for best == 2 on the first three, so a word compare ending at
    // best rejects most candidates before the full count.
    while (p >= lowest) {
        const std::uint8_t* const q = in + p;
        const int at = best >= 3 ? best - 3 : 0;
        const std::uint32_t mask = best >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;
        if (((Load32(q + at) ^ Load32(s + at)) & mask) == 0) {
            const int k = MatchLength(q, s, maxLen);
            if (k > best) {
                best = k;
                distance = cursor - p;
                // Nothing can beat maxLen; at 64 the search ends anyway.
                if (k >= kGoodMatch || k == maxLen) return;
            }
        }
        p = links[p & kLinkMask];
    }
}

}  // namespace

std::uint16_t Compress(std::uint8_t* out, int capacity, const std::uint8_t* data,
                       std::int16_t length) {
    const int n = length;
    if (n <= 0) return kCompressFailed;
    const int limit = capacity - kGroupWorst;
    if (limit <= 0) return kCompressFailed;

    CompressorTables* const tp = ThreadTables();
    if (tp == nullptr) return kCompressFailed;  // no memory: the caller stores the data
    CompressorTables& t = *tp;
    std::uint8_t* const in = t.input;
    std::memcpy(in, data, static_cast<std::size_t>(n));
    std::memset(in + n, 0, kPad);
    std::memset(t.shortHeads, 0xFF, sizeof t.shortHeads);
    std::memset(t.longHeads, 0xFF, sizeof t.longHeads);
    std::int16_t* const shortHeads = t.shortHeads;
    std::int16_t* const longHeads = t.longHeads;
    std::int16_t* const shortLinks = t.shortLinks;
    std::int16_t* const longLinks = t.longLinks;

    int outPos = 1;  // byte 0 is the first pending flag byte
    int flagPos = 0;
    unsigned flags = 0;
    unsigned bit = 0x80;
    int cursor = 0;
    int entered = 0;  // positions below this are in the chains

    while (cursor < n) {
        int best = 1;
        int distance = 0;
        const int avail = n - cursor;
        if (avail >= kMinMatch) {
            const int maxLen = avail < kMaxMatch ? avail : kMaxMatch;
            const int lowest = cursor > kMaxDistance ? cursor - kMaxDistance : 0;
            const std::uint8_t* const s = in + cursor;
            if (maxLen >= kLongKey) {
                best = kLongKey - 1;
                WalkChain(in, cursor, longHeads[LongHash(s)], lowest, longLinks, maxLen, best, distance);
            }
            if (best < kLongKey) {
                // No position within reach shares kLongKey bytes (or fewer
                // than that are left), so kLongKey - 1 is the most to find.
                best = 2;
                const int cap = maxLen < kLongKey ? maxLen : kLongKey - 1;
                WalkChain(in, cursor, shortHeads[ShortHash(s)], lowest, shortLinks, cap, best, distance);
            }
        }

        int consumed;
        if (best >= kMinMatch) {
            if (best <= kShortMatchMax) {
                const unsigned w = (static_cast<unsigned>(best - 2) << 12) | static_cast<unsigned>(distance);
                out[outPos] = static_cast<std::uint8_t>(w);
                out[outPos + 1] = static_cast<std::uint8_t>(w >> 8);
                outPos += 2;
            } else {
                const unsigned w = 0xF000u | static_cast<unsigned>(distance);
                out[outPos] = static_cast<std::uint8_t>(w);
                out[outPos + 1] = static_cast<std::uint8_t>(w >> 8);
                out[outPos + 2] = static_cast<std::uint8_t>(best);
                outPos += 3;
            }
            flags |= bit;
            consumed = best;
        } else {
            out[outPos++] = in[cursor];
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

        // Positions enter the chains one step behind the cursor. The last
        // few hash padding bytes; they are never searched.
        cursor += consumed;
        for (const int last = cursor - 1; entered < last; ++entered) {
            const std::uint8_t* const q = in + entered;
            const unsigned hs = ShortHash(q);
            const unsigned hl = LongHash(q);
            shortLinks[entered & kLinkMask] = shortHeads[hs];
            shortHeads[hs] = static_cast<std::int16_t>(entered);
            longLinks[entered & kLinkMask] = longHeads[hl];
            longHeads[hl] = static_cast<std::int16_t>(entered);
        }
    }

    out[flagPos] = static_cast<std::uint8_t>(flags);
    if (bit == 0x80) --outPos;  // the last group is empty: drop its flag byte
    return static_cast<std::uint16_t>(outPos);
}

}  // namespace tarnwick
