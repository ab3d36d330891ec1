#pragma once
// A plain, trick-free compressor that follows the format's rules one step at
// a time: window, hash heads and chain links, one-step-behind chain entry,
// slide, per-group budget check. The tests hold the real compressor to it.
#include <cstdint>

namespace tarnwick::testing {

std::uint16_t ReferenceCompress(std::uint8_t* out, int capacity, const std::uint8_t* data,
                                std::int16_t length);

}  // namespace tarnwick::testing
