#pragma once
// The program's own pictures: the program icon and the toolbar buttons
// (16 × 15 pixels, drawn here rather than loaded, so nothing can go missing).
#include <QIcon>

namespace tarnwick::gui {

QIcon ProgramIcon();
// The button picture of a toolbar command (open, save, download, upload,
// settings); an empty icon for any other.
QIcon ToolbarIcon(unsigned command);

}  // namespace tarnwick::gui
