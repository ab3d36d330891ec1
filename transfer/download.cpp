// The download: the document's images into the panel's flash (or, in the
// transfer into a file, into the transfer file), with the placement of images
// that have no flash address yet and its undoing afterwards.
#include <cstring>

#include "app/file.h"
#include "app/string_table.h"
#include "app/tarnwick_app.h"
#include "document/le_bytes.h"
#include "document/tarnwick_doc.h"
#include "link/device_info.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "link/flash_programming.h"
#include "link/memory_layout.h"
#include "link/serial_port.h"
#include "ports/log.h"
#include "transfer/run_worker.h"
#include "transfer/transfer_view.h"

namespace tarnwick {
namespace {

constexpr unsigned kTextTransferCaption = 10050;
constexpr unsigned kTextBootAfterwards = 10055;
constexpr unsigned kTextOk = 11012;
constexpr unsigned kTextTransferAborted = 11021;
constexpr unsigned kTextTransferRunning = 11023;

constexpr std::uint32_t kFnFlashProgramming = 0x34;

constexpr std::uint32_t kSetSplitImage = 0x20000601;
constexpr std::uint32_t kSplitOverflow = 0x00000600;
constexpr std::uint32_t kNoNextHeader = 0xFFFFFFFF;
constexpr std::size_t kStorageAddressOffset = 0x0A;

}  // namespace

bool DownloadWorker(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t mask,
                    bool eraseFlash) {
    dialog.SetTotal(document.TotalSize(mask));
    dialog.SetCaption(Text(kTextTransferCaption));
    if (eraseFlash && !IsToFileMode()) {
        if (EraseFlash(&dialog) != 0) {
            ReportError(kFnDownloadWorker, 0x6D);
            return false;
        }
    }
    // Rising ids: a header part always goes after its data part, so a panel
    // interrupted half-way never holds a header whose image is missing.
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t id = 1u << bit;
        if ((mask & id) == 0) continue;
        ImagePart* part = document.FindPart(id);
        if (part == nullptr) continue;
        if (DownloadImage(*part, &dialog) != 0) {
            ReportError(kFnDownloadWorker, 0x66);
            return false;
        }
    }
    return true;
}

bool TransferView::FindUnplacedHeaders() {
    placedMask_ = 0;
    bool found = false;
    CTarnwickDoc& document = context_.document;
    std::uint16_t count = 0;
    const std::uint32_t headers = document.PresentHeaderMask(count);
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t id = 1u << bit;
        if ((headers & id) == 0) continue;
        ImagePart* part = document.FindPart(id);
        std::uint8_t record[kHeaderRecordSize];
        File& file = part->GetFile();
        if (file.Seek(0) != 0 ||
            file.Read(record, sizeof record) != static_cast<std::int64_t>(sizeof record))
            return false;
        if (le::Get32(record + kStorageAddressOffset) == 0) {
            placedMask_ |= id;
            found = true;
        }
    }
    return found;
}

bool TransferView::PlaceImages() {
    CTarnwickDoc& document = context_.document;
    const std::uint32_t base = ImageAreaStart();
    const std::uint32_t gap = HeaderGap(HardwareType());
    const std::uint32_t ids = document.PresentMask();
    std::uint16_t count = 0;
    const std::uint32_t headerIds = document.PresentHeaderMask(count);

    const auto place = [&document](std::uint32_t id, std::uint32_t address) {
        document.FindPart(id)->SetAddress(address);
    };
    const auto header = [&document](std::uint32_t id, std::uint32_t storage, std::uint32_t next) {
        if (PrepareImageHeader(*document.FindPart(id), storage, next) != 1) {
            ReportError(kFnPlaceImages, 0x78);
            return false;
        }
        return true;
    };

    if (ids == kSetSplitImage) {
        placed_ = true;  // from here on the document is changed
        // The first part of a split image in the image area, its overflow at
        // the start of the flash, below the bootloader.
        place(0x20000000, base);
        const std::uint32_t storage = base + gap + 64;
        if (!header(0x20000000, storage, FlashStart())) return false;
        place(0x1, storage);
        const std::uint32_t flash = FlashStart();
        place(0x400, flash);
        if (!header(0x400, flash + 64, 0)) return false;
        place(0x200, flash + 64);
        return true;
    }
    if (ids == 0xC0 || ids == 0x20000001 || ids == 0x40000002) {
        placed_ = true;
        place(headerIds, base);
        const std::uint32_t storage = base + gap + 64;
        if (!header(headerIds, storage, 0)) return false;
        place(ids & ~headerIds, storage);
        return true;
    }
    ReportError(kFnPlaceImages, kErrorInvalidImageCombination);
    return false;
}

bool TransferView::UnplaceImages() {
    CTarnwickDoc& document = context_.document;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t id = 1u << bit;
        if ((placedMask_ & id) == 0 || !CTarnwickDoc::IsHeaderPartId(id)) continue;
        ImagePart* headerPart = document.FindPart(id);
        if (headerPart == nullptr) continue;
        headerPart->SetAddress(0);
        if (PrepareImageHeader(*headerPart, 0, kNoNextHeader) != 1) return false;
        if (ImagePart* data = document.FindPart(CTarnwickDoc::DataPartOfHeader(id)))
            data->SetAddress(0);
    }
    return true;
}

