// The compressor against the plain reference, over a table of generators,
// sizes around every boundary of the format, and capacities around the
// point where the per-group budget check gives up.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/lz_codec.h"
#include "corpus.h"
#include "reference_lz.h"

namespace tarnwick {
namespace {

using testing::Bytes;

struct Result {
    std::uint16_t count;
    Bytes bytes;
};

Result RunFast(const Bytes& data, int capacity) {
    Bytes out(static_cast<std::size_t>(capacity > 0 ? capacity : 0) + 1, 0xEE);
    const std::uint16_t n = Compress(out.data(), capacity, data.data(), static_cast<std::int16_t>(data.size()));
    // Nothing may be written past the capacity.
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the capacity " << capacity;
    out.resize(n == kCompressFailed ? 0 : n);
    return {n, out};
}

Result RunReference(const Bytes& data, int capacity) {
    Bytes out(static_cast<std::size_t>(capacity > 0 ? capacity : 0));
    const std::uint16_t n =
        testing::ReferenceCompress(out.data(), capacity, data.data(), static_cast<std::int16_t>(data.size()));
    out.resize(n == kCompressFailed ? 0 : n);
    return {n, out};
}

// Compares both compressors at a generous capacity and around the budget
// limit.
void ExpectSameOutput(const Bytes& data, const std::string& what) {
    const int ample = static_cast<int>(data.size() + data.size() / 8 + 64);
    const Result ref = RunReference(data, ample);
    const Result fast = RunFast(data, ample);
    ASSERT_EQ(fast.count, ref.count) << what;
    ASSERT_EQ(fast.bytes, ref.bytes) << what;

    // Capacities that put the limit just around the sizes at which groups
    // close, and the budget a block of this size gets.
    std::vector<int> capacities = {static_cast<int>(data.size()) - 8};
    if (ref.count != kCompressFailed) {
        // ref.count + 25 is where the last group's check starts to pass.
        for (int d : {-1, 24, 25, 26}) capacities.push_back(ref.count + d);
    }
    for (int capacity : capacities) {
        const Result r = RunReference(data, capacity);
        const Result f = RunFast(data, capacity);
        ASSERT_EQ(f.count, r.count) << what << " capacity " << capacity;
        ASSERT_EQ(f.bytes, r.bytes) << what << " capacity " << capacity;
    }
}

constexpr std::size_t kSizes[] = {1,    2,    3,    4,    33,   34,   35,    100,   1000,  4095,  4096,  4097,
                                  6143, 6144, 6145, 6399, 6400, 6401, 8191,  8192,  10000, 12289, 16383, 16384,
                                  32767};

class SameAsReference : public ::testing::TestWithParam<testing::Generator> {};

TEST_P(SameAsReference, OverBoundarySizes) {
    const auto& g = GetParam();
    for (std::size_t n : kSizes) {
        const Bytes data = g.make(n, static_cast<std::uint32_t>(n * 2654435761u));
        ExpectSameOutput(data, std::string(g.name) + " n=" + std::to_string(n));
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Generators, SameAsReference, ::testing::ValuesIn(testing::Generators()),
                         [](const auto& info) { return std::string(info.param.name); });

// Many short random mixtures: pieces of different generators glued
// together, so that the kind of data changes under a live window.
TEST(SameAsReferenceMixed, RandomlyGluedPieces) {
    std::mt19937 rng(20240611);
    const auto& gens = testing::Generators();
    for (int round = 0; round < 80; ++round) {
        const std::size_t n = 1 + rng() % 20000;
        Bytes data;
        while (data.size() < n) {
            const auto& g = gens[rng() % gens.size()];
            const Bytes piece = g.make(1 + rng() % 3000, static_cast<std::uint32_t>(rng()));
            data.insert(data.end(), piece.begin(), piece.end());
        }
        data.resize(n);
        ExpectSameOutput(data, "round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

// Real machine code: this test program itself, in pieces of a block.
TEST(SameAsReferenceMixed, ExecutableCode) {
    const Bytes exe = testing::ReadWholeFile("/proc/self/exe", 1 << 20);
    ASSERT_GT(exe.size(), 16384u);
    for (std::size_t at = 0; at + 1 < exe.size(); at += 16384 * 3) {
        const std::size_t n = std::min<std::size_t>(16384, exe.size() - at);
        ExpectSameOutput(Bytes(exe.begin() + static_cast<std::ptrdiff_t>(at),
                               exe.begin() + static_cast<std::ptrdiff_t>(at + n)),
                         "exe at " + std::to_string(at));
        if (HasFatalFailure()) return;
    }
}

// The link may compress a packet on one thread while an import compresses
// on another: each thread has tables of its own.
TEST(SameAsReferenceMixed, ThreadsDoNotDisturbEachOther) {
    const Bytes a = testing::CodeLike(16384, 1);
    const Bytes b = testing::FromAlphabet(16384, 2, "ab");
    const Result expectA = RunReference(a, 20000);
    const Result expectB = RunReference(b, 20000);
    bool okA = true, okB = true;
    auto loop = [](const Bytes& data, const Result& expect, bool& ok) {
        for (int i = 0; i < 40; ++i) {
            Bytes out(20000);
            const std::uint16_t n = Compress(out.data(), 20000, data.data(), static_cast<std::int16_t>(data.size()));
            out.resize(n);
            if (n != expect.count || out != expect.bytes) ok = false;
        }
    };
    std::thread ta(loop, std::cref(a), std::cref(expectA), std::ref(okA));
    std::thread tb(loop, std::cref(b), std::cref(expectB), std::ref(okB));
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

}  // namespace
}  // namespace tarnwick
