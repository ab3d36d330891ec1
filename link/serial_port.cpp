#include "link/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "app/settings.h"
#include "link/error_codes.h"
#include "link/error_state.h"

namespace tarnwick {
namespace {

// Function codes of the port's operations.
constexpr std::uint32_t kFnOpen = 0x47;
constexpr std::uint32_t kFnClose = 0x48;
constexpr std::uint32_t kFnReadState = 0x18;
constexpr std::uint32_t kFnRead = 0x19;
constexpr std::uint32_t kFnWriteCall = 0x1A;
constexpr std::uint32_t kFnWrite = 0x1B;
constexpr std::uint32_t kFnQueueStatus = 0x1C;
constexpr std::uint32_t kFnSync = 0x1D;
constexpr std::uint32_t kFnWatcher = 0x25;

constexpr RateRow kRates[kRateCount] = {
    {1200, 1200, 191},     {2400, 2400, 95},      {4800, 4800, 47},
    {9600, 9600, 23},      {19200, 19200, 12},    {38400, 38400, 6},
    {57600, 56000, 4},     {115200, 115000, 2},   {230400, 230000, 1},
};

constexpr speed_t kSpeeds[kRateCount] = {B1200,  B2400,  B4800,   B9600,  B19200,
                                         B38400, B57600, B115200, B230400};

// How often the watcher looks at the driver's error counters.
constexpr int kWatchPeriodMs = 250;

bool NoSuchIoctl(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS; }

// Milliseconds the line needs for bytes at the given bit rate (10 bits a byte).
std::uint32_t LineMs(std::uint32_t bytes, std::uint32_t bitRate) {
    if (bitRate == 0) return 1;
    return static_cast<std::uint32_t>((std::uint64_t{bytes} * 10000u + bitRate - 1) / bitRate);
}

}  // namespace

const RateRow* RateTable() { return kRates; }

SerialPort::SerialPort(Clock& clock) : clock_(&clock), resolver_(PortDevicePath) {}

SerialPort::~SerialPort() {
    if (open_) Close();
}

void SerialPort::SetPathResolver(std::function<std::string(int)> resolver) {
    resolver_ = resolver ? std::move(resolver) : std::function<std::string(int)>(PortDevicePath);
}

void SerialPort::Configure(unsigned portIndex, std::uint32_t bitRate, std::uint16_t queueSize) {
    portIndex_ = portIndex;
    bitRate_ = bitRate;
    queueSize_ = queueSize;
    rateIndex_ = 0;
    for (int i = 0; i < kRateCount; ++i) {
        if (kRates[i].bitRate == bitRate) rateIndex_ = i;
    }
    if (portIndex <= 3) portName_ = "COM" + std::to_string(portIndex + 1);
}

std::string SerialPort::DevicePath() const {
    if (portName_.size() == 4 && portName_.compare(0, 3, "COM") == 0 && portName_[3] >= '1' &&
        portName_[3] <= '4') {
        return resolver_(portName_[3] - '1');
    }
    return portName_;
}

std::uint32_t SerialPort::WriteTimeout() const {
    std::uint32_t rate = 0;
    for (const auto& row : kRates) {
        if (row.bitRate == bitRate_) rate = row.timeoutRate;
    }
    // A rate outside the table is never configured; the slowest row keeps the
    // arithmetic sound should it happen anyway.
    if (rate == 0) rate = kRates[0].timeoutRate;
    return 2 * (180u * queueSize_ / rate) + 72;
}

std::uint32_t SerialPort::CompletionWaitLimit() const { return kRates[rateIndex_].waitScale * 15; }

std::uint32_t SerialPort::Now() {
    return static_cast<std::uint32_t>(clock_->Milliseconds() / kTickMs);
}

std::uint32_t SerialPort::Elapsed(std::uint32_t start) { return Now() - start; }

std::uint32_t SerialPort::MsUntil(std::uint32_t start, std::uint32_t ticks) {
    const std::uint64_t end = (std::uint64_t{start} + ticks) * kTickMs;
    const std::uint64_t now = clock_->Milliseconds();
    return now >= end ? 0 : static_cast<std::uint32_t>(end - now);
}

void SerialPort::Delay(std::uint32_t ticks) {
    const std::uint32_t start = Now();
    while (Elapsed(start) < ticks) clock_->Sleep(std::max<std::uint32_t>(1, MsUntil(start, ticks)));
}

int SerialPort::Open() {
    // Opening an open port would leave the old descriptor and watcher behind.
    if (open_) Close();

    const std::string path = DevicePath();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReportError(kFnOpen, kErrorPortUnavailable);
        return 2;
    }

