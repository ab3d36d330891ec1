// The upload: the panel's chain of image headers and their images, and on
// request its configuration data, read back into a new document.
#include <algorithm>
#include <set>
#include <vector>

#include "app/file.h"
#include "app/string_table.h"
#include "app/tarnwick_app.h"
#include "codec/crc16.h"
#include "document/tarnwick_doc.h"
#include "link/bootloader.h"
#include "link/device_info.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "link/serial_port.h"
#include "osimage/image_header.h"
#include "osimage/message_format.h"
#include "ports/log.h"
#include "transfer/run_worker.h"
#include "transfer/transfer_view.h"

namespace tarnwick {
namespace {

constexpr unsigned kTextUploadCaption = 10051;
constexpr unsigned kTextTransferring = 10059;
constexpr unsigned kTextChecking = 10060;
constexpr unsigned kTextOk = 11012;
constexpr unsigned kTextUploadAborted = 11022;
constexpr unsigned kTextUploadRunning = 11025;
constexpr unsigned kTextChecksum = 11036;

constexpr std::uint32_t kPiece = 16384;

}  // namespace

bool UploadHeader(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t address,
                  std::uint32_t length, std::uint32_t& next) {
    ImagePart* header = document.AddPart();
    if (header == nullptr) {
        ReportError(kFnUploadHeader, kErrorFileWrite);
        return false;
    }
    File& file = header->GetFile();
    file.Seek(0);
    dialog.SetText(Text(kTextTransferring));

    std::vector<std::uint8_t> piece(std::min(length, kPiece));
    std::uint16_t crc = kCrcInit;
    for (std::uint32_t done = 0; done < length;) {
        const std::uint32_t n = std::min(length - done, kPiece);
        if (TheLink().ReadMemory(address + done, n, piece.data()) != 0) {
            ReportError(kFnUploadHeader, 0x57);
            return false;
        }
        crc = Crc16(piece.data(), n, crc);
        if (!file.Write(piece.data(), n)) {
            ReportError(kFnUploadHeader, kErrorFileWrite);
            return false;
        }
        dialog.AddProgress(n);
        if (dialog.IsCancelled()) {
            ReportError(kFnUploadHeader, kErrorCancelled);
            return false;
        }
        done += n;
    }

    dialog.SetText(Text(kTextChecking));
    std::uint16_t panelCrc = 0;
    if (TheLink().MemoryChecksum(address, length, &panelCrc) != 0) {
        ReportError(kFnUploadHeader, 0x51);
        return false;
    }
    if (panelCrc != crc) {
        ReportError(kFnUploadHeader, kErrorDeviceChecksum);
        return false;
    }
    dialog.SetText(std::string());

    std::uint8_t bytes[kImageHeaderRecordSize];
    if (file.Seek(0) != 0 ||
        file.Read(bytes, sizeof bytes) != static_cast<std::int64_t>(sizeof bytes)) {
        ReportError(kFnUploadHeader, kErrorFileRead);
        return false;
    }
    file.Flush();
    const ImageHeaderRecord record = ImageHeaderRecord::Decode(bytes);

    // The header part may move when the data part is added: fill it first.
    header->SetId(CTarnwickDoc::HeaderPartId(record.ImageType));
    header->SetSize(static_cast<std::uint32_t>(kImageHeaderRecordSize));
    header->SetAddress(address);
    header->SetChecksum(crc);

    ImagePart* data = document.AddPart();
    if (data == nullptr) {
        ReportError(kFnUploadHeader, kErrorFileWrite);
        return false;
    }
    data->SetId(CTarnwickDoc::DataPartId(record.ImageType));
    // The image occupies its stored bytes in the flash; what follows them
    // belongs to something else (or lies beyond the end of the flash).
    data->SetSize(record.StoredSize);
    data->SetAddress(record.StorageAddress);

    document.SetCeImageVersion(record.CeImageVersion);
    document.SetAppVersion(record.AppVersion);
    document.SetCeVersionMajor(record.CeVersionMajor);
    document.SetCeVersionMinor(record.CeVersionMinor);
    document.SetAuxValue(record.AuxValue);
    document.SetImageAreaSize(record.ImageAreaSize);
    document.SetStoredTotal(record.ImageAreaSize);
    document.SetHardwareType(HardwareType());

    next = record.NextHeaderAddress;
    return true;
}

bool UploadPartData(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t id) {
    ImagePart* part = document.FindPart(id);
    if (part == nullptr) {
        ReportError(kFnUploadPartData, kErrorFileRead);
        return false;
    }
    const std::uint32_t size = part->Size();
    std::uint32_t address = part->Address();
    std::uint32_t remaining = size;
    std::uint16_t crc = kCrcInit;
    File& file = part->GetFile();
    file.Seek(0);
    dialog.SetText(Text(kTextTransferring));

    std::vector<std::uint8_t> piece(kPiece);
    while (remaining > 0) {
        const std::uint32_t n = std::min(remaining, kPiece);
        if (TheLink().ReadMemory(address, n, piece.data()) != 0) {
            ReportError(kFnUploadPartData, 0x57);
            return false;
        }
        crc = Crc16(piece.data(), n, crc);
        if (!file.Write(piece.data(), n)) {
            // The temporary file is full: the part would not hold the image.
            ReportError(kFnUploadPartData, kErrorFileWrite);
            return false;
        }
        dialog.AddProgress(n);
        if (dialog.IsCancelled()) {
            ReportError(kFnUploadPartData, kErrorCancelled);
            return false;
        }
        address += n;
        remaining -= n;
    }

    dialog.SetText(Text(kTextChecking));
    std::uint16_t panelCrc = 0;
    if (TheLink().MemoryChecksum(part->Address(), size, &panelCrc) != 0) {
        ReportError(kFnUploadPartData, 0x51);
        return false;
    }
    if (panelCrc != crc) {
        ReportError(kFnUploadPartData, kErrorDeviceChecksum);
        return false;
    }
    part->SetChecksum(crc);
    dialog.SetText(std::string());
    file.Flush();
    return true;
}

bool UploadWorker(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t mask) {
    if (mask != 0) {
        ImagePart* config = document.AddPart();
        if (config == nullptr) {
            ReportError(kFnUploadWorker, 0x77);
            return false;
        }
        config->SetId(mask);
        config->SetSize(SpaceAfterFirstArea());
        config->SetAddress(FirstAreaEnd());
    }

    // The chain ends at a next address of 0. A damaged panel may hold a chain
    // that comes back on itself or never ends: it is followed only as far as
    // a panel can hold headers, and never to an address read before.
    std::set<std::uint32_t> seen;
    std::uint32_t address = ImageAreaStart();
    do {
        if (seen.size() >= kMaxHeaderChain || !seen.insert(address).second) {
            ReportError(kFnUploadWorker, kErrHeaderChainBroken);
            return false;
        }
        std::uint32_t next = 0;
        if (!UploadHeader(dialog, document, address, kImageHeaderRecordSize, next)) {
            ReportError(kFnUploadWorker, 0x77);
            return false;
        }
        address = next;
    } while (address != 0);

    std::uint16_t headerCount = 0;
    const std::uint32_t dataMask =
        (mask | document.PresentMask()) & ~document.PresentHeaderMask(headerCount);
    dialog.SetTotal(document.TotalSize(dataMask));
    dialog.SetCaption(Text(kTextUploadCaption));
    dialog.ShowProgress();

    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t id = 1u << bit;
        if ((dataMask & id) == 0) continue;
        if (!UploadPartData(dialog, document, id)) {
            ReportError(kFnUploadWorker, 0x79);
            return false;
        }
    }
    return true;
}

