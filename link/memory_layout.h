#pragma once
// How much of a panel's flash an operating-system image may take, as pure
// functions of the hardware type (and the flash size of the panel, where one
// is known). The import uses them to decide whether the type-1 image must be
// split before it can fit a panel.
#include <cstdint>

namespace tarnwick {

// The bytes a type-1 image may occupy on a panel of hardware type t. The base
// is flashSize when it lies above 0 and at most 4 MiB, otherwise 4 MiB; then
// t made only of bits of 0x1E0 (0 included): base − 0x10000; 0x200: base −
// 0x50000; 0x400: base − 0x80000; 0x800: base − 0x40000; any other t: 0.
std::uint32_t ImageRegionSize(std::uint32_t hardwareType, std::uint32_t flashSize);

// Bytes kept free in front of the image: 1024 on hardware type 0x400, else 0.
std::uint32_t HeaderGap(std::uint32_t hardwareType);

}  // namespace tarnwick
