#include "osimage/ce_import.h"

#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <vector>

#include "app/file.h"
#include "app/string_table.h"
#include "codec/lz_codec.h"
#include "document/le_bytes.h"
#include "document/tarnwick_doc.h"
#include "link/device_info.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "link/memory_layout.h"
#include "osimage/compression_job.h"
#include "osimage/file_dialogs.h"
#include "osimage/import_validation.h"
#include "osimage/message_format.h"
#include "ports/log.h"

namespace tarnwick {
namespace {

constexpr unsigned kImportingLine = 11011;   // "Importiere %s..."
constexpr unsigned kImportCancelled = 11013; // "Import abgebrochen \r\n"
constexpr unsigned kStoredSizeLine = 11020;  // "Größe der komprimierten Daten:\t0x%08X Bytes\r\n"

constexpr std::uint32_t kCodeJobFailed = 0x74;

constexpr std::uint32_t kTypeMain = 0x00000001;
constexpr std::uint32_t kTypeOverflow = 0x00000040;

// Offsets of the fields the split rewrites, inside the 128 header bytes.
constexpr std::size_t kOffImageType = 4;
constexpr std::size_t kOffStartAddress = 36;
constexpr std::size_t kOffDataSize = 44;

enum class CopyResult { Ok, ShortRead, WriteRefused };

CopyResult CopyBytes(File& from, File& to, std::uint64_t n) {
    std::vector<std::uint8_t> piece(kBlockPiece);
    while (n > 0) {
        const std::size_t want = n < kBlockPiece ? static_cast<std::size_t>(n) : kBlockPiece;
        if (from.Read(piece.data(), want) != static_cast<std::int64_t>(want))
            return CopyResult::ShortRead;
        if (!to.Write(piece.data(), want)) return CopyResult::WriteRefused;
        n -= want;
    }
    return CopyResult::Ok;
}

// Deletes the temporary split file when the import ends, however it ends.
class SplitFileGuard {
public:
    SplitFileGuard(const std::string& chosen, const std::string& read)
        : path_(chosen != read ? read : std::string{}) {}
    ~SplitFileGuard() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    SplitFileGuard(const SplitFileGuard&) = delete;
    SplitFileGuard& operator=(const SplitFileGuard&) = delete;

private:
    std::string path_;
};

}  // namespace

void ReadImportHeaders(File& file, ImportHeaderList& list) {
    std::array<std::uint8_t, kImportHeaderSize> bytes{};
    for (;;) {
        // Anything short of a whole header is no header: its missing bytes
        // would have to be made up.
        if (file.Read(bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size())) break;
        const ImportHeader header = ImportHeader::Decode(bytes.data());
        list.Append(header);
        if (file.Seek(header.DataSize, File::Whence::Current) < 0) break;
    }
}

std::uint32_t FindSplitPoint(File& file, std::uint32_t size, std::uint32_t limit) {
    std::vector<std::uint8_t> data(kBlockPiece);
    std::vector<std::uint8_t> block(kMaxBlockSize);
    std::uint32_t remaining = size;
    std::uint64_t used = 0;
    while (remaining > 0) {
        const std::uint32_t piece =
            remaining < kBlockPiece ? remaining : static_cast<std::uint32_t>(kBlockPiece);
        if (file.Read(data.data(), piece) != static_cast<std::int64_t>(piece)) return 0;
        CodecContext context;
        context.dataLength = piece;
        context.headered = 1;
        context.runningChecksums = 0;
        EncodeBlock(block.data(), data.data(), context);
        used += context.blockLength;
        if (used > limit) return size - remaining;
        remaining -= piece;
    }
    return size;
}

bool WriteSplitFile(File& file, PathValue& path, std::uint32_t headerOffset,
                    std::uint32_t firstSize) {
    std::string name = ImagePart::TempFolder() + "/expXXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        ReportError(kFnSplitFile, kErrorFileWrite, name);
        return false;
    }
    File out;
    out.Adopt(fd, name);

    auto fail = [&](std::uint32_t code) {
        ReportError(kFnSplitFile, code);
        out.Close();
        ::unlink(name.c_str());
        return false;
    };
    auto copy = [&](std::uint64_t n) {
        switch (CopyBytes(file, out, n)) {
        case CopyResult::Ok: return true;
        case CopyResult::ShortRead: ReportError(kFnSplitFile, kErrorFileRead); return false;
        case CopyResult::WriteRefused: ReportError(kFnSplitFile, kErrorFileWrite); return false;
        }
        return false;
    };
    auto dropOut = [&] {
        out.Close();
        ::unlink(name.c_str());
        return false;
    };

    const std::int64_t length = file.Length();
    if (length < 0 || file.Seek(0) != 0) return fail(kErrorFileRead);

    // Every section in front of the type-1 image, unchanged.
    if (!copy(headerOffset)) return dropOut();

    std::array<std::uint8_t, kImportHeaderSize> header{};
    if (file.Read(header.data(), header.size()) != static_cast<std::int64_t>(header.size()))
        return fail(kErrorFileRead);
    const std::uint32_t dataSize = le::Get32(header.data() + kOffDataSize);
    const std::uint32_t start = le::Get32(header.data() + kOffStartAddress);

    // The part that fits stays type 1 ...
    le::Put32(header.data() + kOffDataSize, firstSize);
    if (!out.Write(header.data(), header.size())) return fail(kErrorFileWrite);
    if (!copy(firstSize)) return dropOut();

