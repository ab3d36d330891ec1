#include "link/device_info.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/string_table.h"
#include "document/le_bytes.h"
#include "link/bootloader.h"
#include "link/error_codes.h"
#include "link/error_state.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kFnConnect = 0x01;
constexpr std::uint32_t kFnReadBlock = 0x17;
constexpr std::uint32_t kFnInterpret = 0x16;
constexpr std::uint32_t kFnSectorStarts = 0x26;
constexpr std::uint32_t kFnDirectory = 0x2F;
constexpr std::uint32_t kFnImageArea = 0x36;
constexpr std::uint32_t kFnDate = 0x44;

constexpr std::uint32_t kFe0LoaderBase = 0xBFC00000;
constexpr std::uint32_t kFlashTop10 = 0x04000000;

// Fields of an image header record this record reads.
constexpr std::size_t kRecStorageAddress = 0x0A;
constexpr std::size_t kRecStoredSize = 0x12;
constexpr std::size_t kRecStoredCrc = 0x18;
constexpr std::size_t kRecCeMajor = 0x1A;
constexpr std::size_t kRecNextHeader = 0x2C;
constexpr std::size_t kRecImageAreaSize = 0x30;
constexpr std::size_t kRecImageType = 0x34;

}  // namespace

std::uint32_t PanelFamily(std::uint32_t t) {
    if ((t & ~std::uint32_t{0x0FE0}) == 0) return kFamilyFE0;
    if (t == 0x10) return kFamily10;
    return 0;
}

std::string PanelTypeName(std::uint32_t t) {
    const auto join = [](std::initializer_list<unsigned> ids) {
        std::string name;
        for (unsigned id : ids) {
            if (!name.empty()) name += "-";
            name += Text(id);
        }
        return name;
    };
    switch (t) {
    case 0x0010: return Text(11030);
    case 0x0020: return Text(11032);
    case 0x0040: return Text(11033);
    case 0x0060: return join({11033, 11032});
    case 0x0080: return Text(11034);
    case 0x0100: return Text(11031);
    case 0x0180: return join({11031, 11034});
    case 0x0200: return Text(11037);
    case 0x0400: return Text(11038);
    case 0x0800: return Text(11039);
    case 0x0980: return join({11031, 11034, 11039});
    default: return {};
    }
}

int DeviceInfo::InterpretBlock(const std::uint8_t* b) {
    if (b[0] != 0xA5 || b[0x7F] != 0x5A) {
        ReportError(kFnInterpret, kErrorHardwareMarkers);
        return 1;
    }
    std::uint16_t type = le::Get16(b + 0x10) & 0xFFF0;
    if ((type & 0xFF) == 0x10) {
        type = 0x0010;
    } else if ((type & 0xFF) == 0x20) {
        type = 0x0020;
    }
    hardwareType = type;
    flashStart = static_cast<std::uint32_t>(le::Get16(b + 0x02)) << 16;

    const unsigned banks = b[0x01];
    if (banks > 4) {
        ReportError(kFnInterpret, kErrorHardwareBankCount);
        return 1;
    }
    unsigned sectors = 0;
    for (unsigned bank = 0; bank < banks; ++bank) sectors += b[0x06 + bank];
    if (sectors > kMaxSectors) {
        ReportError(kFnSectorStarts, kErrorHardwareSectorCount);
        ReportError(kFnInterpret, 0x5E);
        return 1;
    }
    std::uint32_t address = flashStart;
    unsigned k = 0;
    for (unsigned bank = 0; bank < banks; ++bank) {
        const std::uint32_t size = static_cast<std::uint32_t>(b[0x0A + bank]) * 1024;
        for (unsigned s = 0; s < b[0x06 + bank]; ++s, ++k) {
            sectorStart[k] = address;
            sectorSize[k] = size;
            address += size;
        }
    }
    flashSize = address - flashStart;
    sectorCount = static_cast<std::uint16_t>(sectors);
    sectorErased.fill(false);

    if (flashSize != static_cast<std::uint32_t>(le::Get16(b + 0x04)) * 1024) {
        ReportError(kFnInterpret, kErrorHardwareFlashSize);
        return 1;
    }
    bootloaderVersion = le::Get16(b + 0x16);
    bootloaderDate = le::Get32(b + 0x18);
    loaderSize = static_cast<std::uint32_t>(le::Get16(b + 0x0E)) * 1024;
    return 0;
}

