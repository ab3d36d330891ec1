#include "cli/console_interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "transfer/status_dialog.h"

namespace tarnwick::cli {
namespace {

struct InterruptState {
    std::mutex mutex;
    bool signalsTaken = false;
    bool quiet = false;
    StatusDialog* target = nullptr;
    bool cancelSent = false;
    std::string folder;
    bool hadTmpdir = false;
    std::string oldTmpdir;
};

InterruptState& State() {
    static InterruptState* state = new InterruptState;  // outlives every static destructor
    return *state;
}

void RemoveFolderLocked(InterruptState& s) {
    if (s.folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(s.folder, ec);
    s.folder.clear();
}

void WriteNote(const char* text) {
    const std::size_t n = std::strlen(text);
    ssize_t r = ::write(STDERR_FILENO, text, n);
    static_cast<void>(r);
}

void SignalLoop(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (::sigwait(&set, &sig) != 0) continue;
        InterruptState& s = State();
        std::unique_lock lock(s.mutex);
        if (sig == SIGINT && s.target != nullptr && !s.cancelSent) {
            s.target->RequestCancel();
            s.cancelSent = true;
            if (!s.quiet) {
                WriteNote("\nAbbruch angefordert; ein weiteres Strg+C beendet das Programm sofort.\n");
            }
            continue;
        }
        // Ends the program at once: whatever a worker is writing is thrown
        // away with the private folder it writes into.
        RemoveFolderLocked(s);
        ::_exit(128 + sig);
    }
}

bool MakeFolderLocked(InterruptState& s) {
    if (!s.folder.empty()) return true;
    const char* base = s.hadTmpdir && !s.oldTmpdir.empty() ? s.oldTmpdir.c_str() : "/tmp";
    std::string pattern = std::string(base) + "/tarnwick-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return false;
    s.folder = pattern;
    ::setenv("TMPDIR", s.folder.c_str(), 1);
    return true;
}

}  // namespace

void ConsoleInterrupt::Install(bool quiet) {
    InterruptState& s = State();
    std::lock_guard lock(s.mutex);
    s.quiet = quiet;
    if (!s.signalsTaken) {
        const char* tmp = ::getenv("TMPDIR");
        s.hadTmpdir = tmp != nullptr;
        s.oldTmpdir = tmp ? tmp : "";
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        // Threads started from here on inherit the mask, so only the signal
        // thread ever sees these signals.
        if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0) {
            try {
                std::thread(SignalLoop, set).detach();
                s.signalsTaken = true;
            } catch (...) {
                ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
            }
        }
    }
    // Without a private folder the temporary files go where they always go.
    MakeFolderLocked(s);
}

void ConsoleInterrupt::SetCancelTarget(StatusDialog* dialog) {
    InterruptState& s = State();
    std::lock_guard lock(s.mutex);
    s.target = dialog;
    s.cancelSent = false;
}

void ConsoleInterrupt::ClearCancelTarget(StatusDialog* dialog) {
    InterruptState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.target == dialog) {
        s.target = nullptr;
        s.cancelSent = false;
    }
}

std::string ConsoleInterrupt::TemporaryFolder() {
    InterruptState& s = State();
    std::lock_guard lock(s.mutex);
    return s.folder;
}

void ConsoleInterrupt::RemoveTemporaryFolder() {
    InterruptState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.folder.empty()) return;
    RemoveFolderLocked(s);
    if (s.hadTmpdir) {
        ::setenv("TMPDIR", s.oldTmpdir.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

}  // namespace tarnwick::cli
