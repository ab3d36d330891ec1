// DecodeStream on any bytes, from memory files. With the first byte's low
// bit set the harness reseals every block's payload checksum, so the
// fuzzer gets past it into the expander and the data checks.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "codec/memory_file.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t mode = data[0];
    // How many bytes the caller says the stream has: all of it, or a
    // length taken from the input (shorter or longer than what is there).
    const std::uint32_t given = (mode & 2) ? (data[1] | (data[2] << 8)) : static_cast<std::uint32_t>(size - 3);
    std::vector<std::uint8_t> stream(data + 3, data + size);
    if (mode & 1) {
        for (std::size_t at = 0; at + kBlockHeaderSize <= stream.size();) {
            const std::size_t l = stream[at] | (stream[at + 1] << 8);
            if (at + kBlockHeaderSize + l > stream.size()) break;
            const std::uint16_t crc = Crc16(stream.data() + at + kBlockHeaderSize, l, kCrcInit);
            stream[at + 4] = static_cast<std::uint8_t>(crc);
            stream[at + 5] = static_cast<std::uint8_t>(crc >> 8);
            at += kBlockHeaderSize + l;
        }
    }

    testing::MemoryFile source(stream);
    testing::MemoryFile destination;
    CodecContext context;
    context.blockLength = given;
    context.dataLength = 0;
    context.runningChecksums = (mode >> 2) & 1;
    DecodeStream(destination, source, context);
    if (context.dataLength != destination.Bytes().size()) std::abort();
    if (source.Position() > static_cast<std::int64_t>(given)) std::abort();
    switch (context.status) {
    case kCodecOk:
    case kCodecDamagedStream:
    case kCodecShortBlock:
        break;
    default:
        std::abort();
    }
    return 0;
}
