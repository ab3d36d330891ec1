#pragma once
// Message boxes on a terminal: the text as one line on stderr, answered
// without asking, since nobody may be there to answer (service scripts, SSH).
#include <cstdio>
#include <mutex>

#include "ports/prompter.h"

namespace tarnwick {

class ConsolePrompter : public Prompter {
public:
    // The answers given without asking. A batch run never stops for a
    // question: a plain message is acknowledged, an OK/Cancel request goes on,
    // a yes/no question is answered yes, and the save question (Yes, No,
    // Cancel) is answered no: a batch run discards its document unsaved.
    struct Answers {
        MessageAnswer ok = MessageAnswer::Ok;
        MessageAnswer okCancel = MessageAnswer::Ok;
        MessageAnswer yesNo = MessageAnswer::Yes;
        MessageAnswer yesNoCancel = MessageAnswer::No;
    };

    explicit ConsolePrompter(std::FILE* err = stderr);
    ConsolePrompter(std::FILE* err, Answers answers);

    MessageAnswer MessageBox(const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    // There is no file dialog on a terminal: the commands take their file from
    // the command line. A request is answered as cancelled, with a line saying so.
    std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) override;
    std::optional<FontChoice> ChooseFont(const FontChoice& current, int minPoints,
                                         int maxPoints) override;

    // The line a message box becomes: multi-line texts joined with " / ".
    static std::string MessageLine(const std::string& text, MessageIcon icon);

private:
    void WriteLine(const std::string& line);

    std::FILE* err_;
    Answers answers_;
    std::mutex mutex_;
};

}  // namespace tarnwick