    bool ok = ::ioctl(fd, TIOCEXCL) == 0;
    termios tio{};
    if (ok) ok = ::tcgetattr(fd, &tio) == 0;
    if (ok) {
        ::cfmakeraw(&tio);
        tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
        tio.c_iflag |= IGNBRK;
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        bool known = false;
        for (int i = 0; i < kRateCount; ++i) {
            if (kRates[i].bitRate == bitRate_) {
                ok = ::cfsetspeed(&tio, kSpeeds[i]) == 0;
                known = true;
            }
        }
        ok = ok && known && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    if (ok) {
        // DTR and RTS stay low; a pseudo-terminal has no modem lines at all.
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (::ioctl(fd, TIOCMBIC, &lines) != 0 && !NoSuchIoctl(errno)) ok = false;
    }
    if (ok) ok = ::tcflush(fd, TCIOFLUSH) == 0;
    if (ok) ok = ::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) == 0;
    if (ok) {
        fd_ = fd;
        watcherState_ = kWatcherRunning;
        try {
            watcher_ = std::thread(&SerialPort::WatchLine, this);
        } catch (const std::system_error&) {
            watcherState_ = kWatcherEnded;
            ok = false;
        }
    }
    if (!ok) {
        ReportError(kFnOpen, kErrorPortSetup);
        fd_ = -1;
        for (int& p : stopPipe_) {
            if (p >= 0) ::close(p);
            p = -1;
        }
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return 2;
    }
    open_ = true;
    return 0;
}

void SerialPort::WatchLine() {
    // Breaks and line errors are counted by the driver; the watcher takes note
    // of them so that a disturbance is visible, and stops the port's reads and
    // writes when the driver itself has gone (an adapter pulled out).
    serial_icounter_struct last{};
    bool counters = ::ioctl(fd_, TIOCGICOUNT, &last) == 0;
    if (!counters && !NoSuchIoctl(errno)) {
        ReportError(kFnWatcher, kErrorDriverCall);
        watcherState_ = kWatcherFailed;
    }
    while (watcherState_ == kWatcherRunning) {
        // Without counters (a pseudo-terminal) there is nothing to watch: wait
        // for Close.
        pollfd p{stopPipe_[0], POLLIN, 0};
        const int r = ::poll(&p, 1, counters ? kWatchPeriodMs : -1);
        if (r < 0 && errno != EINTR) {
            ReportError(kFnWatcher, kErrorDriverCall);
            watcherState_ = kWatcherFailed;
            break;
        }
        if (watcherState_ != kWatcherRunning || !counters) continue;
        serial_icounter_struct now{};
        if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) {
            ReportError(kFnWatcher, kErrorDriverCall);
            watcherState_ = kWatcherFailed;
            break;
        }
        const auto delta = [](int a, int b) { return static_cast<std::uint64_t>(a - b); };
        const std::uint64_t seen = delta(now.brk, last.brk) + delta(now.frame, last.frame) +
                                   delta(now.overrun, last.overrun) +
                                   delta(now.parity, last.parity) +
                                   delta(now.buf_overrun, last.buf_overrun);
        if (seen != 0) lineErrors_ += seen;
        last = now;
    }
    watcherState_ = kWatcherEnded;
}

bool SerialPort::DrainOutput(std::uint32_t start, std::uint32_t limitTicks) {
    for (;;) {
        const std::uint16_t queued = QueueStatus(0, 1);
        if (queued == 0) return true;
        if (Elapsed(start) > limitTicks) return false;
        const std::uint32_t left = MsUntil(start, limitTicks + 1);
        clock_->Sleep(std::max<std::uint32_t>(1, std::min(LineMs(queued, bitRate_), left)));
    }
}

int SerialPort::Close() {
    if (!open_) return 0;
    int result = 0;

    DrainOutput(Now(), 8);
    Delay(2);

    if (watcherState_ != kWatcherEnded) watcherState_ = kWatcherStopRequested;
    const char stop = 1;
    if (::write(stopPipe_[1], &stop, 1) != 1 && watcherState_ != kWatcherEnded) {
        ReportError(kFnClose, kErrorPortSetup);
        result = 1;
    }
    if (watcher_.joinable()) watcher_.join();

    for (int& p : stopPipe_) {
        if (p >= 0) ::close(p);
        p = -1;
    }
    // The exclusive claim is given back first: on a pseudo-terminal whose
    // other side stays open it would otherwise outlive the close.
    ::ioctl(fd_, TIOCNXCL);
    if (::close(fd_) != 0 && errno != EINTR) {
        ReportError(kFnClose, kErrorDriverCall);
        result = 1;
    }
    fd_ = -1;
    open_ = false;
    return result;
}

