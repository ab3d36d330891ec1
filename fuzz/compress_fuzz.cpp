// Compress on any bytes and capacities: the output must equal the plain
// reference compressor's, never pass the capacity, and expand back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/lz_codec.h"
#include "codec/reference_lz.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size - 2 > 32767) return 0;
    // Capacity: ample, or just around the input's size.
    const unsigned pick = data[0] | (data[1] << 8);
    const std::size_t n = size - 2;
    const int capacity = (pick & 0x8000) ? static_cast<int>(n + n / 8 + 64)
                                         : static_cast<int>(n) - 40 + static_cast<int>(pick % 96);
    const std::vector<std::uint8_t> input(data + 2, data + size);

    const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
    std::vector<std::uint8_t> fast(room), ref(room);
    const std::uint16_t a = Compress(fast.data(), capacity, input.data(), static_cast<std::int16_t>(n));
    const std::uint16_t b =
        tarnwick::testing::ReferenceCompress(ref.data(), capacity, input.data(), static_cast<std::int16_t>(n));
    if (a != b) std::abort();
    if (a == kCompressFailed) return 0;
    if (a > room || std::memcmp(fast.data(), ref.data(), a) != 0) std::abort();

    std::vector<std::uint8_t> back(n);
    bool damaged = true;
    const std::uint16_t m = Decompress(back.data(), back.size(), fast.data(), a, &damaged);
    if (damaged || m != n || back != input) std::abort();
    return 0;
}
