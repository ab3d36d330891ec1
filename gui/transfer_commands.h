#pragma once
// The File-menu commands whose work lives in the transfer core: download,
// upload, interface settings and the transfer into a file. The window runs
// exactly the core's commands, with the window's log, message boxes, choice
// dialogs and status dialogs as their ports.
namespace tarnwick {
class CTarnwickApp;
class CTarnwickDoc;
}

namespace tarnwick::gui {

class CTarnwickView;
class QtPrompter;
class QtChoices;
class QtStatusHost;

struct TransferCommandContext {
    CTarnwickApp& app;
    CTarnwickDoc& document;
    CTarnwickView& view;
    QtPrompter& prompter;
    QtChoices& choices;
    QtStatusHost& status;
};

void RunDownloadCommand(TransferCommandContext& context);        // 32771
void RunUploadCommand(TransferCommandContext& context);          // 32772
void RunSettingsCommand(TransferCommandContext& context);        // 32773
void RunTransferToFileCommand(TransferCommandContext& context);  // 32790

// Whether the transfer core is part of this build; until it is, the four
// commands above show that they are not available instead of doing anything.
bool TransferCoreAvailable();

}  // namespace tarnwick::gui
