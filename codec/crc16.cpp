#include "codec/crc16.h"


namespace tarnwick {
namespace {

// tables[0] is the classic byte table: crc = tables[0][(crc ^ byte) & 0xFF] ^ (crc >> 8).
// tables[k] is a byte followed by k zero bytes, so sixteen bytes can be
// folded in at once with independent lookups ("slicing"); the result is the
// same as sixteen steps of the byte table.
constexpr int kSlices = 16;

struct CrcTables {
    std::uint16_t t[kSlices][256];
};

constexpr CrcTables MakeTables() {
    CrcTables r{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t c = static_cast<std::uint16_t>(i);
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? static_cast<std::uint16_t>((c >> 1) ^ 0x8408u) : static_cast<std::uint16_t>(c >> 1);
        r.t[0][i] = c;
    }
    for (int s = 1; s < kSlices; ++s) {
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint16_t prev = r.t[s - 1][i];
            r.t[s][i] = static_cast<std::uint16_t>((prev >> 8) ^ r.t[0][prev & 0xFFu]);
        }
    }
    return r;
}

constexpr CrcTables kTables = MakeTables();

// The effect of 2^k zero bytes on the checksum register, as 16x16 bit
// matrices over GF(2) (column j: what bit j of the register becomes).
struct ZeroMatrices {
    std::uint16_t m[64][16];
};

constexpr std::uint16_t Apply(const std::uint16_t (&matrix)[16], std::uint16_t x) {
    std::uint16_t r = 0;
    for (int j = 0; j < 16; ++j) {
        if ((x >> j) & 1u) r = static_cast<std::uint16_t>(r ^ matrix[j]);
    }
    return r;
}

constexpr ZeroMatrices MakeZeroMatrices() {
    ZeroMatrices z{};
    for (int j = 0; j < 16; ++j) {
        const auto c = static_cast<std::uint16_t>(1u << j);
        z.m[0][j] = static_cast<std::uint16_t>(kTables.t[0][c & 0xFFu] ^ (c >> 8));
    }
    for (int k = 1; k < 64; ++k) {
        for (int j = 0; j < 16; ++j) z.m[k][j] = Apply(z.m[k - 1], z.m[k - 1][j]);
    }
    return z;
}

constexpr ZeroMatrices kZeros = MakeZeroMatrices();

}  // namespace

std::uint16_t Crc16(const void* data, std::size_t length, std::uint16_t initial) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t crc = initial;
    const auto& t = kTables.t;
    while (length >= kSlices) {
        const std::uint32_t x = crc ^ (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8));
        crc = t[15][x & 0xFFu] ^ t[14][x >> 8] ^ t[13][p[2]] ^ t[12][p[3]] ^ t[11][p[4]] ^ t[10][p[5]] ^
              t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^
              t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        p += kSlices;
        length -= kSlices;
    }
    while (length-- > 0) crc = t[0][(crc ^ *p++) & 0xFFu] ^ (crc >> 8);
    return static_cast<std::uint16_t>(crc);
}

std::uint16_t Crc16Reseed(std::uint16_t fresh, std::uint16_t initial, std::size_t length) {
    // Crc16(d, n, a) ^ Crc16(d, n, b) is the register a ^ b run through n zero bytes.
    auto x = static_cast<std::uint16_t>(initial ^ kCrcInit);
    for (int k = 0; length != 0 && x != 0; ++k, length >>= 1) {
        if (length & 1u) x = Apply(kZeros.m[k], x);
    }
    return static_cast<std::uint16_t>(fresh ^ x);
}

}  // namespace tarnwick
