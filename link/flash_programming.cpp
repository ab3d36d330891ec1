#include "link/flash_programming.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/file.h"
#include "app/string_table.h"
#include "codec/crc16.h"
#include "document/image_part.h"
#include "document/le_bytes.h"
#include "link/bootloader.h"
#include "link/device_info.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "ports/progress.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kFnEraseRange = 0x0D;
constexpr std::uint32_t kFnDownload = 0x34;
constexpr std::uint32_t kFnPrepareHeader = 0x41;

constexpr std::uint32_t kPiece = 16384;
constexpr std::size_t kTransferHeaderSize = 128;

constexpr unsigned kTextErasing = 10058;
constexpr unsigned kTextTransferring = 10059;

bool toFileMode = false;
File* transferFile = nullptr;

bool Cancelled(const Progress* progress) { return progress != nullptr && progress->IsCancelled(); }

}  // namespace

void SetToFileMode(bool on) { toFileMode = on; }
bool IsToFileMode() { return toFileMode; }
void SetTransferFile(File* file) { transferFile = file; }
File* TransferFile() { return transferFile; }

int EraseRange(std::uint32_t address, std::uint32_t count, Progress* progress) {
    DeviceInfo& info = TheDeviceInfo();
    const std::uint64_t end = std::uint64_t{address} + count;
    if (address < info.flashStart || end > std::uint64_t{info.flashStart} + info.flashSize) {
        ReportError(kFnEraseRange, kErrorInvalidAddress);
        return 1;
    }
    const auto sectorEnd = [&info](unsigned k) {
        return std::uint64_t{info.sectorStart[k]} + info.sectorSize[k];
    };
    unsigned first = info.sectorCount;
    for (unsigned k = 0; k < info.sectorCount; ++k) {
        if (info.sectorStart[k] <= address && address < sectorEnd(k)) {
            first = k;
            break;
        }
    }
    if (first == info.sectorCount) return 0;  // the very end of the flash: nothing touched
    unsigned last = first;
    while (last + 1u < info.sectorCount && sectorEnd(last) < end) ++last;

    for (unsigned k = first; k <= last; ++k) {
        if (!info.sectorErased[k]) {
            if (TheLink().EraseSector(info.sectorStart[k]) != 0) {
                ReportError(kFnEraseRange, 0x56);
                return 1;
            }
            info.sectorErased[k] = true;
        }
        if (Cancelled(progress)) {
            ReportError(kFnEraseRange, kErrorCancelled);
            return 1;
        }
    }
    return 0;
}

int EraseFlash(Progress* progress) {
    if (progress != nullptr) {
        progress->HideProgress();
        progress->SetText(Text(kTextErasing));
    }
    const DeviceInfo& info = TheDeviceInfo();
    if (EraseRange(info.ImageAreaStart(), info.ImageRegionSize(info.hardwareType), progress) != 0) {
        ReportError(kFnDownload, 0x56);
        return 1;
    }
    const std::uint32_t loaderStart = info.LoaderStart();
    if (info.flashStart < loaderStart &&
        EraseRange(info.flashStart, loaderStart - info.flashStart, progress) != 0) {
        ReportError(kFnDownload, 0x56);
        return 1;
    }
    return 0;
}

