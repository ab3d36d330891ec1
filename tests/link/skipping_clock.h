#pragma once
// Real time for a real peer (panelsim in its own process), except that a wait
// which finds nothing within a short grace lets the rest of its time pass at
// once: a dropped reply costs the grace, not the protocol's time-out.
#include <algorithm>

#include "link/clock.h"

namespace tarnwick::testing {

class SkippingClock final : public Clock {
public:
    explicit SkippingClock(std::uint32_t pollGraceMs = 1500, std::uint32_t sleepGraceMs = 300)
        : pollGrace_(pollGraceMs), sleepGrace_(sleepGraceMs) {}

    std::uint64_t Milliseconds() override { return real_.Milliseconds() + skipped_; }
    int Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) override {
        const std::uint32_t wait = std::min(timeoutMs, pollGrace_);
        const int r = real_.Poll(fds, count, wait);
        if (r == 0) skipped_ += timeoutMs - wait;
        return r;
    }
    void Sleep(std::uint32_t ms) override {
        const std::uint32_t wait = std::min(ms, sleepGrace_);
        real_.Sleep(wait);
        skipped_ += ms - wait;
    }
    void SetSleepGrace(std::uint32_t ms) { sleepGrace_ = ms; }

private:
    SteadyClock real_;
    std::uint64_t skipped_ = 0;
    std::uint32_t pollGrace_;
    std::uint32_t sleepGrace_;
};

}  // namespace tarnwick::testing
