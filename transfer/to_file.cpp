// The transfer into a file: the download run against a target variant from
// the program INI file instead of a panel, its pieces written into a *.exp
// file. Also the component choice and the interface settings command.
#include <cstdio>

#include "app/path_value.h"
#include "app/settings.h"
#include "app/tarnwick_app.h"
#include "document/image_part.h"
#include "document/tarnwick_doc.h"
#include "link/device_info.h"
#include "link/flash_programming.h"
#include "osimage/file_dialogs.h"
#include "ports/prompter.h"
#include "transfer/interface_settings.h"
#include "transfer/transfer_view.h"

namespace tarnwick {
namespace {

constexpr std::size_t kMaxVariantKeys = 65535;  // the key count is 16 bits

std::string& FileName() {
    static std::string name;
    return name;
}

// Switches the to-file mode on for one command and off again on every path.
class ToFileModeScope {
public:
    ToFileModeScope() { SetToFileMode(true); }
    ~ToFileModeScope() { SetToFileMode(false); }
    ToFileModeScope(const ToFileModeScope&) = delete;
    ToFileModeScope& operator=(const ToFileModeScope&) = delete;
};

}  // namespace

void SetTransferFileName(const std::string& path) { FileName() = path; }
const std::string& TransferFileName() { return FileName(); }

std::string TransferFileNameFor(const std::string& chosenPath) {
    PathValue path(chosenPath);
    if (path.ExtensionPart() != ".exp") path.SetExtension("exp");
    return path.full;
}

std::vector<VariantEntry> ReadTargetVariants(const CTarnwickApp& app, const std::string& typeName) {
    std::vector<VariantEntry> list;
    const std::string section = typeName + "-VARIANTS";
    for (std::size_t n = 1; n <= kMaxVariantKeys; ++n) {
        char key[160];
        std::snprintf(key, sizeof key, "%s-%01zu", typeName.c_str(), n);
        const std::string description = app.ReadIniString(section, key);
        if (description.empty()) break;
        VariantEntry entry;
        entry.key = key;
        entry.description = description;
        entry.panelTypeName = typeName;
        // Read in this order, stopping at the first value that reads as 0: a
        // variant lacking any of them cannot describe a flash.
        std::uint32_t* const fields[] = {&entry.flashSize, &entry.dramSize, &entry.loaderSize,
                                         &entry.flashStart};
        const char* const names[] = {"SIZE_FLASH", "SIZE_DRAM", "SIZE_LOADER", "START_FLASH"};
        bool complete = true;
        for (std::size_t i = 0; i < 4; ++i) {
            *fields[i] = app.ReadIniHex(key, names[i], 0);
            if (*fields[i] == 0) {
                complete = false;
                break;
            }
        }
        if (complete) list.push_back(entry);
    }
    return list;
}

bool TransferView::SelectTargetVariant() {
    const std::uint32_t type = context_.document.HardwareType();
    const std::string name = PanelTypeName(type);
    if (name.empty())
        GetPrompter().MessageBox("Unbekanntes Zielgerät", MessageIcon::Exclamation, MessageButtons::Ok);
    const std::vector<VariantEntry> variants = ReadTargetVariants(context_.app, name);
    // Keys without a single complete entry offer nothing to take or show.
    if (variants.empty()) return false;
    std::size_t chosen = 0;
    if (variants.size() > 1) {
        const auto answer = context_.choices.ChooseVariant(variants);
        if (!answer || *answer >= variants.size()) return false;
        chosen = *answer;
    }
    const VariantEntry& entry = variants[chosen];
    SetFromVariant(static_cast<std::uint16_t>(type & 0xFFFF), entry.flashStart, entry.flashSize,
                   entry.loaderSize);
    return true;
}

TransferOutcome TransferView::TransferToFile(const std::string& chosenPath) {
    ToFileModeScope mode;
    SetTransferFileName(TransferFileNameFor(chosenPath));
    return OnTransfer();
}

TransferOutcome TransferView::OnTransferToFile() {
    ToFileModeScope mode;
    PathValue path;
    if (!ChooseExportFile(GetPrompter(), path)) return TransferOutcome::NotStarted;
    return TransferToFile(path.full);
}

std::uint32_t ComponentMask(std::uint32_t mask, int choice) {
    return choice == 0 ? mask & ~kConfigPartId : mask;
}

bool TransferView::OnSettings() {
    CTarnwickApp& app = context_.app;
    InterfaceSettingsDialog dialog;
    dialog.SetPort(app.port);
    dialog.SetBaud(app.baudRate);
    dialog.SetErase(app.eraseFlash != 0);

    // What the dialog opens with: a stored value outside the tables shows as
    // the first button, and OK then stores that button's value.
    InterfaceChoice current;
    current.port = dialog.GetPort();
    current.baud = dialog.GetBaud();
    current.eraseAll = dialog.GetErase();
    current.devicePath = PortDevicePath(current.port);
    const auto answer = context_.choices.ChooseInterface(current, app.impexMode != 0);
    if (!answer) return false;

    InterfaceSettingsDialog confirmed;
    confirmed.portChoice = -1;
    confirmed.baudChoice = -1;
    if (answer->port >= 0 && answer->port <= 0xFFFF)
        confirmed.SetPort(static_cast<std::uint16_t>(answer->port));
    confirmed.SetBaud(answer->baud);
    confirmed.SetErase(answer->eraseAll);

    app.port = confirmed.GetPort();
    app.baudRate = confirmed.GetBaud();
    app.eraseFlash = confirmed.GetErase() ? 1 : 0;
    WriteProfileInt("SETTINGS", "DEVICE", app.port);
    WriteProfileInt("SETTINGS", "BAUDRATE", static_cast<int>(app.baudRate));
    WriteProfileInt("SETTINGS", "ERASE_FLASH", app.eraseFlash);
    // The device behind the chosen port is kept like the port itself.
    if (!answer->devicePath.empty() && app.port < 4 &&
        answer->devicePath != PortDevicePath(app.port))
        WriteProfileString("PORTS", "COM" + std::to_string(app.port + 1), answer->devicePath);
    return true;
}

}  // namespace tarnwick
