// The checksum against a bit-by-bit computation of the same polynomial,
// over lengths and alignments that reach every path of the table code.
#include <gtest/gtest.h>

#include <random>

#include "codec/crc16.h"
#include "corpus.h"

namespace tarnwick {
namespace {

std::uint16_t BitwiseCrc(const std::uint8_t* p, std::size_t n, std::uint16_t crc) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return crc;
}

TEST(Crc16Test, MatchesTheBitwiseDefinition) {
    const testing::Bytes data = testing::RandomBytes(300, 11);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t n = 0; n + offset <= data.size(); n += (n < 40 ? 1 : 37)) {
            for (std::uint16_t init : {std::uint16_t{0xFFFF}, std::uint16_t{0}, std::uint16_t{0x1234}}) {
                ASSERT_EQ(Crc16(data.data() + offset, n, init), BitwiseCrc(data.data() + offset, n, init))
                    << "offset " << offset << " n " << n;
            }
        }
    }
}

TEST(Crc16Test, LengthZeroGivesTheInitialValue) {
    EXPECT_EQ(Crc16(nullptr, 0, 0xBEEF), 0xBEEF);
}

TEST(Crc16Test, RunsOnOverPieces) {
    const testing::Bytes data = testing::RandomBytes(40000, 12);
    const std::uint16_t whole = Crc16(data.data(), data.size(), kCrcInit);
    const std::uint16_t first = Crc16(data.data(), 16384, kCrcInit);
    EXPECT_EQ(Crc16(data.data() + 16384, data.size() - 16384, first), whole);
}

TEST(Crc16Test, ReseedEqualsAFreshRunFromTheOtherInitialValue) {
    std::mt19937 rng(13);
    const testing::Bytes data = testing::RandomBytes(70000, 14);
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = round < 20 ? static_cast<std::size_t>(round) : rng() % data.size();
        const auto initial = static_cast<std::uint16_t>(rng());
        const std::uint16_t fresh = Crc16(data.data(), n, kCrcInit);
        ASSERT_EQ(Crc16Reseed(fresh, initial, n), Crc16(data.data(), n, initial)) << n;
    }
}

}  // namespace
}  // namespace tarnwick
