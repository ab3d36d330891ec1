#include "cli/info_command.h"

#include <cstdio>

#include "app/tarnwick_app.h"
#include "cli/commands.h"
#include "document/tarnwick_doc.h"

namespace tarnwick {

std::string PartTable(const CTarnwickDoc& document) {
    // Plain ASCII headings of fixed width, so that scripts can cut columns.
    std::string table = "Nr     Id          Size        Address     Checksum  Packed\n";
    for (int i = 0; i < document.PartCount(); ++i) {
        const ImagePart* part = document.PartAt(i);
        char line[128];
        std::snprintf(line, sizeof line, "%-5d  0x%08X  %10u  0x%08X  0x%04X    %10u\n", i,
                      part->Id(), part->Size(), part->Address(), part->Checksum(),
                      part->PackedSize());
        table += line;
    }
    return table;
}

int RunInfoCommand(CliContext& context) {
    CTarnwickDoc document(context.log, context.prompter);
    document.OnNewDocument();
    // The open writes "Öffnen …", the three version lines and "Ok" into the
    // log, or refuses the file with its messages.
    if (!document.OnOpenDocument(context.app.batchFile)) return kExitFailed;
    const std::string table = PartTable(document);
    std::fwrite(table.data(), 1, table.size(), stdout);
    std::fflush(stdout);
    return kExitSuccess;
}

}  // namespace tarnwick
