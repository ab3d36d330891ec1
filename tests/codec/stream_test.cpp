// Block streams between files: round trips over sizes around the piece
// boundary, cut and damaged streams, failing files and Cancel.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "app/file.h"
#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "corpus.h"
#include "link/error_state.h"
#include "memory_file.h"
#include "support/fakes.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::MemoryFile;

CodecContext EncodeContext(std::size_t n) {
    CodecContext c;
    c.dataLength = static_cast<std::uint32_t>(n);
    c.runningChecksums = 1;
    return c;
}

CodecContext DecodeContext(std::size_t blockBytes) {
    CodecContext c;
    c.blockLength = static_cast<std::uint32_t>(blockBytes);
    c.dataLength = 0;
    c.runningChecksums = 1;
    return c;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }

    // Encodes data into `blocks`; returns the encoder's context.
    CodecContext EncodeAll(const Bytes& data) {
        MemoryFile source(data);
        MemoryFile destination;
        CodecContext c = EncodeContext(data.size());
        EncodeStream(destination, source, c);
        blocks = destination.Bytes();
        return c;
    }

    CodecContext DecodeAll(const Bytes& stream, std::size_t blockBytes, Bytes& data) {
        MemoryFile source(stream);
        MemoryFile destination;
        CodecContext c = DecodeContext(blockBytes);
        DecodeStream(destination, source, c);
        data = destination.Bytes();
        return c;
    }

    Bytes blocks;
};

class StreamRoundTrip : public StreamTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StreamRoundTrip, GivesTheDataAndItsChecksumsBack) {
    const std::size_t n = GetParam();
    const Bytes data = testing::CodeLike(n, static_cast<std::uint32_t>(n));
    const CodecContext enc = EncodeAll(data);
    ASSERT_EQ(enc.status, kCodecOk);
    EXPECT_EQ(enc.blockLength, blocks.size());
    EXPECT_EQ(enc.dataChecksum, Crc16(data.data(), n, kCrcInit));
    EXPECT_EQ(enc.blockChecksum, Crc16(blocks.data(), blocks.size(), kCrcInit));

    // One block per started piece of 16384 bytes, back to back.
    std::size_t at = 0, pieces = 0;
    while (at < blocks.size()) {
        const std::size_t u = blocks[at + 2] | (blocks[at + 3] << 8);
        EXPECT_EQ(u, std::min<std::size_t>(kBlockPiece, n - pieces * kBlockPiece));
        at += kBlockHeaderSize + (blocks[at] | (blocks[at + 1] << 8));
        ++pieces;
    }
    EXPECT_EQ(at, blocks.size());
    EXPECT_EQ(pieces, (n + kBlockPiece - 1) / kBlockPiece);

    Bytes back;
    const CodecContext dec = DecodeAll(blocks, blocks.size(), back);
    EXPECT_EQ(dec.status, kCodecOk);
    EXPECT_EQ(dec.dataLength, n);
    EXPECT_EQ(back, data);
    EXPECT_EQ(dec.dataChecksum, enc.dataChecksum);
    EXPECT_EQ(dec.blockChecksum, enc.blockChecksum);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamRoundTrip,
                         ::testing::Values(0, 1, 33, 34, 6144, 6145, 6400, 16383, 16384, 16385, 3 * 16384,
                                           3 * 16384 + 77));

TEST_F(StreamTest, StreamsContinueFromWhereTheFilesStand) {
    const Bytes data = testing::Words(20000, 3);
    Bytes prefixed(100 + data.size(), 0x77);
    for (std::size_t i = 0; i < data.size(); ++i) prefixed[100 + i] = data[i];
    MemoryFile source(prefixed);
    source.Seek(100, File::Whence::Begin);
    MemoryFile packed(Bytes(10, 0x66));
    packed.Seek(10, File::Whence::Begin);
    CodecContext enc = EncodeContext(data.size());
    EncodeStream(packed, source, enc);
    ASSERT_EQ(enc.status, kCodecOk);
    ASSERT_EQ(packed.Bytes().size(), 10 + enc.blockLength);

    packed.Seek(10, File::Whence::Begin);
    MemoryFile out(Bytes(5, 0x55));
    out.Seek(5, File::Whence::Begin);
    CodecContext dec = DecodeContext(enc.blockLength);
    dec.dataLength = 7;  // the caller's count is added to
    DecodeStream(out, packed, dec);
    ASSERT_EQ(dec.status, kCodecOk);
    EXPECT_EQ(dec.dataLength, 7 + data.size());
    EXPECT_EQ(Bytes(out.Bytes().begin() + 5, out.Bytes().end()), data);
}

