#include "cli/import_command.h"

#include <optional>

#include "app/tarnwick_app.h"
#include "cli/commands.h"
#include "cli/console_interrupt.h"
#include "cli/console_progress.h"
#include "document/tarnwick_doc.h"
#include "osimage/ce_import.h"

namespace tarnwick {

int RunImportCommand(CliContext& context) {
    // The parts and the split file go into a private temporary folder that is
    // removed when the command ends, or at once on a second Ctrl+C.
    cli::InterruptScope interrupt(context.quiet);
    cli::ConsoleStatusHost status(cli::DefaultConsoleProgressOptions(context.quiet));
    bool ok;
    {
        CTarnwickDoc document(context.log, context.prompter);
        document.OnNewDocument();
        CeImageView view{document, status, std::nullopt};
        ok = OnImportCe(view, context.app.batchFile);
    }
    return ok ? kExitSuccess : kExitFailed;
}

}  // namespace tarnwick
