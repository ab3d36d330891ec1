// The LZ expander. It runs on data from files and from the serial line, so
// it trusts nothing in the stream: every read stays inside the stream, every
// write inside the output, and a stream that would leave either is damaged.
#include <cstring>

#include "codec/lz_codec.h"

namespace tarnwick {
namespace {

constexpr std::size_t kGroupMaxIn = 1 + 8 * 3;     // flag byte + 8 long matches
constexpr std::size_t kGroupMaxOut = 8 * 255 + 8;  // 8 longest matches + copy overrun

inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
    std::uint64_t v;
    std::memcpy(&v, from, 8);
    std::memcpy(to, &v, 8);
}

// Copies count bytes from distance bytes back (1 <= distance). The source
// may overlap the bytes being written, which repeats the last distance
// bytes. Writes up to 7 bytes past to + count.
inline void CopyMatchFast(std::uint8_t* to, std::size_t distance, std::size_t count) {
    const std::uint8_t* from = to - distance;
    if (distance >= 8) {
        for (std::size_t i = 0; i < count; i += 8) Copy8(to + i, from + i);
        return;
    }
    if (distance == 1) {
        std::memset(to, from[0], count < 8 ? 8 : count);
        return;
    }
    // A short period: lay down the first 8 bytes one by one, then copy words
    // from a whole number of periods back (at least 8 bytes, so the words
    // do not overlap what they write).
    for (std::size_t i = 0; i < 8; ++i) to[i] = from[i];
    const std::size_t step = distance * ((8 + distance - 1) / distance);
    for (std::size_t i = 8; i < count; i += 8) Copy8(to + i, to + i - step);
}

}  // namespace

std::uint16_t Decompress(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* stream,
                         std::size_t length, bool* damaged) {
    // The count is returned in 16 bits; no block or packet comes near that.
    const std::size_t cap = outCapacity < 0xFFFF ? outCapacity : 0xFFFF;
    std::size_t ip = 0;
    std::size_t op = 0;
    bool bad = false;

    while (ip < length && !bad) {
        if (length - ip >= kGroupMaxIn && cap - op >= kGroupMaxOut) {
            // A whole group fits in what is left of both buffers, so only
            // the distances need checking.
            const unsigned flags = stream[ip++];
            if (flags == 0) {
                Copy8(out + op, stream + ip);
                ip += 8;
                op += 8;
                continue;
            }
            for (unsigned bit = 0x80; bit != 0; bit >>= 1) {
                if ((flags & bit) == 0) {
                    out[op++] = stream[ip++];
                    continue;
                }
                const unsigned w = stream[ip] | (static_cast<unsigned>(stream[ip + 1]) << 8);
                ip += 2;
                const std::size_t distance = w & 0x0FFFu;
                std::size_t count = (w >> 12) + 2;
                if ((w >> 12) == 15) count = stream[ip++];
                if (distance == 0 || distance > op) {
                    bad = true;
                    break;
                }
                CopyMatchFast(out + op, distance, count);
                op += count;
            }
            continue;
        }

        // Near the end of either buffer: item by item, every bound checked.
        const unsigned flags = stream[ip++];
        for (unsigned bit = 0x80; bit != 0 && ip < length; bit >>= 1) {
            if ((flags & bit) == 0) {
                if (op >= cap) {
                    bad = true;
                    break;
                }
                out[op++] = stream[ip++];
                continue;
            }
            if (length - ip < 2) {  // the match word is cut off
                bad = true;
                break;
            }
            const unsigned w = stream[ip] | (static_cast<unsigned>(stream[ip + 1]) << 8);
            ip += 2;
            const std::size_t distance = w & 0x0FFFu;
            std::size_t count = (w >> 12) + 2;
            if ((w >> 12) == 15) {
                if (ip >= length) {  // the length byte is cut off
                    bad = true;
                    break;
                }
                count = stream[ip++];
            }
            // Distance 0 would copy bytes not yet written; before the start
            // or past the end of the output is damage as well.
            if (distance == 0 || distance > op || count > cap - op) {
                bad = true;
                break;
            }
            std::uint8_t* to = out + op;
            const std::uint8_t* from = to - distance;
            for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
            op += count;
        }
    }
    if (damaged != nullptr) *damaged = bad;
    return static_cast<std::uint16_t>(op);
}

}  // namespace tarnwick
