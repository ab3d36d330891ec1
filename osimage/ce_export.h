#pragma once
// Export of the document's type-1 image into a file of its own: the image's
// 64-byte header record followed by its stored data, exactly as the document
// holds them.
#include <optional>
#include <string>

namespace tarnwick {

class CTarnwickDoc;

// The command handler: on failure writes "Export abgebrochen" and then shows
// the first recorded error. Returns whether the export succeeded (or the
// dialog was cancelled).
bool OnExportCe(CTarnwickDoc& document, const std::optional<std::string>& target = std::nullopt);

// The export proper. target: the file to write; nothing asks the user with
// the save dialog. False: it failed, the failure is recorded and no partial
// file is left. True: written, or the dialog was cancelled.
bool ExportCeImage(CTarnwickDoc& document, const std::optional<std::string>& target = std::nullopt);

}  // namespace tarnwick
