#pragma once
// The status dialog of a long operation, as both of its sides see it.
//
// The worker thread drives it through the Progress operations and ends it
// with PostClose(); the thread that started the command runs it with
// RunModal() and, while it is up, may only record a Cancel request. The few
// words both sides touch (cancel request, readiness, the close request) are
// atomics; everything a front end shows goes through the On... hooks, which
// are called on the worker thread and must forward to the front end's own
// thread as it needs (the Qt dialog blocks until its thread has handled them,
// the console dialog just records what to draw next).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ports/progress.h"

namespace tarnwick {

class StatusDialog : public Progress {
public:
    StatusDialog() = default;
    ~StatusDialog() override = default;
    StatusDialog(const StatusDialog&) = delete;
    StatusDialog& operator=(const StatusDialog&) = delete;

    // ---- worker side ------------------------------------------------------
    void SetText(const std::string& text) override;
    void SetCaption(const std::string& caption) override;
    // total := bytes (the launcher may set it before the worker starts).
    void SetTotal(std::uint32_t bytes) override;
    // done += bytes, then shows ProgressPercent(done, total).
    void AddProgress(std::uint32_t bytes) override;
    void ShowProgress() override;
    void HideProgress() override;
    // Shows the text in bold, starting at the top of its field (the boot
    // prompt with its warning), or back in the normal centred style.
    void SetTextEmphasis(bool bold);
    bool IsCancelled() const override;
    // True once the dialog is up and until it is gone.
    bool IsReady() const override;

    // The closing command of the worker: ends the modal run. Never blocks;
    // later calls change nothing.
    void PostClose();

    // Blocks until the dialog is ready, or until it will never be (it could
    // not be shown, or it is already gone). Returns whether it is ready.
    bool WaitUntilReady();

    // ---- the side that runs the dialog ------------------------------------
    // Shows the dialog and returns when the worker has posted the close.
    // Returns false when the dialog could not be shown at all; an
    // implementation that fails must call MarkFailed() so that a waiting
    // worker is released.
    virtual bool RunModal() = 0;

    // The Cancel button: records the request and nothing else.
    void RequestCancel();

    // Values for a front end to draw.
    std::uint32_t Total() const { return total_.load(); }
    std::uint64_t Done() const { return done_.load(); }
    bool CloseRequested() const { return closeRequested_.load(); }

    // Ends readiness for good (the window is destroyed). Called by the
    // launcher after the modal run; an implementation may call it earlier.
    void MarkGone();

protected:
    // For RunModal implementations: the window exists and is initialised.
    void MarkReady();
    // For RunModal implementations: the window could not be created.
    void MarkFailed();
    // Waits at most timeout for the close request; true when it came.
    bool WaitForClose(std::chrono::milliseconds timeout);
    // Waits for the close request without limit.
    void WaitForClose();

    // Hooks, called on the worker thread; the defaults do nothing.
    virtual void OnText(const std::string& /*text*/) {}
    virtual void OnCaption(const std::string& /*caption*/) {}
    virtual void OnBarVisible(bool /*visible*/) {}
    virtual void OnTextEmphasis(bool /*bold*/) {}
    // percent as the dialog's integer rule gives it (not clamped); done and
    // total for front ends that show bytes and rates.
    virtual void OnPercent(std::uint32_t /*percent*/, std::uint64_t /*done*/,
                           std::uint32_t /*total*/) {}
    // Called by PostClose() after the request is recorded, to wake the
    // modal loop of the front end.
    virtual void OnClosePosted() {}

private:
    std::atomic<int> cancelRequested_{0};
    std::atomic<int> ready_{0};
    std::atomic<int> gone_{0};
    std::atomic<bool> closeRequested_{false};
    std::atomic<std::uint32_t> total_{0xFFFFFFFFu};
    // The dialog's own counter is 32 bits; this one keeps the true byte count
    // for front ends that show it, and the percentage uses its low 32 bits.
    std::atomic<std::uint64_t> done_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
};

// How a front end makes status dialogs: the Qt front end a modal window, the
// console a progress line on stderr, the tests a scripted stand-in.
class StatusDialogHost {
public:
    virtual ~StatusDialogHost() = default;
    // A new dialog for one run; nothing when none can be made.
    virtual std::unique_ptr<StatusDialog> CreateStatusDialog() = 0;
};

}  // namespace tarnwick
