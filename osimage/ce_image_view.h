#pragma once
// What the import and export commands need from the view that runs them:
// the document (which brings the log and the prompter), the front end's
// status dialogs for the compression job, and what is known of the panel.
#include <cstdint>
#include <optional>

namespace tarnwick {

class CTarnwickDoc;
class StatusDialogHost;

struct CeImageView {
    CTarnwickDoc& document;
    StatusDialogHost& status;
    // The flash size the room for the type-1 image is reckoned with; nothing
    // takes that of the panel last identified (0 while none was).
    std::optional<std::uint32_t> panelFlashSize;
};

// Function codes under which the import and export record their failures.
constexpr std::uint32_t kFnSplitFile = 0x00;        // 0x38 split file not written, 0x33 source short
constexpr std::uint32_t kFnImport = 0x38;           // 0x36, 0x41, 0x37, 0x74, 0x39; 0x6E the job's launcher
constexpr std::uint32_t kFnExport = 0x32;           // 0x3B, 0x33, 0x38, 0x34
constexpr std::uint32_t kFnStoreImage = 0x37;       // 0x6B encoding, 0x33 short read, 0x38 part not written
constexpr std::uint32_t kFnHeaderRecord = 0x3C;     // 0x38 header record not written
constexpr std::uint32_t kFnCompressionWorker = 0x3D;// 0x36, 0x6C, 0x70

}  // namespace tarnwick
