#include "sim/server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace panelsim {

std::int64_t MonotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::uint32_t RateOfSpeed(unsigned speed) {
    static const struct {
        speed_t code;
        std::uint32_t rate;
    } table[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},         {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},       {B1800, 1800},
        {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},     {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},   {B500000, 500000},
        {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    };
    for (const auto& row : table)
        if (row.code == speed) return row.rate;
    return 0;
}

PtyServer::PtyServer(Engine& engine, Stats& stats, ServerOptions options)
    : engine_(engine), stats_(stats), options_(options) {}

PtyServer::~PtyServer() {
    for (int fd : {master_, slave_, inotify_, signals_})
        if (fd >= 0) ::close(fd);
}

void PtyServer::Note(const std::string& text) const {
    if (options_.verbose) std::fprintf(stderr, "panelsim: %s\n", text.c_str());
}

bool PtyServer::Open(std::string& error) {
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return fail("grantpt/unlockpt");
    const char* name = ::ptsname(master_);
    if (!name) return fail("ptsname");
    slavePath_ = name;
    // Our own descriptor on the slave keeps the pair alive between the PC's
    // sessions; we never read it.
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) return fail("open slave");
    termios t{};
    if (::tcgetattr(slave_, &t) != 0) return fail("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&t, B9600);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0) return fail("tcsetattr");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");

    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || ::inotify_add_watch(inotify_, slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        std::fprintf(stderr, "panelsim: cannot watch %s (%s); sessions are not counted%s\n", slavePath_.c_str(),
                     std::strerror(errno), options_.once ? " and --once cannot end the program" : "");
        if (inotify_ >= 0) ::close(inotify_);
        inotify_ = -1;
    }

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return fail("sigprocmask");
    signals_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) return fail("signalfd");
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::uint32_t PtyServer::CurrentRate() const {
    termios t{};
    // On the master the terminal settings are those of the slave: the PC's.
    if (::tcgetattr(master_, &t) != 0) return 0;
    return RateOfSpeed(static_cast<unsigned>(::cfgetospeed(&t)));
}

void PtyServer::HandleInotify(std::int64_t now) {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0) return;
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + e->len;
            if (e->mask & IN_OPEN) {
                if (++pcOpens_ == 1) {
                    ++stats_.sessions;
                    engine_.ClearServedPackets();
                    graceDeadline_ = -1;
                    Note("PC opened the port");
                }
            } else if (e->mask & IN_CLOSE) {
                if (pcOpens_ > 0 && --pcOpens_ == 0) {
                    Note("PC closed the port");
                    // What was on its way to a closed port is lost.
                    engine_.LineClosed(now);
                    for (const OutputChunk& c : engine_.TakeOutput()) (void)c;
                    tx_.clear();
                    ::tcflush(slave_, TCIFLUSH);
                    if (options_.once) {
                        if (engine_.ServedPackets()) stopReason_ = "the PC closed the port";
                        else graceDeadline_ = now + options_.onceGraceUs;
                    }
                }
            }
        }
    }
}

void PtyServer::QueueOutput(std::int64_t now) {
    for (OutputChunk& c : engine_.TakeOutput()) {
        if (c.bytes.empty()) continue;
        if (tx_.empty()) txStart_ = std::max(txStart_, now) + c.holdUs;
        tx_.insert(tx_.end(), c.bytes.begin(), c.bytes.end());
    }
}