int DeviceInfo::ReadImageDirectory(BootLink& link) {
    // Nothing of an earlier panel may stay behind in the entries not reached.
    for (auto& entry : directory) entry.fill(0);
    validData = false;

    std::uint32_t a = ImageAreaStart();
    if (a == 0) {
        ReportError(kFnDirectory, 0x6A);
        return 1;
    }
    // The directory has room for two entries. A chain with more links, or one
    // that points back at itself, ends after the second: what the record
    // holds has checked out, and nothing is read past the room there is.
    for (auto& entry : directory) {
        if (link.ReadMemory(a, kHeaderRecordSize, entry.data()) != 0) {
            ReportError(kFnDirectory, 0x55);
            return 1;
        }
        if (le::Get32(entry.data()) != kHeaderMagic) {
            entry.fill(0);
            return 0;
        }
        std::uint16_t crc = 0;
        if (link.MemoryChecksum(le::Get32(entry.data() + kRecStorageAddress),
                                le::Get32(entry.data() + kRecStoredSize), &crc) != 0) {
            ReportError(kFnDirectory, 0x51);
            entry.fill(0);
            return 1;
        }
        if (crc != le::Get16(entry.data() + kRecStoredCrc)) {
            entry.fill(0);
            return 0;
        }
        a = le::Get32(entry.data() + kRecNextHeader);
        if (a == 0) break;
    }
    validData = true;
    return 0;
}

void DeviceInfo::SetFromVariant(std::uint16_t type, std::uint32_t start, std::uint32_t size,
                                std::uint32_t loader) {
    hardwareType = type;
    flashStart = start;
    flashSize = size;
    loaderSize = loader;
}

std::uint32_t DeviceInfo::ImageAreaStart() const {
    switch (PanelFamily(hardwareType)) {
    case kFamily10: return flashStart;
    case kFamilyFE0: return kFe0LoaderBase + loaderSize;
    default: ReportError(kFnImageArea, kErrorUnknownPanel); return 0;
    }
}

std::uint32_t DeviceInfo::LoaderStart() const {
    switch (PanelFamily(hardwareType)) {
    case kFamily10: return kFlashTop10 - loaderSize;
    case kFamilyFE0: return kFe0LoaderBase;
    default: return 0;
    }
}

std::uint32_t DeviceInfo::FirstAreaEnd() const {
    return ImageAreaStart() + le::Get32(directory[0].data() + kRecImageAreaSize);
}

std::uint32_t DeviceInfo::SpaceAfterFirstArea() const {
    switch (PanelFamily(hardwareType)) {
    case kFamily10: return kFlashTop10 - loaderSize - FirstAreaEnd();
    case kFamilyFE0:
        return flashSize - le::Get32(directory[0].data() + kRecImageAreaSize) - loaderSize;
    default: return 0;
    }
}

std::uint16_t DeviceInfo::FirstImageCeMajor() const { return le::Get16(directory[0].data() + kRecCeMajor); }

std::uint16_t DeviceInfo::FirstImageChecksum() const {
    return le::Get16(directory[0].data() + kRecStoredCrc);
}

std::uint32_t DeviceInfo::FirstImageType() const { return le::Get32(directory[0].data() + kRecImageType); }

std::uint16_t DeviceInfo::BootloaderVersion() const {
    if (hardwareType == 0x10 && bootloaderVersion == 0xFFFF) return 100;
    return bootloaderVersion;
}

