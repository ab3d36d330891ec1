#include "link/memory_layout.h"

namespace tarnwick {

std::uint32_t ImageRegionSize(std::uint32_t hardwareType, std::uint32_t flashSize) {
    constexpr std::uint32_t kLargestBase = 0x400000;
    const std::uint32_t base = flashSize > 0 && flashSize <= kLargestBase ? flashSize : kLargestBase;
    if ((hardwareType & ~std::uint32_t{0x1E0}) == 0) return base - 0x10000;
    switch (hardwareType) {
    case 0x200: return base - 0x50000;
    case 0x400: return base - 0x80000;
    case 0x800: return base - 0x40000;
    default: return 0;
    }
}

std::uint32_t HeaderGap(std::uint32_t hardwareType) { return hardwareType == 0x400 ? 1024 : 0; }

}  // namespace tarnwick
