#include "link/clock.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace tarnwick {

std::uint64_t SteadyClock::Milliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int SteadyClock::Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) {
    const std::uint64_t end = Milliseconds() + timeoutMs;
    for (;;) {
        const std::uint64_t now = Milliseconds();
        const int wait = now >= end ? 0 : static_cast<int>(end - now);
        const int r = ::poll(fds, count, wait);
        if (r >= 0 || errno != EINTR) return r;
    }
}

void SteadyClock::Sleep(std::uint32_t ms) {
    const std::uint64_t end = Milliseconds() + ms;
    for (;;) {
        const std::uint64_t now = Milliseconds();
        if (now >= end) return;
        ::poll(nullptr, 0, static_cast<int>(end - now));
    }
}

int VirtualClock::Poll(pollfd* fds, std::uint32_t count, std::uint32_t timeoutMs) {
    if (settle_) settle_();
    const int r = ::poll(fds, count, 0);
    if (r == 0) now_ += timeoutMs;
    return r;
}

void VirtualClock::Sleep(std::uint32_t ms) {
    if (settle_) settle_();
    now_ += ms;
}

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace tarnwick
