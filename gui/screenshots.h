#pragma once
// Pictures of the main window and of every dialog, for the documentation
// and for looking at the layout: started by the environment variable
// TARNWICK_SCREENSHOTS=<folder> (scripts/screenshot runs it under Xvfb).
namespace tarnwick::gui {

class TarnwickWindowApp;

// Writes the PNG files into folder and returns the exit status.
int TakeScreenshots(TarnwickWindowApp& app, const char* folder);

}  // namespace tarnwick::gui
