// The LZ expander. It runs on data from files and from the serial line, so
// it trusts nothing in the stream: every read stays inside the stream, every
// write inside the output, and a stream that would leave either is damaged.
#include <cstring>

#include "codec/lz_codec.h"

namespace tarnwick {

std::uint16_t Decompress(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* stream,
                         std::size_t length, bool* damaged) {
    // The count is returned in 16 bits; no block or packet comes near that.
    const std::size_t cap = outCapacity < 0xFFFF ? outCapacity : 0xFFFF;
    std::size_t ip = 0;
    std::size_t op = 0;
    bool bad = false;

    while (ip < length && !bad) {
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
            const std::uint8_t* from = out + op - distance;
            std::uint8_t* to = out + op;
            if (distance >= count) {
                std::memcpy(to, from, count);
            } else {
                for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
            }
            op += count;
        }
    }
    if (damaged != nullptr) *damaged = bad;
    return static_cast<std::uint16_t>(op);
}

}  // namespace tarnwick