int DownloadImage(ImagePart& image, Progress* progress) {
    File& file = image.GetFile();
    const bool toFile = IsToFileMode();
    std::uint32_t remaining = image.Size();
    std::uint32_t address = image.Address();
    if (remaining > 0 && file.Seek(0) != 0) {
        ReportError(kFnDownload, kErrorFileRead);
        return 1;
    }
    if (progress != nullptr) {
        progress->ShowProgress();
        progress->SetText(Text(kTextTransferring));
    }
    std::vector<std::uint8_t> piece(kPiece);
    while (remaining > 0) {
        const std::uint32_t n = std::min(remaining, kPiece);
        if (file.Read(piece.data(), n) != static_cast<std::int64_t>(n)) {
            ReportError(kFnDownload, kErrorFileRead);
            return 1;
        }
        if (progress != nullptr) progress->AddProgress(n);
        if (!toFile && EraseRange(address, n, progress) != 0) {
            ReportError(kFnDownload, 0x56);
            return 1;
        }
        if (Cancelled(progress)) {
            ReportError(kFnDownload, kErrorCancelled);
            return 1;
        }
        const int written = toFile ? WriteToTransferFile(address, n, piece.data())
                                   : TheLink().WriteMemory(address, n, piece.data());
        if (written != 0) {
            ReportError(kFnDownload, 0x57);
            return 1;
        }
        address += n;
        remaining -= n;
    }
    if (!toFile) {
        std::uint16_t crc = 0;
        if (TheLink().MemoryChecksum(image.Address(), image.Size(), &crc) != 0) {
            ReportError(kFnDownload, 0x51);
            return 1;
        }
        if (crc != image.Checksum()) {
            ReportError(kFnDownload, kErrorDeviceChecksum);
            return 1;
        }
    }
    if (progress != nullptr) progress->SetText(std::string());
    return 0;
}

int PrepareImageHeader(ImagePart& headerImage, std::uint32_t storageAddress,
                       std::uint32_t nextHeaderAddress) {
    File& file = headerImage.GetFile();
    std::uint8_t record[kHeaderRecordSize];
    if (file.Seek(0) != 0 || file.Read(record, sizeof record) != static_cast<std::int64_t>(sizeof record)) {
        ReportError(kFnPrepareHeader, kErrorFileRead);
        return 0;
    }
    le::Put32(record + 0x0A, storageAddress);
    le::Put32(record + 0x2C, nextHeaderAddress);
    const std::uint16_t crc = Crc16(record, sizeof record, kCrcInit);
    // A record that cannot be written back would leave the part's checksum
    // describing bytes the file does not hold.
    if (file.Seek(0) != 0 || !file.Write(record, sizeof record)) return 0;
    headerImage.SetChecksum(crc);
    return 1;
}

int WriteToTransferFile(std::uint32_t address, std::uint32_t count, const std::uint8_t* data) {
    File* file = TransferFile();
    if (file == nullptr) return 1;
    const DeviceInfo& info = TheDeviceInfo();
    const std::uint32_t areaStart = info.ImageAreaStart();
    std::int64_t offset = static_cast<std::int64_t>(kTransferHeaderSize);
    if (address >= areaStart) {
        offset += address - areaStart;
    } else {
        offset += std::int64_t{info.ImageRegionSize(info.hardwareType)} +
                  (std::int64_t{address} - std::int64_t{info.flashStart});
    }
    if (offset < 0) return 1;
    const std::int64_t length = file->Length();
    if (length < 0) return 1;
    if (length < offset) {
        // Extend the file to the offset; the gap holds zero bytes.
        static const std::vector<std::uint8_t> zeros(65536, 0);
        if (file->Seek(length) != length) return 1;
        for (std::int64_t left = offset - length; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, zeros.size()));
            if (!file->Write(zeros.data(), n)) return 1;
            left -= static_cast<std::int64_t>(n);
        }
    }
    if (file->Seek(offset) != offset) return 1;
    if (count > 0 && !file->Write(data, count)) return 1;
    return 0;
}

int WriteTransferFileHeader(File& file) {
    const DeviceInfo& info = TheDeviceInfo();
    const std::uint32_t type = info.hardwareType;
    const bool hasBlock = type == 0x200 || type == 0x400 ||
                          (type != 0 && (type & ~std::uint32_t{0x9E0}) == 0);
    if (!hasBlock) return 1;
    std::uint8_t block[kTransferHeaderSize];
    std::memset(block, 0xFF, sizeof block);
    block[0] = 0xA5;
    le::Put16(block + 0x02, static_cast<std::uint16_t>(info.flashStart / 65536));
    le::Put16(block + 0x04, static_cast<std::uint16_t>(info.flashSize / 1024));
    le::Put16(block + 0x0E, static_cast<std::uint16_t>(info.loaderSize / 1024));
    le::Put16(block + 0x10, info.hardwareType);
    block[0x7F] = 0x5A;
    return file.Write(block, sizeof block) ? 1 : 0;
}

}  // namespace tarnwick
