// The worked examples of the stored format, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "corpus.h"
#include "memory_file.h"
#include "reference_lz.h"

namespace tarnwick {
namespace {

using testing::Bytes;

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Repeat(const std::string& s, int times) {
    std::string r;
    for (int i = 0; i < times; ++i) r += s;
    return r;
}

Bytes CompressAll(const Bytes& data) {
    Bytes out(data.size() * 2 + 64);
    const std::uint16_t n = Compress(out.data(), static_cast<int>(out.size()), data.data(),
                                     static_cast<std::int16_t>(data.size()));
    if (n == kCompressFailed) return {};
    out.resize(n);
    return out;
}

Bytes EncodeOneBlock(const Bytes& data, CodecContext& context) {
    Bytes block(kBlockHeaderSize + data.size());
    context.dataLength = static_cast<std::uint32_t>(data.size());
    EncodeBlock(block.data(), data.data(), context);
    block.resize(context.blockLength);
    return block;
}

TEST(Crc16Golden, CheckValueOfTheDigits) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc16(digits.data(), digits.size(), kCrcInit), 0x6F91);
}

TEST(Crc16Golden, ChecksumOfAbc) {
    EXPECT_EQ(Crc16("abc", 3, kCrcInit), 0x61DA);
}

struct CompressCase {
    const char* name;
    Bytes input;
    Bytes expected;
};

class CompressGolden : public ::testing::TestWithParam<CompressCase> {};

TEST_P(CompressGolden, GivesTheStoredBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(CompressAll(c.input), c.expected);
    Bytes ref(c.input.size() * 2 + 64);
    ref.resize(testing::ReferenceCompress(ref.data(), static_cast<int>(ref.size()), c.input.data(),
                                          static_cast<std::int16_t>(c.input.size())));
    EXPECT_EQ(ref, c.expected) << "reference compressor";
}

