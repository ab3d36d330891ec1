#pragma once
// The panel that panelsim plays: what its bootloader reports in the hardware
// information block and how its flash is laid out. Read from a small
// "key = value" file; everything not given keeps the built-in panel's value.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace panelsim {

constexpr std::uint32_t kBlockPointerAddress = 0x03FFFFEC;
constexpr std::uint32_t kDateTextAddress = 0x03FFFFF8;
constexpr std::size_t kBlockSize = 128;

struct Bank {
    std::uint32_t sectors = 0;
    std::uint32_t sizeKb = 0;
};

struct PanelConfig {
    std::string name = "built-in";
    // Raw hardware type field as the block carries it (extra low bits allowed,
    // so that the PC's normalisation can be exercised).
    std::uint16_t hardwareType = 0x0040;
    std::uint32_t flashStart = 0xBFC00000;
    std::vector<Bank> banks{{8, 8}, {63, 64}};
    std::uint32_t loaderKb = 64;
    std::uint16_t version = 105;
    std::uint32_t date = 0x15032004;
    std::string dateText;                 // empty: derived from date
    std::uint32_t blockAddress = 0xBFC0FF80;
    std::optional<std::uint32_t> blockPointer;   // value at 0x03FFFFEC; default blockAddress
    std::optional<std::uint8_t> bankCount;       // reported bank count; default banks.size()
    std::optional<std::uint16_t> flashSizeKb;    // reported size; default the sum of the sectors
    std::uint8_t startMarker = 0xA5;
    std::uint8_t endMarker = 0x5A;
    std::uint8_t blockFill = 0xFF;        // bytes of the block nobody interprets
    bool protectLoader = true;            // refuse writes and erases inside the bootloader
};

// Parses the text of a panel file on top of config. False with a message
// naming the line when a line cannot be used.
bool ParseConfig(const std::string& text, PanelConfig& config, std::string& error);
bool LoadConfigFile(const std::string& path, PanelConfig& config, std::string& error);
// Writes config in the file format (every key, so it documents the defaults).
std::string FormatConfig(const PanelConfig& config);
// Checks what the simulator itself needs to run (not what the PC may refuse).
bool ValidateConfig(const PanelConfig& config, std::string& error);

// The panel family and placement rules the bootloader's memory follows.
std::uint16_t NormalisedType(std::uint16_t raw);
std::uint32_t Family(std::uint16_t type);             // 0xFE0, 0x10 or 0
std::uint64_t FlashSizeBytes(const PanelConfig& config);
std::uint32_t LoaderSize(const PanelConfig& config);
// Bootloader range [start, start + LoaderSize); nullopt for an unknown family.
std::optional<std::uint32_t> LoaderStart(const PanelConfig& config);
std::optional<std::uint32_t> ImageAreaStart(const PanelConfig& config);
std::string EffectiveDateText(const PanelConfig& config);

std::array<std::uint8_t, kBlockSize> BuildHardwareBlock(const PanelConfig& config);

// Number parsing shared by the option and file parsers: decimal or 0x hex.
bool ParseNumber(const std::string& text, std::uint64_t& value);

}  // namespace panelsim