int TransferView::DoUpload(bool fromCommandLine) {
    CTarnwickApp& app = context_.app;
    CTarnwickDoc& document = context_.document;
    if (!document.OnNewDocument()) return kUploadNotStarted;
    Log& log = GetLog();
    log.AppendLog(Text(kTextUploadRunning), kLogBlack, kLogNormal);

    const auto fail = [](std::uint32_t code) {
        if (code != 0) ReportError(kFnDoUpload, code);
        ThePort().Close();
        return kUploadFailed;
    };

    if (!ConnectPanel()) return fail(0x65);
    LogDeviceInfo();
    if (ValidDataPresent())
        log.AppendLog(FormatText(Text(kTextChecksum), {std::int64_t{FirstImageChecksum()}}),
                      kLogBlack, kLogNormal);

    std::uint32_t mask = 0;
    if (fromCommandLine) {
        mask = app.batchComponents == kComponentsAll ? kConfigPartId : 0;
    } else {
        if (!ValidDataPresent()) return fail(kErrorNoValidPanelData);
        const auto chosen = context_.choices.ChooseComponents(kConfigPartId, 0);
        if (!chosen) return fail(kErrorCancelled);
        mask = *chosen & kConfigPartId;
    }

    const bool ran = RunWorker(
        context_.status,
        [&document, mask](StatusDialog& dialog) { return UploadWorker(dialog, document, mask); },
        WorkerLaunch{kFnUploadLauncher, 0x76, std::nullopt});
    if (!ran) return fail(0x75);

    ThePort().Close();
    document.SetModifiedFlag(true);
    document.LogImageVersions();
    log.AppendLog(Text(kTextOk), kLogBlack, kLogNormal);
    return kUploadDone;
}

TransferOutcome TransferView::OnUpload() {
    CTarnwickApp& app = context_.app;
    const bool fromCommandLine = app.batchCommand != kNoBatchCommand;
    const int result = DoUpload(fromCommandLine);
    if (result == kUploadFailed) {
        Log& log = GetLog();
        ShowError(log, GetPrompter());
        AppendErrorLine(log, Text(kTextUploadAborted));
        return TransferOutcome::Failed;
    }
    if (result == kUploadNotStarted) return TransferOutcome::NotStarted;
    // Only a complete upload is saved: a failed one never replaces the file.
    if (fromCommandLine && !context_.document.OnSaveDocument(app.batchFile))
        return TransferOutcome::Failed;
    return TransferOutcome::Done;
}

}  // namespace tarnwick
