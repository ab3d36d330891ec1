// Blocks: round trips around the size boundaries, and every kind of damage
// a block from a file or the serial line can carry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "corpus.h"

namespace tarnwick {
namespace {

using testing::Bytes;

Bytes Encode(const Bytes& data) {
    Bytes block(kBlockHeaderSize + data.size());
    CodecContext context;
    context.dataLength = static_cast<std::uint32_t>(data.size());
    EncodeBlock(block.data(), data.data(), context);
    block.resize(context.blockLength);
    return block;
}

void Put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Rewrites the payload checksum so that a change reaches the later checks.
void Reseal(Bytes& block) {
    Put16(block, 4, Crc16(block.data() + 8, block.size() - 8, kCrcInit));
}

class BlockRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BlockRoundTrip, EveryGeneratorComesBack) {
    const std::size_t n = GetParam();
    for (const auto& g : testing::Generators()) {
        const Bytes data = g.make(n, 99);
        const Bytes block = Encode(data);
        ASSERT_LE(block.size(), kBlockHeaderSize + n);
        Bytes out(kBlockPiece, 0xCC);
        CodecContext context;
        context.dataLength = 12345;
        DecodeBlock(out.data(), out.size(), block.data(), block.size(), context);
        ASSERT_EQ(context.status, kCodecOk) << g.name << " n=" << n;
        ASSERT_EQ(context.dataLength, n) << g.name;
        ASSERT_EQ(context.blockLength, block.size()) << g.name;
        out.resize(n);
        ASSERT_EQ(out, data) << g.name << " n=" << n;
        // Without running checksums decoding reports the block's own ones.
        EXPECT_EQ(context.dataChecksum, Crc16(data.data(), n, kCrcInit));
        EXPECT_EQ(context.blockChecksum, block[4] | (block[5] << 8));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockRoundTrip,
                         ::testing::Values(0, 1, 2, 33, 34, 35, 4096, 6144, 6145, 6400, 6401, 16383, 16384));

TEST(BlockTest, RunningChecksumsCoverDataAndWholeBlocks) {
    const Bytes a = testing::Words(5000, 1);
    const Bytes b = testing::RandomBytes(700, 2);
    CodecContext enc;
    enc.runningChecksums = 1;
    Bytes blockA(8 + a.size()), blockB(8 + b.size());
    enc.dataLength = static_cast<std::uint32_t>(a.size());
    EncodeBlock(blockA.data(), a.data(), enc);
    blockA.resize(enc.blockLength);
    enc.dataLength = static_cast<std::uint32_t>(b.size());
    EncodeBlock(blockB.data(), b.data(), enc);
    blockB.resize(enc.blockLength);

    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    Bytes blocks = blockA;
    blocks.insert(blocks.end(), blockB.begin(), blockB.end());
    EXPECT_EQ(enc.dataChecksum, Crc16(all.data(), all.size(), kCrcInit));
    EXPECT_EQ(enc.blockChecksum, Crc16(blocks.data(), blocks.size(), kCrcInit));

    CodecContext dec;
    dec.runningChecksums = 1;
    Bytes out(kBlockPiece);
    DecodeBlock(out.data(), out.size(), blockA.data(), blockA.size(), dec);
    DecodeBlock(out.data(), out.size(), blockB.data(), blockB.size(), dec);
    EXPECT_EQ(dec.dataChecksum, enc.dataChecksum);
    EXPECT_EQ(dec.blockChecksum, enc.blockChecksum);
}

// A compressed block to damage in different ways.
class DamagedBlock : public ::testing::Test {
protected:
    Bytes data = testing::Words(3000, 5);
    Bytes block = Encode(data);
    Bytes out = Bytes(kBlockPiece);
    CodecContext context;

