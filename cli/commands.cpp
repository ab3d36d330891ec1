#include "cli/commands.h"

#include <iterator>

#include "app/command_line.h"
#include "cli/export_command.h"
#include "cli/import_command.h"
#include "cli/info_command.h"
#include "cli/transfer_command.h"

namespace tarnwick {
namespace {

// One row per batch command. A subsystem plugs its command in by giving its
// row a handler (declared in a header of its own in cli/).
constexpr CliCommand kCommands[] = {
    {kCommandDownload, "DOWNLOAD", RunDownloadCommand},
    {kCommandUpload, "UPLOAD", RunUploadCommand},
    {kCommandTransferToFile, "TOFILE", RunTransferToFileCommand},
    {kCommandImport, "IMPORT", RunImportCommand},
    {kCommandExportCe, "EXPORTCE", RunExportCommand},
    {kCommandInfo, "INFO", RunInfoCommand},
};

}  // namespace

const CliCommand* FindCliCommand(std::uint32_t id) {
    for (const auto& command : kCommands)
        if (command.id == id) return &command;
    return nullptr;
}

}  // namespace tarnwick
