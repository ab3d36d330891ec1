#pragma once
// The two file dialogs that remember the last file the user confirmed: the
// import of a Windows CE image and the transfer into a file. Each opens in
// the folder of its last file, with that file's name preselected while the
// file can still be opened, and keeps the new choice under its own key of
// the settings section FILE_DIALOGS.
#include "app/path_value.h"

namespace tarnwick {

class Prompter;

inline constexpr const char* kFileDialogsSection = "FILE_DIALOGS";
inline constexpr const char* kImportDialogKey = "Import_Dialog";
inline constexpr const char* kExportDialogKey = "Export_Dialog";

// True when the user confirmed; the chosen full path is then in path (taken
// apart into its parts). After a cancel path is left as it was.
bool ChooseImportFile(Prompter& prompter, PathValue& path);
bool ChooseExportFile(Prompter& prompter, PathValue& path);

}  // namespace tarnwick
