#include "transfer/status_dialog.h"

namespace tarnwick {

void StatusDialog::SetText(const std::string& text) { OnText(text); }

void StatusDialog::SetCaption(const std::string& caption) { OnCaption(caption); }

void StatusDialog::SetTotal(std::uint32_t bytes) { total_.store(bytes); }

void StatusDialog::AddProgress(std::uint32_t bytes) {
    const std::uint64_t done = done_.fetch_add(bytes) + bytes;
    const std::uint32_t total = total_.load();
    OnPercent(ProgressPercent(static_cast<std::uint32_t>(done), total), done, total);
}

void StatusDialog::ShowProgress() { OnBarVisible(true); }

void StatusDialog::HideProgress() { OnBarVisible(false); }

void StatusDialog::SetTextEmphasis(bool bold) { OnTextEmphasis(bold); }

bool StatusDialog::IsCancelled() const { return cancelRequested_.load() != 0; }

bool StatusDialog::IsReady() const { return ready_.load() != 0 && gone_.load() == 0; }

void StatusDialog::RequestCancel() { cancelRequested_.store(1); }

void StatusDialog::PostClose() {
    {
        std::lock_guard lock(mutex_);
        if (closeRequested_.exchange(true)) return;
    }
    changed_.notify_all();
    OnClosePosted();
}

void StatusDialog::MarkReady() {
    {
        std::lock_guard lock(mutex_);
        ready_.store(1);
    }
    changed_.notify_all();
}

void StatusDialog::MarkFailed() { MarkGone(); }

void StatusDialog::MarkGone() {
    {
        std::lock_guard lock(mutex_);
        gone_.store(1);
        ready_.store(0);
    }
    changed_.notify_all();
}

bool StatusDialog::WaitUntilReady() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.load() != 0 || gone_.load() != 0; });
    return IsReady();
}

bool StatusDialog::WaitForClose(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return closeRequested_.load(); });
}

void StatusDialog::WaitForClose() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return closeRequested_.load(); });
}

}  // namespace tarnwick