TEST_F(StreamTest, CutLastBlockIsShort) {
    const Bytes data = testing::Words(40000, 4);
    EncodeAll(data);
    for (std::size_t cut : {std::size_t{1}, std::size_t{100}}) {
        Bytes stream(blocks.begin(), blocks.end() - static_cast<std::ptrdiff_t>(cut));
        Bytes back;
        // The file ends early but the caller expects the whole stream.
        const CodecContext dec = DecodeAll(stream, blocks.size(), back);
        EXPECT_EQ(dec.status, kCodecShortBlock) << cut;
        // The two complete blocks were decoded and written.
        EXPECT_EQ(dec.dataLength, 2 * kBlockPiece);
        EXPECT_EQ(back, Bytes(data.begin(), data.begin() + 2 * kBlockPiece));
    }
}

TEST_F(StreamTest, CutHeaderIsShort) {
    EncodeAll(testing::Words(20000, 4));
    const std::size_t first = kBlockHeaderSize + (blocks[0] | (blocks[1] << 8));
    Bytes back;
    const CodecContext dec = DecodeAll(Bytes(blocks.begin(), blocks.begin() + first + 5), blocks.size(), back);
    EXPECT_EQ(dec.status, kCodecShortBlock);
    EXPECT_EQ(dec.dataLength, kBlockPiece);
}

TEST_F(StreamTest, BlockReachingPastTheGivenLengthIsShort) {
    EncodeAll(testing::Words(20000, 4));
    Bytes back;
    // The file holds everything, but the caller's length ends inside block 2.
    CodecContext dec = DecodeAll(blocks, blocks.size() - 1, back);
    EXPECT_EQ(dec.status, kCodecShortBlock);
    EXPECT_EQ(dec.dataLength, kBlockPiece);
    // Or leaves fewer bytes than a header.
    const std::size_t first = kBlockHeaderSize + (blocks[0] | (blocks[1] << 8));
    dec = DecodeAll(blocks, first + 3, back);
    EXPECT_EQ(dec.status, kCodecShortBlock);
}

TEST_F(StreamTest, DamagedBlockStopsTheStream) {
    const Bytes data = testing::Words(40000, 6);
    const CodecContext enc = EncodeAll(data);
    const std::size_t first = kBlockHeaderSize + (blocks[0] | (blocks[1] << 8));
    Bytes damaged = blocks;
    damaged[first + 20] ^= 0xFF;  // a payload byte of the second block
    Bytes back;
    const CodecContext dec = DecodeAll(damaged, damaged.size(), back);
    EXPECT_EQ(dec.status, kCodecDamagedStream);
    EXPECT_EQ(dec.dataLength, kBlockPiece);
    EXPECT_EQ(back, Bytes(data.begin(), data.begin() + kBlockPiece));
    // The running checksums are not handed back for a broken stream.
    EXPECT_EQ(dec.dataChecksum, 0xFFFF);
    EXPECT_NE(dec.blockChecksum, enc.blockChecksum);
}

TEST_F(StreamTest, OversizedPayloadLengthIsDamage) {
    Bytes stream(8 + 16385, 0);
    stream[0] = 0x01;  // 16385
    stream[1] = 0x40;
    Bytes back;
    const CodecContext dec = DecodeAll(stream, stream.size(), back);
    EXPECT_EQ(dec.status, kCodecDamagedStream);
    EXPECT_TRUE(back.empty());
}

