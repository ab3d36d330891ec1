#include "cli/export_command.h"

#include "app/tarnwick_app.h"
#include "cli/commands.h"
#include "cli/console_interrupt.h"
#include "document/tarnwick_doc.h"
#include "osimage/ce_export.h"

namespace tarnwick {

int RunExportCommand(CliContext& context) {
    cli::InterruptScope interrupt(context.quiet);
    bool ok = false;
    {
        CTarnwickDoc document(context.log, context.prompter);
        document.OnNewDocument();
        // A document that cannot be opened has said why already.
        if (document.OnOpenDocument(context.app.batchFile))
            ok = OnExportCe(document, context.app.batchExportFile);
    }
    return ok ? kExitSuccess : kExitFailed;
}

}  // namespace tarnwick
