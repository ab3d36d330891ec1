#pragma once
// A status dialog for tests: runs "modally" on the calling thread until the
// worker closes it, records what the worker showed in order, and presses
// Cancel when told to. Use ScriptedStatusHost where a StatusDialogHost is
// asked for.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/status_dialog.h"

namespace tarnwick::testing {

// What a dialog saw, shared with the host so that a test can read it after
// the dialog object is gone.
struct StatusRecord {
    mutable std::mutex mutex;
    std::vector<std::string> events;   // "ready", "text:…", "caption:…", "bar:1",
                                       // "percent:N", "close", "modal-end"
    std::vector<std::string> texts;
    std::uint32_t lastPercent = 0;
    std::uint64_t done = 0;
    std::uint32_t total = 0xFFFFFFFFu;
    bool touchedBeforeReady = false;
    int dialogsMade = 0;

    void Add(const std::string& e) {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex);
        return events;
    }
};

class ScriptedStatusDialog : public StatusDialog {
public:
    ScriptedStatusDialog(std::shared_ptr<StatusRecord> record, std::uint64_t cancelAfterBytes,
                         bool failToShow, std::function<void()> onClose, bool cancelAtOnce = false)
        : record_(std::move(record)),
          cancelAfterBytes_(cancelAfterBytes),
          cancelAtOnce_(cancelAtOnce),
          failToShow_(failToShow),
          onClose_(std::move(onClose)) {}

    bool RunModal() override {
        if (failToShow_) {
            MarkFailed();
            return false;
        }
        record_->Add("ready");
        if (cancelAtOnce_) RequestCancel();
        ready_ = true;
        MarkReady();
        WaitForClose();
        record_->Add("modal-end");
        return true;
    }

protected:
    void OnText(const std::string& text) override {
        Touch();
        record_->Add("text:" + text);
        std::lock_guard lock(record_->mutex);
        record_->texts.push_back(text);
    }
    void OnCaption(const std::string& caption) override {
        Touch();
        record_->Add("caption:" + caption);
    }
    void OnBarVisible(bool visible) override {
        Touch();
        record_->Add(visible ? "bar:1" : "bar:0");
    }
    void OnPercent(std::uint32_t percent, std::uint64_t done, std::uint32_t total) override {
        Touch();
        record_->Add("percent:" + std::to_string(percent));
        {
            std::lock_guard lock(record_->mutex);
            record_->lastPercent = percent;
            record_->done = done;
            record_->total = total;
        }
        // The person presses Cancel once enough has gone by.
        if (done >= cancelAfterBytes_) RequestCancel();
    }
    void OnClosePosted() override {
        record_->Add("close");
        if (onClose_) onClose_();
    }

private:
    void Touch() {
        if (!ready_) {
            std::lock_guard lock(record_->mutex);
            record_->touchedBeforeReady = true;
        }
    }

    std::shared_ptr<StatusRecord> record_;
    std::uint64_t cancelAfterBytes_;
    bool cancelAtOnce_;
    bool failToShow_;
    std::function<void()> onClose_;
    std::atomic<bool> ready_{false};
};

class ScriptedStatusHost : public StatusDialogHost {
public:
    std::shared_ptr<StatusRecord> record = std::make_shared<StatusRecord>();
    std::uint64_t cancelAfterBytes = UINT64_MAX;  // press Cancel at this many bytes
    bool refuseDialog = false;                    // CreateStatusDialog gives nothing
    bool failToShow = false;                      // RunModal cannot show the window
    std::function<void()> onClose;                // runs on the worker at PostClose
    bool cancelAtOnce = false;                    // Cancel pressed as the dialog comes up

    std::unique_ptr<StatusDialog> CreateStatusDialog() override {
        if (refuseDialog) return nullptr;
        {
            std::lock_guard lock(record->mutex);
            ++record->dialogsMade;
        }
        return std::make_unique<ScriptedStatusDialog>(record, cancelAfterBytes, failToShow,
                                                      onClose, cancelAtOnce);
    }
};

}  // namespace tarnwick::testing
