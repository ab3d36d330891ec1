#pragma once
// The transfer commands of the view: connecting to a panel, the download,
// the upload, the transfer into a file with its target variants, and the
// interface settings. The view knows nothing of a toolkit: it asks a person
// through the ports it is given (log, message boxes, choices, status
// dialogs), so the desktop program, the console and the tests run exactly
// the same commands.
//
// Every operation runs on the thread that runs commands; the moving of data
// runs in worker threads behind a status dialog (RunWorker). Failures are
// recorded with ReportError where they happen; the command shows the first
// one and writes its closing line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/choices.h"

namespace tarnwick {

class CTarnwickApp;
class CTarnwickDoc;
class Log;
class Prompter;
class StatusDialog;
class StatusDialogHost;

// Function codes of the transfer commands' failure records.
constexpr std::uint32_t kFnDoUpload = 0x31;
constexpr std::uint32_t kFnDoTransfer = 0x33;
constexpr std::uint32_t kFnConnectLauncher = 0x35;
constexpr std::uint32_t kFnPlaceImages = 0x39;
constexpr std::uint32_t kFnConnectWorker = 0x3D;
constexpr std::uint32_t kFnDownloadWorker = 0x3E;
constexpr std::uint32_t kFnDownloadLauncher = 0x3F;
constexpr std::uint32_t kFnUploadLauncher = 0x40;
constexpr std::uint32_t kFnUploadHeader = 0x42;
constexpr std::uint32_t kFnUploadWorker = 0x43;
constexpr std::uint32_t kFnUploadPartData = 0x2E;
constexpr std::uint32_t kFnBootHandshake = 0x2D;

// The upload follows the panel's chain of image headers at most this far; a
// longer chain, or one that comes back to an address already read, is
// damaged and ends the upload with this error code of function 0x43.
constexpr std::size_t kMaxHeaderChain = 32;
constexpr std::uint32_t kErrHeaderChainBroken = 0x7B;

// How a command ended, for callers that report it (the console's exit status).
enum class TransferOutcome {
    NotStarted,  // nothing done: empty document, document not opened, save question cancelled
    Done,
    Failed,
};

// Results of DoUpload.
constexpr int kUploadFailed = 0;
constexpr int kUploadDone = 1;
constexpr int kUploadNotStarted = 2;

// The ports and objects a transfer command works with.
struct TransferContext {
    CTarnwickApp& app;        // TransferSettings, batch state, impexMode, the program INI
    CTarnwickDoc& document;   // its log and prompter are the ones shown
    Choices& choices;
    StatusDialogHost& status;
};

class TransferView {
public:
    explicit TransferView(TransferContext context);

    // ---- connecting ------------------------------------------------------
    // The boot prompt, the boot handshake at 9600 and the connection at the
    // working rate in a worker. Yes with the port open and DeviceInfo filled;
    // no with the port closed. In the transfer into a file: the target
    // variant selection instead, without dialog or port.
    bool ConnectPanel();
    // The panel type, bootloader version and date into the log.
    void LogDeviceInfo();

    // ---- download (command 32771) ----------------------------------------
    TransferOutcome OnTransfer();
    bool DoTransfer(bool fromCommandLine);
    bool FindUnplacedHeaders();
    bool PlaceImages();
    bool UnplaceImages();
    bool IsPlaced() const { return placed_; }
    std::uint32_t PlacedMask() const { return placedMask_; }

    // ---- upload (command 32772) ------------------------------------------
    TransferOutcome OnUpload();
    // kUploadFailed, kUploadDone or kUploadNotStarted.
    int DoUpload(bool fromCommandLine);

    // ---- transfer into a file (command 32790) ----------------------------
    // Asks for the file (the export dialog), then runs the download into it.
    TransferOutcome OnTransferToFile();
    // The same with the file already chosen (the command line).
    TransferOutcome TransferToFile(const std::string& chosenPath);
    // Fills DeviceInfo from a variant of the document's panel type, asking
    // through the choices port when the INI file offers several.
    bool SelectTargetVariant();

    // ---- interface settings (command 32773) ------------------------------
    // True when the person confirmed (settings taken over and stored).
    bool OnSettings();

    Log& GetLog();
    Prompter& GetPrompter();

private:
    TransferContext context_;
    bool placed_ = false;
    std::uint32_t placedMask_ = 0;
};

// ---- the workers (worker thread, behind the status dialog) ----------------
bool ConnectWorker(StatusDialog& dialog, std::uint16_t port, std::uint32_t baudRate);
bool DownloadWorker(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t mask,
                    bool eraseFlash);
bool UploadWorker(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t mask);
// Reads the 64-byte header at address into a new header part and adds its
// data part; the header's next header address comes back in next.
bool UploadHeader(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t address,
                  std::uint32_t length, std::uint32_t& next);
bool UploadPartData(StatusDialog& dialog, CTarnwickDoc& document, std::uint32_t id);

// ---- transfer into a file -------------------------------------------------
// The process-wide transfer file name, set before the download runs.
void SetTransferFileName(const std::string& path);
const std::string& TransferFileName();
// The chosen path with its extension made ".exp" (compared case-sensitively:
// ".EXP" and ".bin" are replaced, a name without one gets it).
std::string TransferFileNameFor(const std::string& chosenPath);

// The variants of a panel type name from the program INI file: keys N-1,
// N-2, … of section N-VARIANTS until the first missing or empty one, each
// kept only when its four values read as non-zero.
std::vector<VariantEntry> ReadTargetVariants(const CTarnwickApp& app, const std::string& typeName);

// ---- component selection ---------------------------------------------------
// What the component dialog gives: "Firmware" (choice 0) drops the
// configuration part 0x100, "Firmware + Projektierung" keeps the mask.
std::uint32_t ComponentMask(std::uint32_t mask, int choice);

}  // namespace tarnwick
