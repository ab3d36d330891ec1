#pragma once
// What every desktop test needs: its own settings and runtime folders (set
// before the application object exists), German texts, and a way to answer
// the modal dialogs and message boxes the program opens, the way a person
// would: by finding the window and pressing its buttons.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>

#include "app/settings.h"
#include "gui/window_app.h"
#include "support/nb0_builder.h"

namespace tarnwick::testing {

// A private XDG_CONFIG_HOME and XDG_RUNTIME_DIR for the whole test program.
class GuiTestEnvironment {
public:
    GuiTestEnvironment() {
        ::setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", folder_.File("run").c_str(), 1);
        ::setenv("LANG", "de_DE.UTF-8", 1);
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        std::filesystem::create_directories(folder_.File("config"));
        std::filesystem::create_directories(folder_.File("run"));
        ::chmod(folder_.File("run").c_str(), 0700);
    }
    const TempFolder& Folder() const { return folder_; }
    std::string SettingsFile() const { return folder_.File("config") + "/Valdore/Tarnwick.ini"; }
    // A fresh start: no stored settings at all.
    void ForgetSettings() const {
        std::error_code ec;
        std::filesystem::remove(SettingsFile(), ec);
    }

private:
    TempFolder folder_;
};

// Starts the window program as the built tarnwick would, finding its INI and
// language files in the build's bin folder.
inline gui::StartOptions WindowStartOptions() {
    gui::StartOptions options;
    options.programFile = TARNWICK_BIN_DIR "/tarnwick";
    return options;
}

inline GuiTestEnvironment& Env() {
    static GuiTestEnvironment env;
    return env;
}

// Set up before main() runs, so that the program sees it from the start.
inline const bool kGuiEnvironmentReady = (Env(), true);

// Calls act with the first modal window of type W that comes up, from inside
// its modal loop; gives up after timeoutMs. Returns a flag telling whether
// act ran, readable after the dialog has returned.
class ModalAnswer : public QObject {
public:
    template <typename W>
    static std::shared_ptr<bool> When(std::function<void(W*)> act, int timeoutMs = 20000) {
        auto done = std::make_shared<bool>(false);
        auto* watcher = new ModalAnswer;
        auto* timer = new QTimer(watcher);
        auto elapsed = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, watcher, [=] {
            *elapsed += 10;
            QWidget* modal = QApplication::activeModalWidget();
            if (W* w = qobject_cast<W*>(modal)) {
                timer->stop();
                *done = true;
                watcher->deleteLater();
                act(w);
                return;
            }
            if (*elapsed > timeoutMs) {
                timer->stop();
                watcher->deleteLater();
            }
        });
        timer->start(10);
        return done;
    }
};

// Presses a button of the next message box and remembers its text.
inline std::shared_ptr<bool> AnswerMessageBox(QMessageBox::StandardButton button,
                                              QString* text = nullptr) {
    return ModalAnswer::When<QMessageBox>([button, text](QMessageBox* box) {
        if (text) *text = box->text();
        box->button(button)->click();
    });
}

}  // namespace tarnwick::testing
