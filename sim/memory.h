#pragma once
// The panel's memory as the bootloader serves it: the NOR flash with its
// sectors, and the few read-only bytes outside the flash (the pointer to the
// hardware block, the date text, the block itself when it lies elsewhere).
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/config.h"

namespace panelsim {

struct Sector {
    std::uint32_t start = 0;
    std::uint32_t size = 0;
    bool erasedSinceStart = false;
    bool erasedThisConnection = false;
    std::uint32_t eraseCount = 0;
};

struct ProgramResult {
    std::vector<int> unerasedSectors;   // sectors written without an erase since start
    std::uint32_t conflictBytes = 0;    // bytes whose result differs from the data (a 0 bit cannot become 1)
};

class Memory {
public:
    explicit Memory(const PanelConfig& config);

    const PanelConfig& Config() const { return config_; }
    std::uint32_t FlashStart() const { return config_.flashStart; }
    std::uint64_t FlashEnd() const { return static_cast<std::uint64_t>(config_.flashStart) + flash_.size(); }

    bool InFlash(std::uint32_t address, std::uint64_t count) const;
    // True when any byte of the range lies in the bootloader's own sectors.
    bool TouchesLoader(std::uint32_t address, std::uint64_t count) const;
    bool Readable(std::uint32_t address, std::uint64_t count) const;
    bool Read(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const;
    bool Checksum(std::uint32_t address, std::uint32_t count, std::uint16_t& crc) const;

    // Index of the sector holding address, or -1.
    int SectorAt(std::uint32_t address) const;
    // Index of the sector starting exactly at address, or -1.
    int SectorStartingAt(std::uint32_t address) const;

    // A flash write as NOR flash does it: every byte is ANDed into the cell.
    ProgramResult Program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    void Erase(int sector);
    void NewConnection();

    // Factory contents: stored as they are, outside the NOR rules.
    bool Store(std::uint32_t address, const std::uint8_t* data, std::size_t count);

    const std::vector<std::uint8_t>& Flash() const { return flash_; }
    const std::vector<Sector>& Sectors() const { return sectors_; }

private:
    void PlaceFixed(std::uint32_t address, const std::uint8_t* data, std::size_t count);

    PanelConfig config_;
    std::vector<std::uint8_t> flash_;
    std::vector<Sector> sectors_;
    std::map<std::uint32_t, std::uint8_t> rom_;
    std::optional<std::uint32_t> loaderStart_;
};

}  // namespace panelsim