TEST_F(StreamTest, ShortSourceWhileEncoding) {
    MemoryFile source(testing::Words(20000, 7));
    MemoryFile destination;
    CodecContext c = EncodeContext(30000);
    EncodeStream(destination, source, c);
    EXPECT_EQ(c.status, kCodecShortInput);
    // The first piece was written before the second came up short.
    EXPECT_EQ(c.blockLength, destination.Bytes().size());
    EXPECT_GT(c.blockLength, 0u);
}

TEST_F(StreamTest, ReadErrorWhileEncodingIsShortInput) {
    MemoryFile source(testing::Words(20000, 7));
    source.readErrorAt = 0;
    MemoryFile destination;
    CodecContext c = EncodeContext(20000);
    EncodeStream(destination, source, c);
    EXPECT_EQ(c.status, kCodecShortInput);
    EXPECT_EQ(c.blockLength, 0u);
}

TEST_F(StreamTest, RefusedWriteIsReportedNotSwallowed) {
    MemoryFile source(testing::Words(40000, 8));
    MemoryFile destination;
    destination.writeLimit = 1000;
    CodecContext c = EncodeContext(40000);
    EncodeStream(destination, source, c);
    EXPECT_EQ(c.status, kCodecWriteFailed);

    const Bytes data = testing::Words(40000, 8);
    EncodeAll(data);
    MemoryFile packed(blocks);
    MemoryFile out;
    out.writeLimit = kBlockPiece + 10;
    CodecContext d = DecodeContext(blocks.size());
    DecodeStream(out, packed, d);
    EXPECT_EQ(d.status, kCodecWriteFailed);
    EXPECT_EQ(d.dataLength, kBlockPiece);
}

TEST_F(StreamTest, CancelStopsAfterTheNextPieceAndIsRecorded) {
    MemoryFile source(testing::Words(50000, 9));
    MemoryFile destination;
    testing::RecordingProgress progress;
    progress.cancelAfterBytes = 2 * kBlockPiece;
    CodecContext c = EncodeContext(50000);
    c.progress = &progress;
    EncodeStream(destination, source, c);
    EXPECT_EQ(c.status, kCodecCancelled);
    EXPECT_EQ(progress.done, 2 * kBlockPiece);
    // The piece read when Cancel was seen is not written.
    EXPECT_EQ(c.blockLength, destination.Bytes().size());
    EXPECT_EQ(destination.Bytes()[2] | (destination.Bytes()[3] << 8), static_cast<int>(kBlockPiece));
    const auto errors = PendingErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].function, 0x3Bu);
    EXPECT_EQ(errors[0].code, 0x32u);
}

TEST_F(StreamTest, CancelAfterTheLastPieceIsNotNoticed) {
    MemoryFile source(testing::Words(20000, 9));
    MemoryFile destination;
    testing::RecordingProgress progress;
    CodecContext c = EncodeContext(20000);
    c.progress = &progress;
    EncodeStream(destination, source, c);
    progress.cancelled = true;
    EXPECT_EQ(c.status, kCodecOk);
    EXPECT_EQ(progress.done, 20000u);
    EXPECT_TRUE(PendingErrors().empty());
}

TEST_F(StreamTest, WorksOnRealFiles) {
    char srcName[] = "/tmp/codec-srcXXXXXX";
    char packName[] = "/tmp/codec-packXXXXXX";
    File src, pack;
    src.Adopt(mkstemp(srcName), srcName);
    pack.Adopt(mkstemp(packName), packName);
    const Bytes data = testing::CodeLike(70000, 10);
    ASSERT_TRUE(src.Write(data.data(), data.size()));
    src.Seek(0);
    CodecContext enc = EncodeContext(data.size());
    EncodeStream(pack, src, enc);
    ASSERT_EQ(enc.status, kCodecOk);
    pack.Seek(0);
    src.Seek(0);
    CodecContext dec = DecodeContext(enc.blockLength);
    DecodeStream(src, pack, dec);  // decode over the source again
    EXPECT_EQ(dec.status, kCodecOk);
    src.Seek(0);
    Bytes read(data.size());
    EXPECT_EQ(src.Read(read.data(), read.size()), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(read, data);
    unlink(srcName);
    unlink(packName);
}

}  // namespace
}  // namespace tarnwick