void PtyServer::Receive(std::int64_t now, std::uint32_t rate) {
    std::uint8_t buf[8192];
    if (!options_.throttle || rate == 0) {
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            engine_.Receive(buf, static_cast<std::size_t>(n), now, rate);
        }
        rxAvail_ = 0;
        return;
    }
    const std::int64_t byteUs = 10'000'000 / rate;
    if (rxAvail_ == 0) {
        int avail = 0;
        if (::ioctl(master_, FIONREAD, &avail) != 0 || avail <= 0) return;
        rxAvail_ = static_cast<std::size_t>(avail);
        rxStart_ = std::max(rxStart_, now);   // the first byte starts on the line now
    }
    const std::int64_t due = (now - rxStart_) / byteUs;
    if (due <= 0) return;
    const std::size_t want = std::min({static_cast<std::size_t>(due), rxAvail_, sizeof buf});
    const ssize_t n = ::read(master_, buf, want);
    if (n <= 0) {
        rxAvail_ = 0;
        return;
    }
    rxStart_ += n * byteUs;
    rxAvail_ -= static_cast<std::size_t>(n);
    engine_.Receive(buf, static_cast<std::size_t>(n), now, rate);
    if (rxAvail_ == 0) {
        // Bytes the PC wrote meanwhile follow back to back.
        int avail = 0;
        if (::ioctl(master_, FIONREAD, &avail) == 0 && avail > 0) rxAvail_ = static_cast<std::size_t>(avail);
    }
}

void PtyServer::Transmit(std::int64_t now, std::uint32_t rate) {
    if (tx_.empty() || now < txStart_) return;
    std::size_t allowed = tx_.size();
    std::int64_t byteUs = 0;
    if (options_.throttle && rate != 0) {
        byteUs = 10'000'000 / rate;
        const std::int64_t due = (now - txStart_) / byteUs;
        if (due <= 0) return;
        allowed = std::min(allowed, static_cast<std::size_t>(due));
    }
    std::vector<std::uint8_t> chunk(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(allowed));
    const ssize_t n = ::write(master_, chunk.data(), chunk.size());
    if (n <= 0) return;
    tx_.erase(tx_.begin(), tx_.begin() + n);
    stats_.lineBytesOut += static_cast<std::uint64_t>(n);
    txStart_ += n * byteUs;
    if (byteUs == 0) txStart_ = std::max(txStart_, now);
}

std::string PtyServer::Run() {
    for (;;) {
        const std::int64_t now = MonotonicUs();
        if (!stopReason_.empty()) return stopReason_;
        if (graceDeadline_ >= 0 && pcOpens_ == 0 && now >= graceDeadline_) return "the PC did not come back";

        const std::uint32_t rate = CurrentRate();
        const bool paced = options_.throttle && rate != 0;
        const std::int64_t byteUs = paced ? 10'000'000 / rate : 0;
        std::int64_t wakeAt = -1;
        auto wakeBy = [&](std::int64_t t) {
            if (wakeAt < 0 || t < wakeAt) wakeAt = t;
        };

        short events = 0;
        if (!paced || rxAvail_ == 0) events |= POLLIN;
        else wakeBy(rxStart_ + byteUs);
        if (!tx_.empty()) {
            const std::int64_t ready = txStart_ + byteUs;
            if (now >= ready) events |= POLLOUT;
            else wakeBy(ready);
        }
        if (graceDeadline_ >= 0) wakeBy(graceDeadline_);

        pollfd fds[3] = {{signals_, POLLIN, 0}, {master_, events, 0}, {inotify_, POLLIN, 0}};
        const nfds_t count = inotify_ >= 0 ? 3 : 2;
        int timeoutMs = -1;
        if (wakeAt >= 0) timeoutMs = static_cast<int>(std::max<std::int64_t>(0, (wakeAt - now + 999) / 1000));
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno != EINTR) return std::string("poll failed: ") + std::strerror(errno);

        const std::int64_t t = MonotonicUs();
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Not expected while our own slave descriptor is open; never spin on it.
            ::poll(nullptr, 0, 10);
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signals_, &info, sizeof info) == sizeof info)
                return std::string("signal ") + ::strsignal(static_cast<int>(info.ssi_signo));
        }
        // Opens and closes first, so that a close is never taken for one of
        // bytes that a new session has already sent.
        if (count == 3 && (fds[2].revents & POLLIN)) HandleInotify(t);
        const std::uint32_t rateNow = CurrentRate();
        Receive(t, rateNow);
        QueueOutput(t);
        Transmit(t, rateNow);
    }
}

}  // namespace panelsim
