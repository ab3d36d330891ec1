#include "gui/transfer_commands.h"

#include "app/string_table.h"
#include "gui/qt_ports.h"

namespace tarnwick::gui {
namespace {

// Hook for the transfer core: the download, upload, settings and to-file
// commands are wired here once their core functions exist.
void TransferCoreHook(TransferCommandContext& context) {
    context.prompter.MessageBox("Diese Funktion ist in dieser Version nicht verfügbar.",
                                MessageIcon::Exclamation, MessageButtons::Ok);
}

}  // namespace

bool TransferCoreAvailable() { return false; }

void RunDownloadCommand(TransferCommandContext& context) { TransferCoreHook(context); }
void RunUploadCommand(TransferCommandContext& context) { TransferCoreHook(context); }
void RunSettingsCommand(TransferCommandContext& context) { TransferCoreHook(context); }
void RunTransferToFileCommand(TransferCommandContext& context) { TransferCoreHook(context); }

}  // namespace tarnwick::gui
