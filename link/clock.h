#pragma once
// Time on the serial line. Everything there is counted in ticks of 55 ms;
// the clock behind them can be swapped, so that a five-minute time-out can be
// tried without waiting five minutes.
#include <cstdint>
#include <functional>

struct pollfd;

namespace tarnwick {

constexpr std::uint32_t kTickMs = 55;

class Clock {
public:
    virtual ~Clock() = default;
    // A monotonic millisecond counter.
    virtual std::uint64_t Milliseconds() = 0;
    // poll(2) over count descriptors for at most timeoutMs. Returns what poll
    // returns (0 when nothing became ready in time).
    virtual int Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) = 0;
    // Lets at least ms milliseconds pass.
    virtual void Sleep(std::uint32_t ms) = 0;
};

// The real one, on std::chrono::steady_clock.
class SteadyClock final : public Clock {
public:
    std::uint64_t Milliseconds() override;
    int Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) override;
    void Sleep(std::uint32_t ms) override;
};

// A clock whose time passes only when someone waits on it: a wait that finds
// nothing ready moves the time on by the whole wait at once. Before each wait
// the settle hook runs (a test's peer answers what it has been sent), so that
// what would have arrived during the wait is there when the wait looks.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint64_t startMs = 1000 * kTickMs) : now_(startMs) {}
    std::uint64_t Milliseconds() override { return now_; }
    int Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) override;
    void Sleep(std::uint32_t ms) override;

    void Advance(std::uint64_t ms) { now_ += ms; }
    void SetSettleHook(std::function<void()> hook) { settle_ = std::move(hook); }

private:
    std::uint64_t now_;
    std::function<void()> settle_;
};

// The process's real clock.
Clock& SystemClock();

}  // namespace tarnwick
