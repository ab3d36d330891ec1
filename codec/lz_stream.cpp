// Block streams: any amount of data as a sequence of blocks of 16384 data
// bytes (the last one shorter), moved between two files from where they stand.
#include <array>

#include "app/file.h"
#include "codec/lz_codec.h"
#include "link/error_state.h"
#include "ports/progress.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kFunctionCompressStream = 0x3B;
constexpr std::uint32_t kErrorCancelled = 0x32;

inline std::uint32_t Get16(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
}

}  // namespace

void EncodeStream(File& destination, File& source, CodecContext& context) {
    context.blockLength = 0;
    CodecContext work = context;
    std::array<std::uint8_t, kBlockPiece> piece;
    std::array<std::uint8_t, kMaxBlockSize> block;

    std::uint32_t remaining = context.dataLength;
    while (remaining > 0) {
        const std::uint32_t n = remaining < kBlockPiece ? remaining : static_cast<std::uint32_t>(kBlockPiece);
        if (source.Read(piece.data(), n) != static_cast<std::int64_t>(n)) {
            context.status = kCodecShortInput;
            return;
        }
        // Cancel is looked at once per piece, right after it was read.
        if (context.progress != nullptr) {
            context.progress->AddProgress(n);
            if (context.progress->IsCancelled()) {
                context.status = kCodecCancelled;
                ReportError(kFunctionCompressStream, kErrorCancelled);
                return;
            }
        }
        work.dataLength = n;
        EncodeBlock(block.data(), piece.data(), work);
        if (!destination.Write(block.data(), work.blockLength)) {
            context.status = kCodecWriteFailed;
            return;
        }
        context.blockLength += work.blockLength;
        remaining -= n;
    }
    // Without running checksums the work copy still holds the values given.
    context.dataChecksum = work.dataChecksum;
    context.blockChecksum = work.blockChecksum;
    context.status = kCodecOk;
}

void DecodeStream(File& destination, File& source, CodecContext& context) {
    context.status = kCodecDamagedStream;
    CodecContext work = context;
    std::array<std::uint8_t, kMaxBlockSize> block;
    std::array<std::uint8_t, kBlockPiece> data;

    std::uint32_t remaining = context.blockLength;
    while (remaining > 0) {
        if (remaining < kBlockHeaderSize ||
            source.Read(block.data(), kBlockHeaderSize) != static_cast<std::int64_t>(kBlockHeaderSize)) {
            context.status = kCodecShortBlock;
            return;
        }
        const std::uint32_t l = Get16(block.data());
        if (l > kBlockPiece) return;  // damage: the status stays at 1
        // A block that reaches past the stream's given length is cut off;
        // whatever follows in the file belongs to something else.
        if (remaining - kBlockHeaderSize < l ||
            source.Read(block.data() + kBlockHeaderSize, l) != static_cast<std::int64_t>(l)) {
            context.status = kCodecShortBlock;
            return;
        }
        DecodeBlock(data.data(), data.size(), block.data(), kBlockHeaderSize + l, work);
        if (work.status != kCodecOk) return;  // the status stays at 1
        if (!destination.Write(data.data(), work.dataLength)) {
            context.status = kCodecWriteFailed;
            return;
        }
        context.dataLength += work.dataLength;
        remaining -= kBlockHeaderSize + l;
    }
    // Running checksums, or the last block's checksums when they are off.
    context.dataChecksum = work.dataChecksum;
    context.blockChecksum = work.blockChecksum;
    context.status = kCodecOk;
}

}  // namespace tarnwick
