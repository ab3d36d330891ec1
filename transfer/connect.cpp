// Connecting to the panel: the boot prompt, the boot handshake at 9600 bit/s,
// the connection at the working rate, and the panel's description in the log.
#include "app/string_table.h"
#include "app/tarnwick_app.h"
#include "document/tarnwick_doc.h"
#include "link/bootloader.h"
#include "link/device_info.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "link/flash_programming.h"
#include "link/serial_port.h"
#include "osimage/message_format.h"
#include "ports/log.h"
#include "transfer/run_worker.h"
#include "transfer/transfer_view.h"

namespace tarnwick {
namespace {

constexpr unsigned kTextBootPrompt = 10061;
constexpr unsigned kTextConnecting = 10062;
constexpr unsigned kTextReadingInfo = 10056;
constexpr unsigned kTextPanelType = 11027;
constexpr unsigned kTextBootloaderDate = 11028;

constexpr std::uint32_t kHandshakeRate = 9600;

}  // namespace

TransferView::TransferView(TransferContext context) : context_(context) {}

Log& TransferView::GetLog() { return context_.document.GetLog(); }
Prompter& TransferView::GetPrompter() { return context_.document.GetPrompter(); }

bool ConnectWorker(StatusDialog& dialog, std::uint16_t port, std::uint32_t baudRate) {
    // The prompt with its warning stands in bold from the top of the field,
    // so that its several lines read as one notice.
    const std::string prompt = Text(kTextBootPrompt);
    dialog.SetTextEmphasis(true);
    dialog.SetText(prompt);
    dialog.SetCaption(Text(kTextConnecting));

    BootLink& link = TheLink();
    bool booted = false;
    if (link.OpenLink(port, kHandshakeRate) != 0) {
        ReportError(kFnBootHandshake, 0x63);
    } else {
        const int answer = link.WaitForBoot(&dialog);
        link.CloseLink();
        switch (answer) {
        case kBootAnswered: booted = true; break;
        case kBootCancelled: ReportError(kFnBootHandshake, kErrorCancelled); break;
        case kBootSendFailed: ReportError(kFnBootHandshake, 0x67); break;
        case kBootNoAnswer: ReportError(kFnBootHandshake, kErrorDownloadTimeout); break;
        default: break;
        }
    }
    if (!booted) {
        ReportError(kFnConnectWorker, 0x67);
        return false;
    }

    dialog.SetTextEmphasis(false);
    dialog.SetText(Text(kTextReadingInfo));
    if (ConnectAndIdentify(port, baudRate) == 0) {
        ThePort().Close();
        ReportError(kFnConnectWorker, 0x68);
        return false;
    }
    return true;  // the port stays open for the operation that follows
}

bool TransferView::ConnectPanel() {
    if (IsToFileMode()) return SelectTargetVariant();
    const std::uint16_t port = context_.app.port;
    const std::uint32_t baud = context_.app.baudRate;
    return RunWorker(
        context_.status,
        [port, baud](StatusDialog& dialog) { return ConnectWorker(dialog, port, baud); },
        WorkerLaunch{kFnConnectLauncher, 0x71, std::nullopt});
}

void TransferView::LogDeviceInfo() {
    const std::uint16_t version = BootloaderVersion();
    const std::uint32_t date = BootloaderDate();
    const std::string name = PanelTypeName(HardwareType());
    Log& log = GetLog();
    log.AppendLog(FormatText(Text(kTextPanelType),
                             {name, std::int64_t{version / 100}, std::int64_t{version % 100}}),
                  kLogBlack, kLogNormal);
    const std::int64_t day = (date >> 24) & 0xFF;
    const std::int64_t month = (date >> 16) & 0xFF;
    const std::int64_t year = date & 0xFFFF;
    log.AppendLog(FormatText(Text(kTextBootloaderDate), {day, month, year}), kLogBlack, kLogNormal);
}

}  // namespace tarnwick
