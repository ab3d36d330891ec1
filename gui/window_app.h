#pragma once
// The desktop program's application object: the start-up as a window
// program (single copy, settings, language, the document "Neu", the main
// frame and its log view, the window position, the command line), the two
// commands of its own (File Open, About), and the batch run that executes one
// command as if chosen from the menu and then ends.
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tarnwick_app.h"
#include "gui/qt_ports.h"
#include "gui/qt_status_dialog.h"

class QTranslator;

namespace tarnwick {
class CTarnwickDoc;
class TransferView;
}

namespace tarnwick::gui {

class CMainFrame;
class CTarnwickView;

struct StartOptions {
    // Where the single-copy lock lives; empty: the default place.
    std::string lockPath;
    // The program file the INI and language files are found beside; empty:
    // the running executable.
    std::string programFile;
    // Show the window (tests of the batch run and the screenshots do).
    bool show = true;
};

class TarnwickWindowApp : public QObject {
    Q_OBJECT
public:
    enum class Start {
        Interactive,  // enter the message loop
        Finished,     // a batch command ran; end now
        OtherCopy,    // another copy runs: end silently
        Failed,       // the window could not be set up
    };

    TarnwickWindowApp();
    ~TarnwickWindowApp() override;

    // InitInstance: every start-up step; runs the batch command when the
    // command line gives one.
    Start InitInstance(const std::vector<std::string>& args, const StartOptions& options = {});
    // ExitInstance: gives up the single-copy lock.
    void ExitInstance();

    // Commands of the application object.
    void OnFileOpen();
    void OnAbout();
    // The framework's open: the save question, the open, the initial update
    // of the view and the recent-file list. False when nothing was opened.
    bool OpenDocumentFile(const std::string& path);

    CTarnwickApp& App() { return app_; }
    CMainFrame* Frame() const { return frame_.get(); }
    CTarnwickView* View() const { return view_; }
    CTarnwickDoc* Document() const { return document_.get(); }
    TransferView* Transfer() const { return transfer_.get(); }
    QtPrompter& Prompter() { return prompter_; }
    QtChoices& Choices() { return choices_; }
    QtStatusHost& StatusHost() { return statusHost_; }

private:
    void CreateDocumentFrameView();
    void RegisterCommands();
    void InstallQtTranslation();

    CTarnwickApp& app_;
    QtPrompter prompter_;
    QtChoices choices_;
    QtStatusHost statusHost_;
    std::unique_ptr<CMainFrame> frame_;
    CTarnwickView* view_ = nullptr;
    std::unique_ptr<CTarnwickDoc> document_;
    std::unique_ptr<TransferView> transfer_;
    std::unique_ptr<QTranslator> qtTranslator_;
};

}  // namespace tarnwick::gui
