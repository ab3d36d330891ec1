#pragma once
// tarnwick-cli's transfer commands:
//   -DOWNLOAD DOC.img          the document into the panel
//   -UPLOAD OUT.img            the panel into a new document, saved on success
//   -IMPEX -TOFILE DOC.img     the document into DOC.exp for a target variant
//                              (-VARIANT=KEY when the program INI offers several)
// The boot prompt is printed and the program waits for the panel; Ctrl+C
// during a wait or a transfer is the status dialog's Cancel.
namespace tarnwick {

struct CliContext;

int RunDownloadCommand(CliContext& context);
int RunUploadCommand(CliContext& context);
int RunTransferToFileCommand(CliContext& context);

// --list-ports: the serial devices present and where COM1 … COM4 lead.
int RunListPorts();

}  // namespace tarnwick