bool TransferView::DoTransfer(bool fromCommandLine) {
    CTarnwickApp& app = context_.app;
    CTarnwickDoc& document = context_.document;
    Log& log = GetLog();
    const bool toFile = IsToFileMode();

    // The transfer file lives exactly as long as this call; whatever was
    // written stays on disk, also after a failure.
    File transferFile;
    struct TransferFileScope {
        File& file;
        ~TransferFileScope() {
            SetTransferFile(nullptr);
            file.Close();
        }
    } transferFileScope{transferFile};

    const auto fail = [this](std::uint32_t code) {
        if (code != 0) ReportError(kFnDoTransfer, code);
        // A document never keeps the addresses it was given for this run,
        // whichever step failed after the placement.
        if (placed_) {
            UnplaceImages();
            placed_ = false;
        }
        ThePort().Close();
        return false;
    };

    if (toFile) {
        if (!transferFile.Open(TransferFileName(), File::Mode::Create)) {
            ReportError(kFnDoTransfer, kErrorFileCreate, TransferFileName());
            return fail(0);
        }
        SetTransferFile(&transferFile);
    }

    log.AppendLog(Text(kTextTransferRunning), kLogBlack, kLogNormal);

    if (!ConnectPanel()) return fail(0x65);
    LogDeviceInfo();

    if (toFile && WriteTransferFileHeader(transferFile) != 1) {
        // A transfer file that cannot take its header block is as broken as
        // one that cannot take an image: the disk refused the bytes.
        ReportError(kFnFlashProgramming, 0x57);
        return fail(0x73);
    }

    if (!toFile && (document.HardwareType() & HardwareType()) == 0) return fail(kErrorPanelMismatch);

    if (ValidDataPresent() && FirstImageType() != 0x80000000 && app.impexMode == 0) {
        const std::uint32_t panelMajor = FirstImageCeMajor();
        const std::uint32_t documentMajor = document.CeVersionMajor();
        // A panel below version 3 may be brought to exactly 3; no other raise
        // of the major version is possible.
        if (panelMajor < documentMajor && (panelMajor >= 3 || documentMajor != 3))
            return fail(kErrorUpgradeNotPossible);
    }

    placed_ = false;
    if (FindUnplacedHeaders()) {
        // A placement that stopped half-way has set placed_ already and is
        // taken back like a complete one.
        if (!PlaceImages()) return fail(0x6F);
        placed_ = true;
    }

    std::uint32_t mask = document.PresentMask();
    if (fromCommandLine) {
        mask &= app.batchComponents;
        // The overflow of a split Windows CE image (0x200 with its header
        // 0x400) is the rest of that image: the panel's first header links to
        // it, so it goes wherever the image goes, whatever the component
        // keyword was written for.
        if ((mask & 0x1) != 0) mask |= document.PresentMask() & kSplitOverflow;
    } else if ((mask & kConfigPartId) != 0) {
        const auto chosen = context_.choices.ChooseComponents(mask, mask & ~kConfigPartId);
        if (!chosen) return fail(kErrorCancelled);
        mask = *chosen;
    }
    // Components that leave no image of the document to send (-HWT given
    // for a Windows CE document, say) would erase the panel and write
    // nothing, and then report success: refuse them before anything is done.
    if ((mask & ~kConfigPartId) == 0) return fail(kErrorInvalidImageCombination);

    const bool erase = app.eraseFlash != 0;
    const bool ran = RunWorker(
        context_.status,
        [&document, mask, erase](StatusDialog& dialog) {
            return DownloadWorker(dialog, document, mask, erase);
        },
        WorkerLaunch{kFnDownloadLauncher, 0x72, std::nullopt});
    if (!ran) return fail(0x73);

    if (toFile && !transferFile.Flush()) {
        ReportError(kFnFlashProgramming, 0x57);
        return fail(0x73);
    }

    if (placed_) {
        UnplaceImages();
        placed_ = false;
    }
    log.AppendLog(Text(kTextOk), kLogBlack, kLogNormal);
    ThePort().Close();
    return true;
}

TransferOutcome TransferView::OnTransfer() {
    CTarnwickApp& app = context_.app;
    CTarnwickDoc& document = context_.document;
    const bool fromCommandLine = app.batchCommand != kNoBatchCommand;
    if (fromCommandLine && !document.OnOpenDocument(app.batchFile)) return TransferOutcome::NotStarted;
    if (document.PresentMask() == 0) return TransferOutcome::NotStarted;

    Log& log = GetLog();
    if (!DoTransfer(fromCommandLine)) {
        ShowError(log, GetPrompter());
        AppendErrorLine(log, Text(kTextTransferAborted));
        return TransferOutcome::Failed;
    }
    AppendErrorLine(log, Text(kTextBootAfterwards) + "\r\n");
    return TransferOutcome::Done;
}

}  // namespace tarnwick
