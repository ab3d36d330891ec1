#pragma once
// What the connected panel's bootloader reports: hardware type, flash start,
// banks and sectors, bootloader size, version and date, and the image
// directory (the first two image header records stored in its flash), with
// the memory-layout accessors that download, upload and the transfer into a
// file take their addresses from. One record for the process.
#include <array>
#include <cstdint>
#include <string>

#include "link/memory_layout.h"

namespace tarnwick {

class BootLink;

constexpr std::uint16_t kMaxSectors = 512;
constexpr std::size_t kHardwareBlockSize = 128;
constexpr std::size_t kHeaderRecordSize = 64;
constexpr std::uint32_t kHeaderMagic = 0x19101998;
// Where the panel keeps the address of its hardware information block.
constexpr std::uint32_t kHardwareBlockPointer = 0x03FFFFEC;
// Where a type-0x10 panel keeps its bootloader date as text dd.mm.yy.
constexpr std::uint32_t kDateTextAddress = 0x03FFFFF8;
constexpr std::uint32_t kNoDate = 0xFFFFFFFF;

// Panel families of a hardware type.
constexpr std::uint32_t kFamilyFE0 = 0xFE0;
constexpr std::uint32_t kFamily10 = 0x10;

// 0xFE0 when t has no bits outside 0x0FE0 (0 included), 0x10 for 0x10, else 0.
std::uint32_t PanelFamily(std::uint32_t hardwareType);

// The panel type name of a hardware type ("KV10", "KV40-KV30", …), empty for
// a type without one.
std::string PanelTypeName(std::uint32_t hardwareType);

class DeviceInfo {
public:
    using HeaderRecord = std::array<std::uint8_t, kHeaderRecordSize>;

    std::uint16_t hardwareType = 0;
    std::uint32_t flashStart = 0;
    std::uint32_t flashSize = 0;
    std::uint32_t loaderSize = 0;
    std::uint16_t bootloaderVersion = 0;
    std::uint32_t bootloaderDate = 0;
    std::uint16_t sectorCount = 0;
    std::array<std::uint32_t, kMaxSectors> sectorStart{};
    std::array<std::uint32_t, kMaxSectors> sectorSize{};
    std::array<bool, kMaxSectors> sectorErased{};
    std::array<HeaderRecord, 2> directory{};
    bool validData = false;

    // Everything back to the state before the first connection.
    void Reset() { *this = DeviceInfo(); }

    // Takes the 128-byte hardware information block in: type, flash start,
    // sector tables (erased flags cleared), flash size check, version, date,
    // loader size. 0, or 1 after recording why it cannot be interpreted.
    int InterpretBlock(const std::uint8_t* block);
    // Reads the image directory from the panel. 0, or 1 after recording.
    int ReadImageDirectory(BootLink& link);
    // For the transfer into a file: the layout of a target variant.
    void SetFromVariant(std::uint16_t type, std::uint32_t start, std::uint32_t size,
                        std::uint32_t loader);

    // Family 0x10: flash start; family 0xFE0: 0xBFC00000 + loader size;
    // otherwise 0 after recording 0x3F of 0x36 ("Unbekanntes Bediengerät").
    std::uint32_t ImageAreaStart() const;
    std::uint32_t LoaderStart() const;
    std::uint32_t FirstAreaEnd() const;
    std::uint32_t SpaceAfterFirstArea() const;
    std::uint32_t ImageRegionSize(std::uint32_t type) const {
        return tarnwick::ImageRegionSize(type, flashSize);
    }
    std::uint16_t FirstImageCeMajor() const;
    std::uint16_t FirstImageChecksum() const;
    std::uint32_t FirstImageType() const;
    // 100 (1.00) for a type-0x10 panel that gives none.
    std::uint16_t BootloaderVersion() const;
    // For a type-0x10 panel that gives none, read as text from the panel each
    // time; 0xFFFFFFFF ("not given") when that read fails.
    std::uint32_t BootloaderDate(BootLink& link) const;
};

// The process's record.
DeviceInfo& TheDeviceInfo();

// Opens the port at the given rate, synchronises with the bootloader, reads
// and interprets the hardware block and the image directory into
// TheDeviceInfo(). 1 when the panel is identified (port left open); 0 after
// recording the failure, with the port closed.
int ConnectAndIdentify(std::uint16_t portIndex, std::uint32_t bitRate);
// The same on a given link and record.
int ConnectAndIdentify(BootLink& link, DeviceInfo& info, std::uint16_t portIndex,
                       std::uint32_t bitRate);

void SetFromVariant(std::uint16_t type, std::uint32_t start, std::uint32_t size,
                    std::uint32_t loader);

// Accessors of TheDeviceInfo().
std::uint16_t HardwareType();
std::uint32_t FlashStart();
std::uint32_t FlashSize();
std::uint32_t LoaderSize();
std::uint32_t ImageAreaStart();
std::uint32_t LoaderStart();
std::uint32_t FirstAreaEnd();
std::uint32_t SpaceAfterFirstArea();
// ImageRegionSize(t) with the connected panel's flash size.
std::uint32_t ImageRegionSize(std::uint32_t hardwareType);
bool ValidDataPresent();
std::uint16_t FirstImageCeMajor();
std::uint16_t FirstImageChecksum();
std::uint32_t FirstImageType();
std::uint16_t BootloaderVersion();
std::uint32_t BootloaderDate();

}  // namespace tarnwick
