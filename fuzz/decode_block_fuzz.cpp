// DecodeBlock and Decompress on any bytes. The first byte picks the output
// size and whether the harness gives the block a valid header, so that the
// fuzzer reaches the expander behind the payload checksum too.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t mode = data[0];
    const std::size_t capacity = (mode & 1) ? 4112 : kBlockPiece;
    const std::uint32_t claimed = (data[1] | (data[2] << 8)) % (kBlockPiece + 2);
    data += 3;
    size -= 3;

    // Buffers of exactly the sizes given, so the sanitizer sees any overrun.
    std::vector<std::uint8_t> block;
    if (mode & 2) {
        // The input is a payload; wrap it in a header with a good payload
        // checksum and the claimed data length.
        block.resize(kBlockHeaderSize + size);
        const std::uint16_t crc = Crc16(data, size, kCrcInit);
        block[0] = static_cast<std::uint8_t>(size);
        block[1] = static_cast<std::uint8_t>(size >> 8);
        block[2] = static_cast<std::uint8_t>(claimed);
        block[3] = static_cast<std::uint8_t>(claimed >> 8);
        block[4] = static_cast<std::uint8_t>(crc);
        block[5] = static_cast<std::uint8_t>(crc >> 8);
        block[6] = static_cast<std::uint8_t>(mode >> 4);
        block[7] = 0;
        std::copy(data, data + size, block.begin() + kBlockHeaderSize);
    } else {
        block.assign(data, data + size);
    }

    std::vector<std::uint8_t> out(capacity);
    CodecContext context;
    context.runningChecksums = (mode >> 2) & 1;
    DecodeBlock(out.data(), out.size(), block.data(), block.size(), context);
    if (context.status == kCodecOk &&
        (context.dataLength > capacity || context.blockLength > block.size())) {
        std::abort();
    }

    // The bare expander into an output of the claimed size.
    std::vector<std::uint8_t> small(claimed);
    bool damaged = false;
    const std::uint16_t n = Decompress(small.data(), small.size(), data, size, &damaged);
    if (n > small.size()) std::abort();
    return 0;
}
