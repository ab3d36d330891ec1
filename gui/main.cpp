// tarnwick: the desktop program.
#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/screenshots.h"
#include "gui/window_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setOrganizationName(QStringLiteral("Valdore"));

    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());

    tarnwick::gui::TarnwickWindowApp app;
    switch (app.InitInstance(args)) {
    case tarnwick::gui::TarnwickWindowApp::Start::Interactive: break;
    case tarnwick::gui::TarnwickWindowApp::Start::Finished: return 0;
    case tarnwick::gui::TarnwickWindowApp::Start::OtherCopy: return 0;
    case tarnwick::gui::TarnwickWindowApp::Start::Failed: return 1;
    }
    // A hidden aid for the documentation: pictures of the window and of
    // every dialog, then the program ends.
    if (const char* folder = std::getenv("TARNWICK_SCREENSHOTS"); folder && *folder)
        return tarnwick::gui::TakeScreenshots(app, folder);
    return QApplication::exec();
}
