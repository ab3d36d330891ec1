#pragma once
// Scripted stand-ins for the ports: they record what the core showed and
// answer from a queue the test fills.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ports/choices.h"
#include "ports/log.h"
#include "ports/progress.h"
#include "ports/prompter.h"

namespace tarnwick::testing {

struct LoggedLine {
    std::string text;
    std::uint32_t colour;
    unsigned effects;
};

class RecordingLog : public Log {
public:
    void AppendLog(const std::string& text, std::uint32_t colour, unsigned effects) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({text, colour, effects});
    }
    void SetLogFormat(std::uint32_t, unsigned) override {}
    void ClearLog() override {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    std::vector<LoggedLine> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::string Text() const {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const auto& l : lines_) all += l.text;
        return all;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    MessageButtons buttons;
};

class ScriptedPrompter : public Prompter {
public:
    std::deque<MessageAnswer> answers;                 // default: Ok / Yes
    std::deque<std::optional<std::string>> openPaths;  // default: cancel
    std::deque<std::optional<std::string>> savePaths;  // default: cancel
    std::vector<ShownMessage> shown;
    std::vector<FileDialogRequest> openRequests;
    std::vector<FileDialogRequest> saveRequests;

    MessageAnswer MessageBox(const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override {
        shown.push_back({text, icon, buttons});
        if (!answers.empty()) {
            auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel
                   ? MessageAnswer::Ok
                   : MessageAnswer::Yes;
    }
    std::optional<std::string> OpenFileDialog(const FileDialogRequest& r) override {
        openRequests.push_back(r);
        return Next(openPaths);
    }
    std::optional<std::string> SaveFileDialog(const FileDialogRequest& r) override {
        saveRequests.push_back(r);
        return Next(savePaths);
    }
    std::optional<FontChoice> ChooseFont(const FontChoice&, int, int) override {
        return std::nullopt;
    }

private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& q) {
        if (q.empty()) return std::nullopt;
        auto v = q.front();
        q.pop_front();
        return v;
    }
};

// A progress object that counts and cancels after a given number of bytes.
class RecordingProgress : public Progress {
public:
    std::atomic<bool> cancelled{false};
    std::uint64_t cancelAfterBytes = UINT64_MAX;
    std::uint32_t total = 0xFFFFFFFF;
    std::uint64_t done = 0;
    std::vector<std::string> texts;
    std::string caption;
    bool progressShown = false;

    void SetText(const std::string& t) override { texts.push_back(t); }
    void SetCaption(const std::string& c) override { caption = c; }
    void SetTotal(std::uint32_t b) override { total = b; }
    void AddProgress(std::uint32_t b) override {
        done += b;
        if (done >= cancelAfterBytes) cancelled = true;
    }
    void ShowProgress() override { progressShown = true; }
    void HideProgress() override { progressShown = false; }
    bool IsCancelled() const override { return cancelled; }
    bool IsReady() const override { return true; }
};

// Answers the transfer choices from queues (default: cancel) and records
// what was offered.
class ScriptedChoices : public Choices {
public:
    std::deque<std::optional<InterfaceChoice>> interfaces;
    std::deque<std::optional<std::uint32_t>> components;
    std::deque<std::optional<std::size_t>> variants;
    std::vector<std::pair<InterfaceChoice, bool>> interfaceRequests;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> componentRequests;
    std::vector<std::vector<VariantEntry>> variantRequests;

    std::optional<InterfaceChoice> ChooseInterface(const InterfaceChoice& current,
                                                   bool impexMode) override {
        interfaceRequests.emplace_back(current, impexMode);
        return Next(interfaces);
    }
    std::optional<std::uint32_t> ChooseComponents(std::uint32_t offered,
                                                  std::uint32_t preselected) override {
        componentRequests.emplace_back(offered, preselected);
        return Next(components);
    }
    std::optional<std::size_t> ChooseVariant(const std::vector<VariantEntry>& list) override {
        variantRequests.push_back(list);
        return Next(variants);
    }

private:
    template <typename T>
    static std::optional<T> Next(std::deque<std::optional<T>>& q) {
        if (q.empty()) return std::nullopt;
        auto v = q.front();
        q.pop_front();
        return v;
    }
};

}  // namespace tarnwick::testing
