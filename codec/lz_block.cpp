// One block: an 8-byte header (payload length, data length, payload
// checksum, data checksum, all little-endian 16-bit) and the payload, which is
// either the data itself (payload length = data length) or its LZ stream.
#include <cstring>

#include "codec/crc16.h"
#include "codec/lz_codec.h"

namespace tarnwick {
namespace {

inline void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint32_t Get16(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
}

// Carries the running checksums over one block: the data checksum over its
// data, the block checksum over its header and payload. The block's own
// checksums (fresh, from 0xFFFF) are already known, so the data and the
// payload are not read a second time.
void RunChecksums(CodecContext& context, const std::uint8_t* block, std::uint16_t dataCrc, std::size_t dataLength,
                  std::uint16_t payloadCrc, std::size_t payloadLength) {
    context.dataChecksum = Crc16Reseed(dataCrc, context.dataChecksum, dataLength);
    const std::uint16_t afterHeader = Crc16(block, kBlockHeaderSize, context.blockChecksum);
    context.blockChecksum = Crc16Reseed(payloadCrc, afterHeader, payloadLength);
}

}  // namespace

void EncodeBlock(std::uint8_t* out, const std::uint8_t* data, CodecContext& context) {
    const std::uint32_t u = context.dataLength;
    const std::uint16_t dataCrc = Crc16(data, u, kCrcInit);
    std::uint8_t* const payload = out + kBlockHeaderSize;

    // Blocks of 33 bytes or fewer get no budget and are always stored.
    const std::uint16_t packed = Compress(payload, static_cast<int>(u) - static_cast<int>(kBlockHeaderSize),
                                          data, static_cast<std::int16_t>(u));
    std::uint32_t l;
    if (packed == kCompressFailed || packed > u) {
        if (u > 0) std::memcpy(payload, data, u);
        l = u;
    } else {
        l = packed;
    }
    const std::uint16_t payloadCrc = Crc16(payload, l, kCrcInit);
    Put16(out, l);
    Put16(out + 2, u);
    Put16(out + 4, payloadCrc);
    Put16(out + 6, dataCrc);
    context.blockLength = l + kBlockHeaderSize;
    if (context.runningChecksums != 0) RunChecksums(context, out, dataCrc, u, payloadCrc, l);
}

void DecodeBlock(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* block,
                 std::size_t blockAvailable, CodecContext& context) {
    if (blockAvailable < kBlockHeaderSize) {
        context.status = kCodecShortBlock;
        return;
    }
    const std::uint32_t l = Get16(block);
    const std::uint32_t u = Get16(block + 2);
    const std::uint16_t payloadCrcStored = static_cast<std::uint16_t>(Get16(block + 4));
    const std::uint16_t dataCrcStored = static_cast<std::uint16_t>(Get16(block + 6));
    if (l > kBlockPiece) {  // no block this codec writes has a longer payload
        context.status = kCodecPayloadChecksum;
        return;
    }
    if (blockAvailable - kBlockHeaderSize < l) {
        context.status = kCodecShortBlock;
        return;
    }
    const std::uint8_t* const payload = block + kBlockHeaderSize;
    const std::uint16_t payloadCrc = Crc16(payload, l, kCrcInit);
    if (payloadCrc != payloadCrcStored) {
        context.status = kCodecPayloadChecksum;
        return;
    }

    // Data that cannot come out at exactly the header's length is rejected
    // like a wrong data checksum: nothing of it is returned as good.
    if (u > outCapacity) {
        context.status = kCodecDataChecksum;
        return;
    }
    std::size_t produced;
    if (l == u) {
        if (l > 0) std::memcpy(out, payload, l);
        produced = l;
    } else {
        bool damaged = false;
        produced = Decompress(out, u, payload, l, &damaged);
        if (damaged || produced != u) {
            context.status = kCodecDataChecksum;
            return;
        }
    }
    const std::uint16_t dataCrc = Crc16(out, produced, kCrcInit);
    if (dataCrc != dataCrcStored) {
        context.status = kCodecDataChecksum;
        return;
    }

    if (context.runningChecksums != 0) {
        RunChecksums(context, block, dataCrc, produced, payloadCrc, l);
    } else {
        context.dataChecksum = dataCrc;
        context.blockChecksum = payloadCrc;
    }
    context.dataLength = static_cast<std::uint32_t>(produced);
    context.blockLength = l + kBlockHeaderSize;
    context.status = kCodecOk;
}

}  // namespace tarnwick