    // ... and the rest follows as an image of its own, where the first part ends.
    le::Put32(header.data() + kOffStartAddress, start + firstSize);
    le::Put32(header.data() + kOffDataSize, dataSize - firstSize);
    le::Put32(header.data() + kOffImageType, kTypeOverflow);
    if (!out.Write(header.data(), header.size())) return fail(kErrorFileWrite);

    const std::int64_t rest = length - static_cast<std::int64_t>(headerOffset) -
                              static_cast<std::int64_t>(kImportHeaderSize) - firstSize;
    if (rest < 0) return fail(kErrorFileRead);
    if (!copy(static_cast<std::uint64_t>(rest))) return dropOut();

    out.Close();
    path = PathValue(name);
    return true;
}

bool PrepareImportFile(PathValue& path, std::uint32_t panelFlashSize) {
    File file;
    if (!file.Open(path.full, File::Mode::Read)) {
        ReportError(kFnImport, kErrorFileNotFound, path.full);
        return false;
    }
    ImportHeaderList list;
    ReadImportHeaders(file, list);
    if (list.Count() == 0) return true;
    list.ComputeDataOffsets();

    const int i = list.FindType(kTypeMain);
    if (i < 0) return true;
    const ImportHeaderEntry entry = list.At(static_cast<std::size_t>(i));
    const std::uint32_t hardware = entry.header.HardwareType;
    const std::uint32_t capacity = ImageRegionSize(hardware, panelFlashSize);
    if (capacity == 0) return true;
    const std::uint32_t limit =
        capacity - HeaderGap(hardware) - static_cast<std::uint32_t>(kImageHeaderRecordSize);
    if (entry.header.DataSize <= limit) return true;

    if (file.Seek(entry.DataOffset) != static_cast<std::int64_t>(entry.DataOffset)) return true;
    const std::uint32_t n = FindSplitPoint(file, entry.header.DataSize, limit);
    if (n == entry.header.DataSize) return true;

    return WriteSplitFile(file, path, entry.DataOffset - static_cast<std::uint32_t>(kImportHeaderSize),
                          n);
}

bool ImportCeImage(CeImageView& view, const std::optional<std::string>& batchFile, bool* imported) {
    if (imported) *imported = false;
    CTarnwickDoc& doc = view.document;
    Log& log = doc.GetLog();

    // The document is emptied before the file is chosen: a cancelled dialog
    // leaves an empty document.
    if (!doc.OnNewDocument()) return true;

    PathValue chosen;
    if (batchFile) {
        chosen = PathValue(*batchFile);
    } else if (!ChooseImportFile(doc.GetPrompter(), chosen)) {
        return true;
    }

    PathValue path = chosen;
    if (!PrepareImportFile(path, view.panelFlashSize.value_or(FlashSize()))) {
        // Never the first entry: PrepareImportFile has recorded its own cause.
        ReportError(kFnImport, kErrorDownloadTimeout, path.full);
        return false;
    }
    const SplitFileGuard splitFile(chosen.full, path.full);

    File file;
    if (!file.Open(path.full, File::Mode::Read)) {
        ReportError(kFnImport, kErrorFileNotFound, path.full);
        return false;
    }
    // The log names the file the user chose, never the split file.
    log.AppendLog(FormatText(Text(kImportingLine), {chosen.full}), kLogBlack, kLogNormal);

    ImportHeaderList list;
    ReadImportHeaders(file, list);
    file.Close();

    if (!ValidateImportHeaders(list, log)) {
        ReportError(kFnImport, kErrorImportHeader);
        return false;
    }
    list.ComputeCompressTotal();
    list.ComputeDataOffsets();
    if (!list.AllValid()) {
        ReportError(kFnImport, kErrorImportHeader);
        return false;
    }

    DescriptionValues values = doc.Values();
    values.TakeFromImportHeader(list.Entries()[0].header);
    doc.SetValues(values);

    if (!RunCompressionJob(view, path, list)) {
        ReportError(kFnImport, kCodeJobFailed);
        return false;
    }

    doc.LogImageVersions();
    log.AppendLog(FormatText(Text(kStoredSizeLine), {std::int64_t{doc.StoredTotal()}}), kLogBlack,
                  kLogNormal);
    // Equal is still room enough.
    if (doc.StoredTotal() > doc.ImageAreaSize()) {
        ReportError(kFnImport, kErrorPanelMemory);
        return false;
    }
    doc.SetModifiedFlag(true);
    if (imported) *imported = true;
    return true;
}

bool OnImportCe(CeImageView& view, const std::optional<std::string>& batchFile) {
    CTarnwickDoc& doc = view.document;
    bool imported = false;
    if (!ImportCeImage(view, batchFile, &imported)) {
        ShowError(doc.GetLog(), doc.GetPrompter());
        AppendErrorLine(doc.GetLog(), Text(kImportCancelled));
        doc.SetUsable(false);
        doc.SetModifiedFlag(false);
        return false;
    }
    if (batchFile && imported) {
        // Saved beside the import file; only an import that succeeded is
        // saved, so an existing document of that name survives a failure.
        PathValue target(*batchFile);
        target.SetExtension("img");
        return doc.OnSaveDocument(target.full);
    }
    return true;
}

}  // namespace tarnwick