int SerialPort::Read(std::uint8_t* buffer, std::uint16_t count, std::uint32_t extraTicks) {
    if (watcherState_ != kWatcherRunning) {
        ReportError(kFnReadState, kErrorDriverPortStopped);
        return 1;
    }
    const std::uint32_t start = Now();
    const std::uint32_t limit = ReadTimeout(extraTicks);
    std::uint16_t got = 0;
    for (;;) {
        const ssize_t n = count > got ? ::read(fd_, buffer + got, count - got) : 0;
        if (n > 0) {
            got = static_cast<std::uint16_t>(got + n);
            bytesRead_ += static_cast<std::uint64_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ReportError(kFnRead, kErrorDriverCall);
            return 1;
        }
        if (got == count) return 0;
        if (Elapsed(start) >= limit) {
            ReportError(kFnRead, kErrorReceiveTimeout);
            return 1;
        }
        const std::uint32_t left = MsUntil(start, limit);
        if (n > 0) {
            // Bytes are coming in: let the rest arrive at the line rate before
            // looking again rather than waking for every few bytes.
            const std::uint32_t ms = std::min<std::uint32_t>({LineMs(count - got, bitRate_), 20, left});
            if (ms > 1) {
                clock_->Sleep(ms);
                continue;
            }
        }
        pollfd p{fd_, POLLIN, 0};
        const int r = clock_->Poll(&p, 1, left);
        if (r < 0 && errno != EINTR) {
            ReportError(kFnRead, kErrorDriverCall);
            return 1;
        }
        if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            // The device went away; nothing more will come.
            ReportError(kFnRead, kErrorDriverCall);
            return 1;
        }
    }
}

int SerialPort::Write(const std::uint8_t* buffer, std::uint16_t count) {
    if (watcherState_ != kWatcherRunning) {
        ReportError(kFnWrite, kErrorDriverPortStopped);
        return 1;
    }
    if (QueueStatus(0, 0) < count) {
        ReportError(kFnWrite, kErrorDriverOutputQueue);
        return 1;
    }
    std::uint16_t done = 0;
    // Hands over what the driver takes now; false after a refused write.
    const auto handOver = [&]() {
        while (done < count) {
            const ssize_t n = ::write(fd_, buffer + done, count - done);
            if (n > 0) {
                done = static_cast<std::uint16_t>(done + n);
                bytesWritten_ += static_cast<std::uint64_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                return true;
            } else {
                ReportError(kFnWriteCall, 0x00);
                return false;
            }
        }
        return true;
    };

    std::uint32_t start = Now();
    const std::uint32_t completion = CompletionWaitLimit();
    if (!handOver()) return 1;
    while (done < count && Elapsed(start) <= completion) {
        pollfd p{fd_, POLLOUT, 0};
        clock_->Poll(&p, 1, std::max<std::uint32_t>(1, MsUntil(start, completion + 1)));
        if (!handOver()) return 1;
    }

    // Bytes the driver would not take yet are still handed over while the
    // output drains; none is counted as sent before it was.
    start = Now();
    const std::uint32_t timeout = WriteTimeout();
    for (;;) {
        if (!handOver()) return 1;
        const std::uint16_t queued = QueueStatus(0, 1);
        if (done == count && queued == 0) return 0;
        if (Elapsed(start) >= timeout) {
            ReportError(kFnWrite, kErrorSendTimeout);
            return 1;
        }
        const std::uint32_t left = std::max<std::uint32_t>(1, MsUntil(start, timeout));
        if (done < count) {
            pollfd p{fd_, POLLOUT, 0};
            clock_->Poll(&p, 1, left);
        } else {
            clock_->Sleep(std::min(LineMs(queued, bitRate_), left));
        }
    }
}

std::uint16_t SerialPort::QueueStatus(int queue, int kind) {
    int queued = 0;
    if (::ioctl(fd_, queue == 0 ? TIOCOUTQ : FIONREAD, &queued) != 0) {
        ReportError(kFnQueueStatus, 0x5D);
        return kind == 0 ? 0 : 0xFFFF;
    }
    queued = std::clamp(queued, 0, 0xFFFF);
    if (kind == 1) return static_cast<std::uint16_t>(queued);
    return queued >= queueSize_ ? 0 : static_cast<std::uint16_t>(queueSize_ - queued);
}

bool SerialPort::PurgeChecked() { return ::tcflush(fd_, TCIOFLUSH) == 0; }

void SerialPort::Purge() { PurgeChecked(); }

int SerialPort::SyncBaudRate() {
    if (!PurgeChecked()) {
        ReportError(kFnSync, kErrorPortSetup);
        return 1;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::uint8_t zero = 0x00;
        for (int i = 0; i < 4; ++i) Write(&zero, 1);
        if (!DrainOutput(Now(), 18)) {
            ReportError(kFnSync, kErrorDriverOutputQueue);
            return 1;
        }
        ::tcdrain(fd_);
        Delay(2);
        std::uint8_t answer = 0;
        const ssize_t n = ::read(fd_, &answer, 1);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ReportError(kFnSync, kErrorDriverCall);
            return 1;
        }
        if (n == 1) {
            ++bytesRead_;
            if (answer == 0xAA) return 0;
        }
    }
    ReportError(kFnSync, kErrorBaudRateDetection);
    return 1;
}

SerialPort& ThePort() {
    static SerialPort port;
    return port;
}

}  // namespace tarnwick
