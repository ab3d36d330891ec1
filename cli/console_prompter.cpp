#include "cli/console_prompter.h"

#include "app/string_table.h"

namespace tarnwick {
namespace {

constexpr unsigned kAppTitleId = 57344;

std::string Prefix(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error: return "error: ";
    case MessageIcon::Exclamation: return "warning: ";
    case MessageIcon::Question: return "question: ";
    case MessageIcon::Information:
    case MessageIcon::None: break;
    }
    return {};
}

}  // namespace

ConsolePrompter::ConsolePrompter(std::FILE* err) : ConsolePrompter(err, Answers{}) {}

ConsolePrompter::ConsolePrompter(std::FILE* err, Answers answers) : err_(err), answers_(answers) {}

std::string ConsolePrompter::MessageLine(const std::string& text, MessageIcon icon) {
    std::string joined;
    std::string pending;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            pending = " / ";
            continue;
        }
        if (!pending.empty()) {
            // Blanks around a line break carry no meaning on one line.
            while (!joined.empty() && joined.back() == ' ') joined.pop_back();
            if (!joined.empty()) joined += pending;
            pending.clear();
            if (c == ' ') continue;
        }
        joined += c;
    }
    while (!joined.empty() && joined.back() == ' ') joined.pop_back();
    return BuiltinString(kAppTitleId).value_or("Tarnwick") + ": " + Prefix(icon) + joined;
}

void ConsolePrompter::WriteLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::fputs((line + "\n").c_str(), err_);
    std::fflush(err_);
}

MessageAnswer ConsolePrompter::MessageBox(const std::string& text, MessageIcon icon,
                                          MessageButtons buttons) {
    WriteLine(MessageLine(text, icon));
    switch (buttons) {
    case MessageButtons::Ok: return answers_.ok;
    case MessageButtons::OkCancel: return answers_.okCancel;
    case MessageButtons::YesNo: return answers_.yesNo;
    case MessageButtons::YesNoCancel: return answers_.yesNoCancel;
    }
    return MessageAnswer::Ok;
}

std::optional<std::string> ConsolePrompter::OpenFileDialog(const FileDialogRequest& request) {
    WriteLine("tarnwick-cli: no file dialog on the console" +
              (request.title.empty() ? std::string{} : " (" + request.title + ")") +
              "; give the file on the command line");
    return std::nullopt;
}

std::optional<std::string> ConsolePrompter::SaveFileDialog(const FileDialogRequest& request) {
    return OpenFileDialog(request);
}

std::optional<FontChoice> ConsolePrompter::ChooseFont(const FontChoice&, int, int) {
    return std::nullopt;
}

}  // namespace tarnwick
