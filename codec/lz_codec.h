#pragma once
// The LZ stream, block and block-stream formats that documents, panels and
// the bootloader's packets share. Output must stay identical bit for bit.
#include <cstddef>
#include <cstdint>

namespace tarnwick {

class File;
class Progress;

constexpr std::size_t kBlockHeaderSize = 8;
constexpr std::size_t kBlockPiece = 16384;               // data bytes per block at most
constexpr std::size_t kMaxBlockSize = kBlockPiece + kBlockHeaderSize;
constexpr std::uint16_t kCompressFailed = 0xFFFF;

enum CodecStatus : std::uint16_t {
    kCodecOk = 0,
    kCodecDamagedStream = 1,     // stream decoding stopped at a damaged block
    kCodecDataChecksum = 2,
    kCodecPayloadChecksum = 3,
    kCodecShortBlock = 4,        // stream decoding could not read a block in full
    kCodecShortInput = 5,        // stream encoding could not read its input in full
    kCodecCancelled = 6,
    kCodecWriteFailed = 7,       // a stream operation could not write its destination
};

struct CodecContext {
    std::uint32_t dataLength = 0;
    std::uint32_t blockLength = 0;
    std::uint16_t dataChecksum = 0xFFFF;
    std::uint16_t blockChecksum = 0xFFFF;
    std::uint32_t headered = 1;
    std::uint32_t runningChecksums = 0;
    Progress* progress = nullptr;
    std::uint16_t status = kCodecOk;
};

// A context whose data and block checksums run over a whole stream from a
// fresh start, as documents and imports keep them.
inline CodecContext RunningChecksumContext() {
    CodecContext context;
    context.runningChecksums = 1;
    return context;
}

// LZ stream. Returns the bytes written, or kCompressFailed when the stream
// would not fit capacity − 25 bytes or length ≤ 0. Never writes more than
// capacity bytes. Uses working tables of its own thread (no allocation), so
// threads may compress at the same time.
std::uint16_t Compress(std::uint8_t* out, int capacity, const std::uint8_t* data,
                       std::int16_t length);

// Expands an LZ stream into out, which holds outCapacity bytes. Returns the
// bytes written; *damaged (may be null) is set when the stream would write
// past outCapacity, reach back before the start of the output, copy from
// distance 0, or ends inside a match item. Reads only the length bytes given.
std::uint16_t Decompress(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* stream,
                         std::size_t length, bool* damaged);

// One block of context.dataLength (0 … 16384) data bytes into out, which must
// hold kBlockHeaderSize + dataLength bytes. Every block has its header; the
// headered field is carried along but not consulted.
void EncodeBlock(std::uint8_t* out, const std::uint8_t* data, CodecContext& context);

// Checks and expands one block of blockAvailable bytes into out, which holds
// outCapacity bytes. Sets status; on success also dataLength, blockLength and
// the checksums. A block longer than blockAvailable gives kCodecShortBlock; a
// payload length above kBlockPiece, or data that would not fit outCapacity or
// does not come out at the header's data length, is damage.
void DecodeBlock(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* block,
                 std::size_t blockAvailable, CodecContext& context);

// Moves context.dataLength bytes from source to blocks in destination.
// A destination that refuses a block stops with kCodecWriteFailed.
void EncodeStream(File& destination, File& source, CodecContext& context);

// Moves context.blockLength bytes of blocks from source to data in destination.
// A block that reaches past context.blockLength counts as cut off (kCodecShortBlock).
void DecodeStream(File& destination, File& source, CodecContext& context);

}  // namespace tarnwick
