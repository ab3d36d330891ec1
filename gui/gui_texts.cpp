#include "gui/gui_texts.h"

#include "app/string_table.h"

namespace tarnwick::gui {

std::string GuiTextUtf8(unsigned id) { return Text(id); }

QString GuiText(unsigned id) { return QString::fromStdString(GuiTextUtf8(id)); }

QString PromptPart(const QString& commandString) {
    const auto cut = commandString.indexOf(QLatin1Char('\n'));
    return cut < 0 ? commandString : commandString.left(cut);
}

QString TipPart(const QString& commandString) {
    const auto cut = commandString.indexOf(QLatin1Char('\n'));
    return cut < 0 ? QString() : commandString.mid(cut + 1);
}

}  // namespace tarnwick::gui
