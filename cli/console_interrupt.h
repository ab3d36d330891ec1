#pragma once
// Ctrl+C in the console front end.
//
// While a status dialog runs, the first Ctrl+C is its Cancel button: the
// worker stops at its next check and the command reports the cancel as the
// program always does. A second Ctrl+C, or one while no dialog runs, ends the
// program at once. So that such an end leaves no temporary files behind,
// Install() gives the process a private temporary folder (TMPDIR points into
// it: the image parts and the split file of an import live there), and the
// end removes that folder before the process exits.
#include <string>

namespace tarnwick {
class StatusDialog;
}

namespace tarnwick::cli {

class ConsoleInterrupt {
public:
    // Idempotent. Call before any temporary file is made and before any other
    // thread starts (the signals are taken by a thread of their own).
    // quiet: no note on stderr when a cancel is requested.
    static void Install(bool quiet = false);

    // The dialog that a Ctrl+C cancels; cleared when its run ends.
    static void SetCancelTarget(StatusDialog* dialog);
    static void ClearCancelTarget(StatusDialog* dialog);

    // The private temporary folder, empty when not installed.
    static std::string TemporaryFolder();

    // Removes the private temporary folder and everything in it. Called at
    // the end of a command; the folder is made anew if needed later.
    static void RemoveTemporaryFolder();
};

// Puts TMPDIR back and removes the private folder when a command ends.
class InterruptScope {
public:
    explicit InterruptScope(bool quiet) { ConsoleInterrupt::Install(quiet); }
    ~InterruptScope() { ConsoleInterrupt::RemoveTemporaryFolder(); }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

}  // namespace tarnwick::cli
