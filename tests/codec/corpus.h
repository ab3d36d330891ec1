#pragma once
// Inputs for the codec tests: a table of generators that between them give
// the compressor long and short matches, long and weak hash chains, matches
// at the edge of the reach and runs that cross a window slide.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

struct Generator {
    const char* name;
    Bytes (*make)(std::size_t n, std::uint32_t seed);
};

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

inline Bytes FromAlphabet(std::size_t n, std::uint32_t seed, const char* alphabet) {
    std::mt19937 rng(seed);
    const std::string a(alphabet);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(a[rng() % a.size()]);
    return b;
}

inline Bytes Periodic(std::size_t n, std::uint32_t seed, std::size_t period) {
    const Bytes unit = RandomBytes(period, seed);
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = unit[i % period];
    return b;
}

// Random data in which stretches repeat from exactly `distance` bytes back.
inline Bytes EchoAt(std::size_t n, std::uint32_t seed, std::size_t distance) {
    std::mt19937 rng(seed);
    Bytes b = RandomBytes(n, seed ^ 0x5A5A5A5Au);
    for (std::size_t i = distance; i < n; ++i) {
        if ((rng() % 100) < 85) b[i] = b[i - distance];
    }
    return b;
}

inline Bytes Words(std::size_t n, std::uint32_t seed) {
    static const char* const kWords[] = {"der ", "die ", "das ", "Bild ", "Geraet ", "Block ",
                                         "Daten ", "und ", "oder ", "nicht ", "Flash ", "\r\n",
                                         "Transfer ", "Abbild ", "Pruefsumme ", "0x1F "};
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        for (const char* p = w; *p; ++p) b.push_back(static_cast<std::uint8_t>(*p));
    }
    b.resize(n);
    return b;
}

// Looks like machine code: opcodes from a small set, little-endian
// addresses and offsets, padding runs, repeated call sequences.
inline Bytes CodeLike(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    static const std::uint8_t kOps[] = {0x48, 0x89, 0x8B, 0xE8, 0xC3, 0x55, 0x5D, 0x0F, 0x85,
                                        0x84, 0x74, 0x75, 0xEB, 0x31, 0xC0, 0xFF, 0x83, 0xC4};
    Bytes b;
    b.reserve(n + 64);
    while (b.size() < n) {
        const unsigned kind = rng() % 10;
        if (kind < 5) {
            b.push_back(kOps[rng() % sizeof kOps]);
        } else if (kind < 7) {
            const std::uint32_t addr = 0x401000u + (rng() % 4096u) * 4u;
            for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(addr >> (8 * k)));
        } else if (kind < 8) {
            const std::size_t run = rng() % 40;
            for (std::size_t k = 0; k < run; ++k) b.push_back(rng() % 2 ? 0x00 : 0x90);
        } else if (b.size() > 64) {
            const std::size_t len = 3 + rng() % 30;
            const std::size_t from = b.size() - 1 - rng() % std::min<std::size_t>(b.size() - 1, 5000);
            for (std::size_t k = 0; k < len; ++k) b.push_back(b[from + k]);
        }
    }
    b.resize(n);
    return b;
}

// Runs of one byte of every length, separated by random bytes.
inline Bytes Runs(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 600);
    while (b.size() < n) {
        const std::size_t len = rng() % 600;
        const auto v = static_cast<std::uint8_t>(rng() % 4);
        b.insert(b.end(), len, v);
        b.push_back(static_cast<std::uint8_t>(rng()));
    }
    b.resize(n);
    return b;
}

// Mostly zeros with a few random bytes: matches of exactly 64 and around it.
inline Bytes Sparse(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n, 0);
    for (auto& x : b) {
        if (rng() % 61 == 0) x = static_cast<std::uint8_t>(rng());
    }
    return b;
}

inline const std::vector<Generator>& Generators() {
    static const std::vector<Generator> g = {
        {"random", RandomBytes},
        {"zeros", [](std::size_t n, std::uint32_t) { return Bytes(n, 0); }},
        {"one_byte", [](std::size_t n, std::uint32_t s) { return Bytes(n, static_cast<std::uint8_t>(s | 1)); }},
        {"two_letters", [](std::size_t n, std::uint32_t s) { return FromAlphabet(n, s, "ab"); }},
        {"four_letters", [](std::size_t n, std::uint32_t s) { return FromAlphabet(n, s, "acgt"); }},
        // Bytes 0, 1, 2: many different triples share a hash value.
        {"hash_collisions", [](std::size_t n, std::uint32_t s) { return FromAlphabet(n, s, "\x01\x02\x03\x04\x06\x08"); }},
        {"words", Words},
        {"code_like", CodeLike},
        {"runs", Runs},
        {"sparse", Sparse},
        {"period_2", [](std::size_t n, std::uint32_t s) { return Periodic(n, s, 2); }},
        {"period_7", [](std::size_t n, std::uint32_t s) { return Periodic(n, s, 7); }},
        {"period_64", [](std::size_t n, std::uint32_t s) { return Periodic(n, s, 64); }},
        {"period_255", [](std::size_t n, std::uint32_t s) { return Periodic(n, s, 255); }},
        {"period_256", [](std::size_t n, std::uint32_t) {
             Bytes b(n);
             for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
             return b;
         }},
        {"echo_4094", [](std::size_t n, std::uint32_t s) { return EchoAt(n, s, 4094); }},
        {"echo_4095", [](std::size_t n, std::uint32_t s) { return EchoAt(n, s, 4095); }},
        {"echo_4096", [](std::size_t n, std::uint32_t s) { return EchoAt(n, s, 4096); }},
        {"echo_2048", [](std::size_t n, std::uint32_t s) { return EchoAt(n, s, 2048); }},
    };
    return g;
}

inline Bytes ReadWholeFile(const char* path, std::size_t max) {
    Bytes b;
    if (FILE* f = std::fopen(path, "rb")) {
        b.resize(max);
        b.resize(std::fread(b.data(), 1, max, f));
        std::fclose(f);
    }
    return b;
}

}  // namespace tarnwick::testing