    std::uint16_t Decode(std::size_t capacity = kBlockPiece) {
        context.status = 0xEEEE;
        DecodeBlock(out.data(), capacity, block.data(), block.size(), context);
        return context.status;
    }
};

TEST_F(DamagedBlock, IsCompressedToBeginWith) {
    ASSERT_LT(block.size(), data.size());
    EXPECT_EQ(Decode(), kCodecOk);
}

TEST_F(DamagedBlock, ChangedPayloadByteIsAPayloadChecksumError) {
    for (std::size_t at : {std::size_t{8}, block.size() / 2, block.size() - 1}) {
        Bytes saved = block;
        block[at] ^= 0x10;
        EXPECT_EQ(Decode(), kCodecPayloadChecksum) << at;
        block = saved;
    }
}

TEST_F(DamagedBlock, WrongDataChecksumIsADataChecksumError) {
    block[6] ^= 0x01;
    EXPECT_EQ(Decode(), kCodecDataChecksum);
}

TEST_F(DamagedBlock, ResealedPayloadThatExpandsWronglyIsADataChecksumError) {
    block[20] ^= 0x04;
    Reseal(block);
    EXPECT_EQ(Decode(), kCodecDataChecksum);
}

TEST_F(DamagedBlock, CutBlockIsShort) {
    context.status = 0;
    DecodeBlock(out.data(), out.size(), block.data(), block.size() - 1, context);
    EXPECT_EQ(context.status, kCodecShortBlock);
    DecodeBlock(out.data(), out.size(), block.data(), 7, context);
    EXPECT_EQ(context.status, kCodecShortBlock);
}

TEST_F(DamagedBlock, PayloadLengthAbove16384IsDamage) {
    Bytes big(8 + 16385, 0);
    Put16(big, 0, 16385);
    Put16(big, 2, 16384);
    block = big;
    Reseal(block);
    EXPECT_EQ(Decode(), kCodecPayloadChecksum);
}

TEST_F(DamagedBlock, DataLongerThanTheOutputIsRefused) {
    EXPECT_EQ(Decode(data.size() - 1), kCodecDataChecksum);
    EXPECT_EQ(Decode(data.size()), kCodecOk);
}

TEST_F(DamagedBlock, DataLengthThatDoesNotMatchTheStreamIsRefused) {
    // The stream expands to 3000 bytes; a header that claims one more or one
    // less is refused before any checksum could happen to agree.
    Put16(block, 2, static_cast<unsigned>(data.size() + 1));
    EXPECT_EQ(Decode(), kCodecDataChecksum);
    Put16(block, 2, static_cast<unsigned>(data.size() - 1));
    EXPECT_EQ(Decode(), kCodecDataChecksum);
}

TEST_F(DamagedBlock, ZeroLengthBlockIsEmptyData) {
    block = Encode({});
    ASSERT_EQ(block, (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Decode(), kCodecOk);
    EXPECT_EQ(context.dataLength, 0u);
    EXPECT_EQ(context.blockLength, 8u);
}

// Streams that try to leave the buffers.
struct StreamCase {
    const char* name;
    Bytes stream;
    std::size_t capacity;
    std::size_t produced;  // bytes before the damage was seen
    bool damaged;
};

class DecompressHostile : public ::testing::TestWithParam<StreamCase> {};

TEST_P(DecompressHostile, StaysInsideAndReports) {
    const auto& c = GetParam();
    Bytes out(c.capacity + 16, 0xAB);
    bool damaged = !c.damaged;
    const std::uint16_t n = Decompress(out.data(), c.capacity, c.stream.data(), c.stream.size(), &damaged);
    EXPECT_EQ(damaged, c.damaged);
    EXPECT_EQ(n, c.produced);
    for (std::size_t i = c.capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << "wrote at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecompressHostile,
    ::testing::Values(
        StreamCase{"empty", {}, 10, 0, false},
        StreamCase{"flag_only", {0x00}, 10, 0, false},
        StreamCase{"distance_before_start", {0x40, 'a', 0x02, 0x10}, 100, 1, true},
        StreamCase{"distance_zero", {0x40, 'a', 0x00, 0x10}, 100, 1, true},
        StreamCase{"literal_past_end", {0x00, 'a', 'b', 'c'}, 2, 2, true},
        StreamCase{"match_past_end", {0x40, 'a', 0x01, 0xF0, 200}, 100, 1, true},
        StreamCase{"match_fills_exactly", {0x40, 'a', 0x01, 0xF0, 99}, 100, 100, false},
        StreamCase{"cut_match_word", {0x40, 'a', 0x01}, 100, 1, true},
        StreamCase{"cut_length_byte", {0x40, 'a', 0x01, 0xF0}, 100, 1, true},
        StreamCase{"long_match_of_zero", {0x40, 'a', 0x01, 0xF0, 0x00}, 100, 1, false},
        StreamCase{"short_match_of_two", {0x40, 'a', 0x01, 0x00}, 100, 3, false},
        StreamCase{"overlapping_copy", {0x20, 'x', 'y', 0x02, 0xF0, 18}, 100, 20, false},
        StreamCase{"second_group", {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x80, 0x08, 0x10}, 100, 11, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecompressTest, AcceptsANullDamageFlag) {
    const Bytes stream = {0x40, 'a', 0x02, 0x10};
    Bytes out(10);
    EXPECT_EQ(Decompress(out.data(), out.size(), stream.data(), stream.size(), nullptr), 1);
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// Streams long enough for the expander's whole-group path: a literal
// prefix, one match of every short distance and many lengths, then filler.
TEST(DecompressFastPath, CopiesEveryDistanceAndLength) {
    for (unsigned distance = 1; distance <= 20; ++distance) {
        for (unsigned count : {0u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 64u, 255u}) {
            testing::Bytes stream, expected;
            // Three groups of 8 literals.
            for (int g = 0; g < 3; ++g) {
                stream.push_back(0x00);
                for (int i = 0; i < 8; ++i) {
                    const auto b = static_cast<std::uint8_t>(g * 8 + i + 1);
                    stream.push_back(b);
                    expected.push_back(b);
                }
            }
            // One match, then literals to keep the stream long.
            stream.push_back(0x80);
            if (count >= 2 && count <= 16) {
                const unsigned w = ((count - 2) << 12) | distance;
                stream.push_back(static_cast<std::uint8_t>(w));
                stream.push_back(static_cast<std::uint8_t>(w >> 8));
            } else {
                const unsigned w = 0xF000u | distance;
                stream.push_back(static_cast<std::uint8_t>(w));
                stream.push_back(static_cast<std::uint8_t>(w >> 8));
                stream.push_back(static_cast<std::uint8_t>(count));
            }
            for (unsigned i = 0; i < count; ++i) expected.push_back(expected[expected.size() - distance]);
            // The rest of the match's group, then five more groups of literals.
            for (int i = 0; i < 7 + 5 * 8; ++i) {
                if (i >= 7 && (i - 7) % 8 == 0) stream.push_back(0x00);
                stream.push_back(0xA5);
                expected.push_back(0xA5);
            }
            testing::Bytes out(4096, 0);
            bool damaged = true;
            const std::uint16_t n = Decompress(out.data(), out.size(), stream.data(), stream.size(), &damaged);
            ASSERT_FALSE(damaged) << distance << "/" << count;
            out.resize(n);
            ASSERT_EQ(out, expected) << "distance " << distance << " count " << count;
        }
    }
}

TEST(DecompressFastPath, DamageDeepInALongStreamStopsThere) {
    testing::Bytes stream;
    for (int g = 0; g < 10; ++g) {
        stream.push_back(0x00);
        for (int i = 0; i < 8; ++i) stream.push_back(static_cast<std::uint8_t>(i));
    }
    stream.push_back(0x40);  // literal, then a match reaching before the start
    stream.push_back(0x11);
    stream.push_back(0xA0);
    stream.push_back(0x0F);  // distance 4000
    stream.insert(stream.end(), 40, 0x00);
    testing::Bytes out(4096 + 16, 0xAB);
    bool damaged = false;
    const std::uint16_t n = Decompress(out.data(), 4096, stream.data(), stream.size(), &damaged);
    EXPECT_TRUE(damaged);
    EXPECT_EQ(n, 81);
}

}  // namespace
}  // namespace tarnwick
