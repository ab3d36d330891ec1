#pragma once
// The ports through which the core asks a person, answered with real
// widgets: message boxes, file dialogs and the font choice (Prompter), and
// the interface, component and variant dialogs (Choices). A call from a
// worker thread is handed to the window's thread and waits for the answer.
#include <QFileDialog>
#include <QPointer>

#include "ports/choices.h"
#include "ports/prompter.h"

namespace tarnwick::gui {

// Turns a filter of the string table ("Text (*.ext)|*.EXT||") into Qt's
// list of filters. Patterns match in either case, as they do on the
// system the texts were written for.
QStringList QtNameFilters(const std::string& tableFilter);

// A file dialog that also refuses a typed name in a folder that does not
// exist, when asked to.
class TarnwickFileDialog : public QFileDialog {
    Q_OBJECT
public:
    TarnwickFileDialog(QWidget* parent, const FileDialogRequest& request, bool save);
    void accept() override;

private:
    bool pathMustExist_;
};

class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

    MessageAnswer MessageBox(const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) override;
    std::optional<FontChoice> ChooseFont(const FontChoice& current, int minPoints,
                                         int maxPoints) override;

private:
    std::optional<std::string> RunFileDialog(const FileDialogRequest& request, bool save);
    QObject* Context() const;

    QPointer<QWidget> owner_;
};

class QtChoices : public Choices {
public:
    explicit QtChoices(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

    std::optional<InterfaceChoice> ChooseInterface(const InterfaceChoice& current,
                                                   bool impexMode) override;
    std::optional<std::uint32_t> ChooseComponents(std::uint32_t offered,
                                                  std::uint32_t preselected) override;
    std::optional<std::size_t> ChooseVariant(const std::vector<VariantEntry>& variants) override;

private:
    QObject* Context() const;
    QPointer<QWidget> owner_;
};

}  // namespace tarnwick::gui
