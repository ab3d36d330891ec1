#include "gui/qt_ports.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "gui/dialogs.h"
#include "gui/font_dialog.h"
#include "gui/gui_texts.h"
#include "gui/ui_thread.h"

namespace tarnwick::gui {

QStringList QtNameFilters(const std::string& tableFilter) {
    const QStringList parts = QString::fromStdString(tableFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& text = parts[i];
        if (text.isEmpty()) break;
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            for (const QString& p : {pattern, pattern.toLower(), pattern.toUpper()})
                if (!patterns.contains(p)) patterns << p;
        }
        filters << text + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

TarnwickFileDialog::TarnwickFileDialog(QWidget* parent, const FileDialogRequest& request,
                                       bool save)
    : QFileDialog(parent), pathMustExist_(save && request.pathMustExist) {
    setObjectName(save ? QStringLiteral("SaveFileDialog") : QStringLiteral("OpenFileDialog"));
    // The same dialog on every desktop, and one the tests can answer.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::HideNameFilterDetails, true);
    setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    setFileMode(save ? QFileDialog::AnyFile
                     : (request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile));
    if (save && !request.overwritePrompt) setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.title.empty()) setWindowTitle(QString::fromStdString(request.title));
    const QStringList filters = QtNameFilters(request.filter);
    if (!filters.isEmpty()) setNameFilters(filters);
    if (!request.defaultExtension.empty()) {
        QString suffix = QString::fromStdString(request.defaultExtension);
        if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
        setDefaultSuffix(suffix);
    }
    if (!request.initialFolder.empty() && QDir(QString::fromStdString(request.initialFolder)).exists())
        setDirectory(QString::fromStdString(request.initialFolder));
    if (!request.initialName.empty()) selectFile(QString::fromStdString(request.initialName));
}

void TarnwickFileDialog::accept() {
    if (pathMustExist_) {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty()) {
            const QFileInfo info(chosen.front());
            if (!info.isDir() && !info.absoluteDir().exists()) {
                // The toolkit's own message, in the toolkit's language.
                QMessageBox::warning(
                    this, windowTitle(),
                    QCoreApplication::translate(
                        "QFileDialog",
                        "%1\nDirectory not found.\nPlease verify the correct directory name "
                        "was given.")
                        .arg(QDir::toNativeSeparators(info.absolutePath())));
                return;
            }
        }
    }
    QFileDialog::accept();
}

QObject* QtPrompter::Context() const {
    return owner_ ? static_cast<QObject*>(owner_.data()) : QCoreApplication::instance();
}

MessageAnswer QtPrompter::MessageBox(const std::string& text, MessageIcon icon,
                                     MessageButtons buttons) {
    return CallOnThreadOf(Context(), [this, &text, icon, buttons] {
        QMessageBox box(owner_);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.setWindowTitle(GuiText(kStrAppTitle));
        box.setText(QString::fromStdString(text));
        switch (icon) {
        case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
        }
        switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MessageButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MessageButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        }
        switch (box.exec()) {
        case QMessageBox::Yes: return MessageAnswer::Yes;
        case QMessageBox::No: return MessageAnswer::No;
        case QMessageBox::Cancel: return MessageAnswer::Cancel;
        case QMessageBox::Ok: return MessageAnswer::Ok;
        default:
            // Closed without a button: the answer that changes nothing.
            return buttons == MessageButtons::YesNo ? MessageAnswer::No
                   : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                    : MessageAnswer::Cancel;
        }
    });
}

std::optional<std::string> QtPrompter::RunFileDialog(const FileDialogRequest& request, bool save) {
    return CallOnThreadOf(Context(), [this, &request, save]() -> std::optional<std::string> {
        TarnwickFileDialog dialog(owner_, request, save);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty()) return std::nullopt;
        return files.front().toStdString();
    });
}

std::optional<std::string> QtPrompter::OpenFileDialog(const FileDialogRequest& request) {
    return RunFileDialog(request, false);
}

std::optional<std::string> QtPrompter::SaveFileDialog(const FileDialogRequest& request) {
    return RunFileDialog(request, true);
}

std::optional<FontChoice> QtPrompter::ChooseFont(const FontChoice& current, int minPoints,
                                                 int maxPoints) {
    return CallOnThreadOf(Context(), [&]() -> std::optional<FontChoice> {
        QFont font(QString::fromStdString(current.face), current.pointSize);
        const auto chosen = LogFontDialog::Choose(owner_, font, minPoints, maxPoints);
        if (!chosen) return std::nullopt;
        return FontChoice{chosen->family().toStdString(), chosen->pointSize()};
    });
}

QObject* QtChoices::Context() const {
    return owner_ ? static_cast<QObject*>(owner_.data()) : QCoreApplication::instance();
}

std::optional<InterfaceChoice> QtChoices::ChooseInterface(const InterfaceChoice& current,
                                                          bool impexMode) {
    return CallOnThreadOf(Context(), [&]() -> std::optional<InterfaceChoice> {
        InterfaceDialog dialog(impexMode, owner_);
        dialog.SetPort(current.port);
        dialog.SetBaud(current.baud);
        dialog.SetErase(current.eraseAll);
        if (!current.devicePath.empty()) dialog.SetDevicePath(current.port, current.devicePath);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        InterfaceChoice choice;
        choice.port = dialog.GetPort();
        choice.baud = dialog.GetBaud();
        choice.eraseAll = dialog.GetErase();
        choice.devicePath = dialog.GetDevicePath();
        return choice;
    });
}

std::optional<std::uint32_t> QtChoices::ChooseComponents(std::uint32_t offered,
                                                         std::uint32_t /*preselected*/) {
    return CallOnThreadOf(Context(), [&]() -> std::optional<std::uint32_t> {
        ComponentDialog dialog(owner_);
        dialog.SetMask(offered);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.GetMask();
    });
}

std::optional<std::size_t> QtChoices::ChooseVariant(const std::vector<VariantEntry>& variants) {
    return CallOnThreadOf(Context(), [&]() -> std::optional<std::size_t> {
        if (variants.empty()) return std::nullopt;
        VariantDialog dialog(variants, owner_);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return static_cast<std::size_t>(dialog.ChosenIndex());
    });
}

}  // namespace tarnwick::gui