TEST_P(CompressGolden, ExpandsBack) {
    const auto& c = GetParam();
    Bytes out(c.input.size());
    bool damaged = true;
    const std::uint16_t n = Decompress(out.data(), out.size(), c.expected.data(), c.expected.size(), &damaged);
    EXPECT_FALSE(damaged);
    EXPECT_EQ(n, c.input.size());
    EXPECT_EQ(out, c.input);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, CompressGolden,
    ::testing::Values(
        CompressCase{"abcabcabc", Ascii("abcabcabc"), {0x10, 0x61, 0x62, 0x63, 0x03, 0x40}},
        CompressCase{"twenty_a", Ascii(std::string(20, 'a')), {0x20, 0x61, 0x61, 0x02, 0xF0, 0x12}},
        CompressCase{"abc_times_24", Ascii(Repeat("abc", 24)), {0x10, 0x61, 0x62, 0x63, 0x03, 0xF0, 0x45}},
        CompressCase{"zeros_34", Bytes(34, 0), {0x20, 0x00, 0x00, 0x02, 0xF0, 0x20}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompressTest, RefusesEmptyAndNegativeLengths) {
    Bytes out(100);
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(Compress(out.data(), 100, data, 0), kCompressFailed);
    EXPECT_EQ(Compress(out.data(), 100, data, -5), kCompressFailed);
}

TEST(CompressTest, RefusesACapacityWithoutBudget) {
    Bytes out(64);
    const Bytes data(20, 'a');
    EXPECT_EQ(Compress(out.data(), 25, data.data(), 20), kCompressFailed);
    EXPECT_EQ(Compress(out.data(), 0, data.data(), 20), kCompressFailed);
    EXPECT_EQ(Compress(out.data(), -3, data.data(), 20), kCompressFailed);
    EXPECT_EQ(Compress(out.data(), 26, data.data(), 20), 6);
}

TEST(BlockGolden, AbcTimes24IsACompressedBlock) {
    CodecContext context;
    const Bytes block = EncodeOneBlock(Ascii(Repeat("abc", 24)), context);
    const Bytes expected = {0x07, 0x00, 0x48, 0x00, 0x0B, 0xC8, 0x61, 0x26,
                            0x10, 0x61, 0x62, 0x63, 0x03, 0xF0, 0x45};
    EXPECT_EQ(block, expected);
    EXPECT_EQ(context.blockLength, 15u);
}

TEST(BlockGolden, AbcIsAStoredBlock) {
    CodecContext context;
    const Bytes block = EncodeOneBlock(Ascii("abc"), context);
    const Bytes expected = {0x03, 0x00, 0x03, 0x00, 0xDA, 0x61, 0xDA, 0x61, 0x61, 0x62, 0x63};
    EXPECT_EQ(block, expected);
}

TEST(BlockGolden, ThirtyFourZerosMakeAFourteenByteBlock) {
    CodecContext context;
    const Bytes block = EncodeOneBlock(Bytes(34, 0), context);
    ASSERT_EQ(block.size(), 14u);
    EXPECT_EQ(Bytes(block.begin() + 8, block.end()), (Bytes{0x20, 0x00, 0x00, 0x02, 0xF0, 0x20}));
}

TEST(BlockGolden, ThirtyThreeBytesAreAlwaysStored) {
    CodecContext context;
    const Bytes block = EncodeOneBlock(Bytes(33, 0), context);
    ASSERT_EQ(block.size(), 41u);
    EXPECT_EQ(block[0], 33);
    EXPECT_EQ(block[2], 33);
}

TEST(BlockGolden, SixteenKiBOfOneByteAre206Bytes) {
    const Bytes data(16384, 0x5A);
    // Two literals, then 64 long matches of distance 2 and length 255 and
    // one of length 62, eight items to a flag byte.
    std::vector<Bytes> items = {{0x5A}, {0x5A}};
    for (int i = 0; i < 64; ++i) items.push_back({0x02, 0xF0, 0xFF});
    items.push_back({0x02, 0xF0, 62});
    Bytes expected;
    for (std::size_t g = 0; g < items.size(); g += 8) {
        std::uint8_t flags = 0;
        Bytes body;
        for (std::size_t i = g; i < items.size() && i < g + 8; ++i) {
            if (items[i].size() > 1) flags |= static_cast<std::uint8_t>(0x80 >> (i - g));
            body.insert(body.end(), items[i].begin(), items[i].end());
        }
        expected.push_back(flags);
        expected.insert(expected.end(), body.begin(), body.end());
    }
    ASSERT_EQ(expected.size(), 206u);
    EXPECT_EQ(CompressAll(data), expected);

    CodecContext context;
    const Bytes block = EncodeOneBlock(data, context);
    EXPECT_EQ(context.blockLength, 206u + 8u);
    EXPECT_EQ(Bytes(block.begin() + 8, block.end()), expected);
}

TEST(BlockGolden, RandomDataIsStored) {
    const Bytes data = testing::RandomBytes(16384, 7);
    CodecContext context;
    const Bytes block = EncodeOneBlock(data, context);
    ASSERT_EQ(context.blockLength, 16392u);
    EXPECT_EQ(block[0] | (block[1] << 8), 16384);
    EXPECT_EQ(block[2] | (block[3] << 8), 16384);
    EXPECT_EQ(Bytes(block.begin() + 8, block.end()), data);
}

TEST(BlockGolden, APacketWithoutPayloadStaysStored) {
    // A 16-byte request is a 24-byte block, so the link sends it as it is.
    CodecContext context;
    EncodeOneBlock(Bytes(16, 0), context);
    EXPECT_EQ(context.blockLength, 24u);
}

TEST(StreamGolden, AbcWithRunningChecksums) {
    testing::MemoryFile source(Ascii("abc"));
    testing::MemoryFile destination;
    CodecContext context;
    context.dataLength = 3;
    context.blockLength = 3;  // the import starts it at the data size; it is reset
    context.runningChecksums = 1;
    EncodeStream(destination, source, context);
    EXPECT_EQ(context.status, kCodecOk);
    EXPECT_EQ(context.blockLength, 11u);
    EXPECT_EQ(context.dataChecksum, 0x61DA);
    EXPECT_EQ(context.blockChecksum, 0x28A9);
    EXPECT_EQ(destination.Bytes(), (Bytes{0x03, 0x00, 0x03, 0x00, 0xDA, 0x61, 0xDA, 0x61, 0x61, 0x62, 0x63}));
}

TEST(StreamGolden, AbcTimes24AsAStream) {
    testing::MemoryFile source(Ascii(Repeat("abc", 24)));
    testing::MemoryFile destination;
    CodecContext context;
    context.dataLength = 72;
    EncodeStream(destination, source, context);
    EXPECT_EQ(context.status, kCodecOk);
    EXPECT_EQ(destination.Bytes(), (Bytes{0x07, 0x00, 0x48, 0x00, 0x0B, 0xC8, 0x61, 0x26, 0x10, 0x61,
                                          0x62, 0x63, 0x03, 0xF0, 0x45}));
    // Running checksums off: both are left as given.
    EXPECT_EQ(context.dataChecksum, 0xFFFF);
    EXPECT_EQ(context.blockChecksum, 0xFFFF);
}

}  // namespace
}  // namespace tarnwick
