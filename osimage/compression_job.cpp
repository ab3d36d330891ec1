#include "osimage/compression_job.h"

#include <array>
#include <vector>

#include "app/file.h"
#include "app/string_table.h"
#include "codec/crc16.h"
#include "document/checked_file.h"
#include "document/tarnwick_doc.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "ports/log.h"
#include "transfer/run_worker.h"

namespace tarnwick {
namespace {

constexpr unsigned kCompressingText = 10054;  // "Komprimiere das CE-Image ..."
constexpr unsigned kOkLine = 11012;           // "Ok\r\n"
constexpr std::uint32_t kCodeEncodeFailed = 0x6B;
constexpr std::uint32_t kCodeStoreFailed = 0x6C;
constexpr std::uint32_t kCodeHeaderFailed = 0x70;
constexpr std::uint32_t kCodeJobFailed = 0x6E;
constexpr std::uint32_t kTypeOverflow = 0x00000040;

bool StoreCompressed(CodecContext& context, File& file, ImagePart& part) {
    CheckedFile destination(part.GetFile());
    EncodeStream(destination, file, context);
    if (context.status != kCodecOk) {
        // A refused write is told as such; the encoder's own record (the
        // cancel, say) stays in front when it made one.
        if (context.status == kCodecWriteFailed || destination.WriteFailed())
            ReportError(kFnStoreImage, kErrorFileWrite);
        ReportError(kFnStoreImage, kCodeEncodeFailed);
        return false;
    }
    part.SetSize(context.blockLength);
    part.SetChecksum(context.blockChecksum);
    return true;
}

bool StoreUnchanged(CodecContext& context, const ImportHeaderEntry& entry, File& file,
                    ImagePart& part) {
    const std::uint32_t size = entry.header.DataSize;
    context.dataLength = size;
    context.blockLength = size;
    part.SetSize(size);
    std::uint16_t checksum = kCrcInit;
    std::vector<std::uint8_t> piece(kBlockPiece);
    File& out = part.GetFile();
    std::uint32_t left = size;
    while (left > 0) {
        const std::size_t n = left < kBlockPiece ? left : kBlockPiece;
        if (file.Read(piece.data(), n) != static_cast<std::int64_t>(n)) {
            ReportError(kFnStoreImage, kErrorFileRead);
            return false;
        }
        checksum = Crc16(piece.data(), n, checksum);
        if (!out.Write(piece.data(), n)) {
            ReportError(kFnStoreImage, kErrorFileWrite);
            return false;
        }
        left -= static_cast<std::uint32_t>(n);
    }
    part.SetChecksum(checksum);
    context.dataChecksum = checksum;
    context.blockChecksum = checksum;
    return true;
}

}  // namespace

bool StoreImageData(CodecContext& context, const ImportHeaderEntry& entry, File& file,
                    ImagePart& part) {
    if (file.Seek(entry.DataOffset) != static_cast<std::int64_t>(entry.DataOffset) ||
        part.GetFile().Seek(0) != 0) {
        ReportError(kFnStoreImage, kErrorFileRead);
        return false;
    }
    if (entry.header.IsCompressed()) return StoreCompressed(context, file, part);
    return StoreUnchanged(context, entry, file, part);
}

bool AddImageHeaderPart(CeImageView& view, const CodecContext& context, ImportHeaderEntry entry) {
    CTarnwickDoc& doc = view.document;
    const ImportHeader& h = entry.header;

    ImageHeaderRecord record = MakeImageHeaderRecord(h, context.blockLength, context.dataChecksum,
                                                     context.blockChecksum);
    record.SourceSize = context.dataLength;

    // No part of that identifier is removed: two sections of one type leave
    // both header parts in the document.
    ImagePart* part = doc.AddPart();
    if (part == nullptr) return false;  // the document has recorded why
    part->SetId(CTarnwickDoc::HeaderPartId(h.ImageType));

    const std::uint32_t stored = record.StoredSize + static_cast<std::uint32_t>(kImageHeaderRecordSize);
    // The overflow part of a split image starts the count afresh; the
    // panel places it in a region of its own.
    doc.SetStoredTotal(h.ImageType == kTypeOverflow ? RoundUp4(stored)
                                                    : RoundUp4(doc.StoredTotal() + stored));

    // A record that cannot be written would leave a header part without
    // content; the job ends here instead.
    if (!WriteHeaderRecord(*part, record)) {
        ReportError(kFnHeaderRecord, kErrorFileWrite);
        return false;
    }
    return true;
}

bool CompressionWorker(CompressionJob& job, StatusDialog& dialog) {
    CTarnwickDoc& doc = job.view->document;
    dialog.SetText(Text(kCompressingText));
    dialog.ShowProgress();

    File file;
    bool ok = file.Open(job.path.full, File::Mode::Read);
    if (!ok) ReportError(kFnCompressionWorker, kErrorFileNotFound, job.path.full);

    const auto& entries = job.list->Entries();
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
        const ImportHeaderEntry entry = entries[i];
        const std::uint32_t id = CTarnwickDoc::DataPartId(entry.header.ImageType);
        // A later section of the same type replaces the data of the earlier one.
        const int existing = doc.IndexOfPart(id);
        if (existing >= 0) doc.RemovePartAt(existing);
        ImagePart* part = doc.AddPart();
        if (part == nullptr) {
            ReportError(kFnCompressionWorker, kCodeStoreFailed);
            ok = false;
            break;
        }
        part->SetId(id);

        CodecContext context = RunningChecksumContext();
        context.dataLength = entry.header.DataSize;
        context.blockLength = entry.header.DataSize;
        context.progress = &dialog;

        if (!StoreImageData(context, entry, file, *part)) {
            ReportError(kFnCompressionWorker, kCodeStoreFailed);
            ok = false;
            break;
        }
        if (!AddImageHeaderPart(*job.view, context, entry)) {
            ReportError(kFnCompressionWorker, kCodeHeaderFailed);
            ok = false;
            break;
        }
    }

    if (ok) {
        doc.GetLog().AppendLog(Text(kOkLine), kLogBlack, kLogNormal);
    } else {
        doc.RemoveAllParts();
    }
    file.Close();
    return ok;
}

bool RunCompressionJob(CeImageView& view, const PathValue& path, const ImportHeaderList& list) {
    CompressionJob job{path, &list, &view};
    WorkerLaunch launch;
    launch.fallbackFunction = kFnImport;
    launch.fallbackCode = kCodeJobFailed;
    // The bar reaches 100 % when every compressed image has been read.
    launch.total = list.compressTotal;
    return RunWorker(
        view.status, [&job](StatusDialog& dialog) { return CompressionWorker(job, dialog); },
        launch);
}

}  // namespace tarnwick
