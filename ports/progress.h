#pragma once
// The status dialog as a worker sees it. Every call may come from the worker
// thread; implementations forward to their front end as they need to.
#include <cstdint>
#include <string>

namespace tarnwick {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetTotal(std::uint32_t bytes) = 0;
    virtual void AddProgress(std::uint32_t bytes) = 0;
    virtual void ShowProgress() = 0;
    virtual void HideProgress() = 0;
    virtual bool IsCancelled() const = 0;
    virtual bool IsReady() const = 0;
};

// Percentage shown for done bytes of total, with the dialog's integer rule:
// a total below 100 shows 100 % at once; nothing is clamped here.
inline std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total) {
    const std::uint32_t unit = total / 100u;
    return unit == 0 ? 100u : done / unit;
}

}  // namespace tarnwick
