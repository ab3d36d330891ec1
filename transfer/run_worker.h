#pragma once
// The one way a long operation runs: a worker thread behind a modal status
// dialog, awaited by the command that started it.
//
//   RunWorker(host, worker, {function, code}) makes a status dialog, starts the
//   worker thread, runs the dialog on the calling thread until the worker has
//   closed it, waits for the thread to end and answers yes or no. The worker
//   never touches the dialog before it is ready; it records its own failures
//   with ReportError and returns false; the launcher then adds its fallback
//   error, which the user sees only when the worker recorded nothing itself.
#include <cstdint>
#include <functional>
#include <optional>

#include "transfer/status_dialog.h"

namespace tarnwick {

// The body of a worker: runs on the worker thread once the dialog is ready,
// returns the result flag. The frame around it (waiting for readiness,
// storing the result, posting the close) is RunWorker's.
using WorkerBody = std::function<bool(StatusDialog& dialog)>;

struct WorkerLaunch {
    std::uint32_t fallbackFunction = 0;
    std::uint32_t fallbackCode = 0;
    // Set as the dialog's total before the thread starts (the compression job
    // knows its byte count in advance); nothing leaves the initial total.
    std::optional<std::uint32_t> total;
};

// Returns true when the worker succeeded. False when it failed, or when no
// dialog could be shown (the worker then does not run); the fallback error is
// recorded in both cases. Returns only after the worker thread has ended.
bool RunWorker(StatusDialogHost& host, const WorkerBody& worker, const WorkerLaunch& launch);

}  // namespace tarnwick
