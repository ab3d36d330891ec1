#pragma once
// tarnwick-cli -IMPEX -IMPORT FILE.NB0: imports the Windows CE image file and,
// on success, saves the document beside it with the extension "img".
namespace tarnwick {

struct CliContext;

int RunImportCommand(CliContext& context);

}  // namespace tarnwick