std::uint32_t DeviceInfo::BootloaderDate(BootLink& link) const {
    if (hardwareType != 0x10 || bootloaderDate != kNoDate) return bootloaderDate;
    char text[9] = {};
    if (link.ReadMemory(kDateTextAddress, 8, reinterpret_cast<std::uint8_t*>(text)) != 0) {
        ReportError(kFnDate, 0x55);
        return kNoDate;
    }
    // dd.mm.yy, each pair read as hexadecimal digits, so that the result has
    // the layout of the block's date field (0x24121999 for 24.12.99).
    unsigned day = 0, month = 0, year = 0;
    if (std::sscanf(text, "%02x.%02x.%02x", &day, &month, &year) != 3) return kNoDate;
    year += year < 0x62 ? 0x2000 : 0x1900;
    return (day << 24) + (month << 16) + year;
}

DeviceInfo& TheDeviceInfo() {
    static DeviceInfo info;
    return info;
}

int ConnectAndIdentify(BootLink& link, DeviceInfo& info, std::uint16_t portIndex,
                       std::uint32_t bitRate) {
    SerialPort& port = link.Port();
    const auto fail = [&port]() {
        port.Close();
        return 0;
    };
    port.Configure(portIndex, bitRate, kLinkQueueSize);
    if (port.Open() != 0) {
        ReportError(kFnConnect, 0x5C);
        return fail();
    }
    if (port.SyncBaudRate() != 0) {
        ReportError(kFnConnect, 0x5B);
        return fail();
    }
    port.Delay(3);
    link.ResetSequence();

    std::uint8_t pointer[4];
    std::uint8_t block[kHardwareBlockSize];
    if (link.ReadMemory(kHardwareBlockPointer, 4, pointer) != 0 ||
        link.ReadMemory(le::Get32(pointer), kHardwareBlockSize, block) != 0) {
        ReportError(kFnReadBlock, 0x55);
        ReportError(kFnConnect, 0x5A);
        return fail();
    }
    if (info.InterpretBlock(block) != 0) {
        ReportError(kFnConnect, 0x59);
        return fail();
    }
    if (info.ReadImageDirectory(link) != 0) {
        ReportError(kFnConnect, 0x7A);
        return fail();
    }
    return 1;
}

int ConnectAndIdentify(std::uint16_t portIndex, std::uint32_t bitRate) {
    return ConnectAndIdentify(TheLink(), TheDeviceInfo(), portIndex, bitRate);
}

void SetFromVariant(std::uint16_t type, std::uint32_t start, std::uint32_t size, std::uint32_t loader) {
    TheDeviceInfo().SetFromVariant(type, start, size, loader);
}

std::uint16_t HardwareType() { return TheDeviceInfo().hardwareType; }
std::uint32_t FlashStart() { return TheDeviceInfo().flashStart; }
std::uint32_t FlashSize() { return TheDeviceInfo().flashSize; }
std::uint32_t LoaderSize() { return TheDeviceInfo().loaderSize; }
std::uint32_t ImageAreaStart() { return TheDeviceInfo().ImageAreaStart(); }
std::uint32_t LoaderStart() { return TheDeviceInfo().LoaderStart(); }
std::uint32_t FirstAreaEnd() { return TheDeviceInfo().FirstAreaEnd(); }
std::uint32_t SpaceAfterFirstArea() { return TheDeviceInfo().SpaceAfterFirstArea(); }
std::uint32_t ImageRegionSize(std::uint32_t hardwareType) {
    return TheDeviceInfo().ImageRegionSize(hardwareType);
}
bool ValidDataPresent() { return TheDeviceInfo().validData; }
std::uint16_t FirstImageCeMajor() { return TheDeviceInfo().FirstImageCeMajor(); }
std::uint16_t FirstImageChecksum() { return TheDeviceInfo().FirstImageChecksum(); }
std::uint32_t FirstImageType() { return TheDeviceInfo().FirstImageType(); }
std::uint16_t BootloaderVersion() { return TheDeviceInfo().BootloaderVersion(); }
std::uint32_t BootloaderDate() { return TheDeviceInfo().BootloaderDate(TheLink()); }

}  // namespace tarnwick
