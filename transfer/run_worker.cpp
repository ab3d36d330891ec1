#include "transfer/run_worker.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "link/error_state.h"

namespace tarnwick {

bool RunWorker(StatusDialogHost& host, const WorkerBody& worker, const WorkerLaunch& launch) {
    std::unique_ptr<StatusDialog> dialog = host.CreateStatusDialog();
    if (!dialog) {
        ReportError(launch.fallbackFunction, launch.fallbackCode);
        return false;
    }
    if (launch.total) dialog->SetTotal(*launch.total);

    // Written by the worker, read here only after the thread has ended.
    std::atomic<int> result{1};

    std::thread thread;
    try {
        thread = std::thread([&dialog, &worker, &result] {
            bool ok = false;
            // No dialog access before it is ready; a dialog that never comes
            // up must not keep the worker waiting, and counts as a failure.
            if (dialog->WaitUntilReady()) {
                try {
                    ok = worker(*dialog);
                } catch (...) {
                    // Nothing may escape a thread; the fallback error tells.
                    ok = false;
                }
            }
            result.store(ok ? 1 : 0);
            // The worker's last action, on success and failure alike.
            dialog->PostClose();
        });
    } catch (const std::system_error&) {
        ReportError(launch.fallbackFunction, launch.fallbackCode);
        return false;
    }

    if (!dialog->RunModal()) {
        // The window never came up: release a worker still waiting for it.
        dialog->MarkGone();
    }
    // Whatever ended the modal run, the launcher returns only after the
    // worker has ended, so everything the worker uses outlives it.
    thread.join();
    dialog->MarkGone();

    if (result.load() == 0) {
        ReportError(launch.fallbackFunction, launch.fallbackCode);
        return false;
    }
    return true;
}

}  // namespace tarnwick
