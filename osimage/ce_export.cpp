#include "osimage/ce_export.h"

#include <unistd.h>

#include <vector>

#include "app/file.h"
#include "app/string_table.h"
#include "codec/lz_codec.h"
#include "document/tarnwick_doc.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "osimage/ce_image_view.h"
#include "ports/log.h"
#include "ports/prompter.h"

namespace tarnwick {
namespace {

constexpr unsigned kOkLine = 11012;           // "Ok\r\n"
constexpr unsigned kExportCancelled = 11029;  // "Export abgebrochen \r\n"
constexpr std::uint32_t kHeaderPartId = 0x20000000;
constexpr std::uint32_t kDataPartId = 0x00000001;

}  // namespace

bool ExportCeImage(CTarnwickDoc& doc, const std::optional<std::string>& target) {
    std::string path;
    if (target) {
        path = *target;
    } else {
        FileDialogRequest request;
        request.overwritePrompt = true;
        const auto chosen = doc.GetPrompter().SaveFileDialog(request);
        if (!chosen) return true;
        path = *chosen;
    }

    // Without its two type-1 parts the document has nothing to export; no
    // file is made for it.
    if (doc.FindPart(kHeaderPartId) == nullptr || doc.FindPart(kDataPartId) == nullptr) {
        ReportError(kFnExport, kErrorInvalidImageCombination);
        return false;
    }

    File out;
    if (!out.Open(path, File::Mode::Create)) {
        ReportError(kFnExport, kErrorFileCreate, path);
        return false;
    }
    auto fail = [&](std::uint32_t code) {
        ReportError(kFnExport, code);
        out.Close();
        ::unlink(path.c_str());
        return false;
    };

    std::vector<std::uint8_t> piece(kBlockPiece);
    ImagePart* header = doc.FindPart(kHeaderPartId);
    File& headerFile = header->GetFile();
    if (headerFile.Seek(0) != 0 ||
        headerFile.Read(piece.data(), kImageHeaderRecordSize) !=
            static_cast<std::int64_t>(kImageHeaderRecordSize))
        return fail(kErrorFileRead);
    if (!out.Write(piece.data(), kImageHeaderRecordSize)) return fail(kErrorFileWrite);

    ImagePart* data = doc.FindPart(kDataPartId);
    File& dataFile = data->GetFile();
    if (dataFile.Seek(0) != 0) return fail(kErrorFileRead);
    std::uint32_t left = data->Size();
    while (left > 0) {
        const std::size_t n = left < kBlockPiece ? left : kBlockPiece;
        if (dataFile.Read(piece.data(), n) != static_cast<std::int64_t>(n))
            return fail(kErrorFileRead);
        if (!out.Write(piece.data(), n)) return fail(kErrorFileWrite);
        left -= static_cast<std::uint32_t>(n);
    }
    out.Close();
    doc.GetLog().AppendLog(Text(kOkLine), kLogBlack, kLogNormal);
    return true;
}

bool OnExportCe(CTarnwickDoc& doc, const std::optional<std::string>& target) {
    if (ExportCeImage(doc, target)) return true;
    // The log line comes before the message box here.
    AppendErrorLine(doc.GetLog(), Text(kExportCancelled));
    ShowError(doc.GetLog(), doc.GetPrompter());
    return false;
}

}  // namespace tarnwick
