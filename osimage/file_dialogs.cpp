#include "osimage/file_dialogs.h"

#include <optional>
#include <string>

#include "app/settings.h"
#include "app/string_table.h"
#include "ports/prompter.h"

namespace tarnwick {
namespace {

enum class DialogKind { Open, Save };

struct RememberedDialog {
    const char* key;
    DialogKind kind;
    unsigned filterId;
};

constexpr unsigned kImportFilter = 10100;  // "Absolute image (*.NB0)|*.NB0||"
constexpr unsigned kExportFilter = 10103;  // "Export image (*.exp)|*.EXP||"

bool RunRememberedDialog(Prompter& prompter, PathValue& path, const RememberedDialog& d) {
    PathValue last(GetProfileString(kFileDialogsSection, d.key, ""));
    const std::string folder = last.FolderPart();
    std::string name = last.NamePart();
    // A file that was moved, deleted or never written is not offered again;
    // its folder still is.
    if (!last.CanOpenForReading()) name.clear();

    FileDialogRequest request;
    request.filter = Text(d.filterId);
    request.initialFolder = folder;
    request.initialName = name;
    request.overwritePrompt = true;
    if (d.kind == DialogKind::Open) {
        request.mustExist = true;
    } else {
        request.pathMustExist = true;
    }

    const std::optional<std::string> chosen = d.kind == DialogKind::Open
                                                  ? prompter.OpenFileDialog(request)
                                                  : prompter.SaveFileDialog(request);
    if (!chosen) return false;

    path = PathValue(*chosen);
    path.FolderPart();
    path.NamePart();
    WriteProfileString(kFileDialogsSection, d.key, *chosen);
    return true;
}

}  // namespace

bool ChooseImportFile(Prompter& prompter, PathValue& path) {
    return RunRememberedDialog(prompter, path,
                               {kImportDialogKey, DialogKind::Open, kImportFilter});
}

bool ChooseExportFile(Prompter& prompter, PathValue& path) {
    return RunRememberedDialog(prompter, path,
                               {kExportDialogKey, DialogKind::Save, kExportFilter});
}

}  // namespace tarnwick
