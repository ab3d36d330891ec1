#pragma once
// Everything the core asks a person: message boxes, the save question, file
// dialogs and the font choice. Called on the thread that runs commands.
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick {

enum class MessageIcon { None, Information, Exclamation, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct FileDialogRequest {
    std::string title;          // empty: the toolkit's default caption
    std::string filter;         // "Text|*.ext|Text|*.*||" as the program's string table has it
    std::string defaultExtension;
    std::string initialFolder;  // empty: the toolkit's default
    std::string initialName;    // preselected file name, may be empty
    bool mustExist = false;     // open dialogs: the file must exist
    bool pathMustExist = false; // save dialogs: the folder of the name must exist
    bool overwritePrompt = false;
};

struct FontChoice {
    std::string face;
    int pointSize = 11;
};

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MessageAnswer MessageBox(const std::string& text, MessageIcon icon,
                                     MessageButtons buttons) = 0;
    // Returns the chosen path, or nothing when the person cancelled.
    virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) = 0;
    virtual std::optional<FontChoice> ChooseFont(const FontChoice& current, int minPoints,
                                                 int maxPoints) = 0;
};

}  // namespace tarnwick
