#pragma once
// CRC-16 with the reflected polynomial 0x8408, no final XOR. A fresh checksum
// starts at 0xFFFF; passing the previous result continues it over more data.
#include <cstddef>
#include <cstdint>

namespace tarnwick {

constexpr std::uint16_t kCrcInit = 0xFFFF;

std::uint16_t Crc16(const void* data, std::size_t length, std::uint16_t initial);

// Given fresh = Crc16(data, length, kCrcInit), returns Crc16(data, length,
// initial) without reading the data again (the checksum is linear in its
// initial value). Lets a running checksum go on over data that was just
// checksummed on its own.
std::uint16_t Crc16Reseed(std::uint16_t fresh, std::uint16_t initial, std::size_t length);

}  // namespace tarnwick
