#pragma once
// One RS-232 port of the PC, as the bootloader protocol needs it: open at a
// rate of the rate table, write and wait until the bytes have left, read an
// exact count within a time-out, look at and flush the driver's queues, and
// the short baud-rate synchronisation with a panel's bootloader.
//
// The port is a termios device (a real serial line, a USB adapter or a
// pseudo-terminal), opened non-blocking and exclusive, raw 8N1 without flow
// control. Waiting is done with poll on the port's clock; nothing spins.
// Failures are recorded with ReportError; the operations return 0 on success.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "link/clock.h"

namespace tarnwick {

// The queue size the device link always uses (the largest frame plus room).
constexpr std::uint16_t kLinkQueueSize = 4122;

// One row of the rate table.
struct RateRow {
    std::uint32_t bitRate;
    std::uint32_t timeoutRate;  // the rate the time-outs are computed with
    std::uint32_t waitScale;
};

// The nine rates the port accepts, rate index 0 to 8.
const RateRow* RateTable();
constexpr int kRateCount = 9;

enum WatcherState : int {
    kWatcherEnded = 0,
    kWatcherRunning = 1,
    kWatcherStopRequested = 2,
    kWatcherFailed = 3,
};

class SerialPort {
public:
    explicit SerialPort(Clock& clock = SystemClock());
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Stores the three values and takes the name "COM<index+1>" for an index
    // of 0 to 3; a larger index keeps the name chosen before.
    void Configure(unsigned portIndex, std::uint32_t bitRate, std::uint16_t queueSize);
    // 0, or 2 after recording 0x3E (cannot be opened) or 0x3D (set-up refused).
    int Open();
    // Waits (briefly) for the output to leave, stops the watcher, gives the
    // exclusive claim back and closes. 0, or 1 when a handle would not close.
    int Close();
    // Exactly count bytes within the read time-out plus extraTicks.
    int Read(std::uint8_t* buffer, std::uint16_t count, std::uint32_t extraTicks);
    // Hands count bytes to the driver and waits until the output queue is empty.
    int Write(const std::uint8_t* buffer, std::uint16_t count);
    // queue 0 = output, 1 = input; kind 0 = free space, 1 = bytes queued.
    std::uint16_t QueueStatus(int queue, int kind);
    // Throws away both queues.
    void Purge();
    int SyncBaudRate();

    std::uint32_t Now();
    std::uint32_t Elapsed(std::uint32_t start);
    void Delay(std::uint32_t ticks);

    // Time-outs in ticks for the configured rate and queue size.
    std::uint32_t WriteTimeout() const;
    std::uint32_t ReadTimeout(std::uint32_t extraTicks) const { return WriteTimeout() + extraTicks; }
    std::uint32_t CompletionWaitLimit() const;

    // The state, for the protocol above and for tests.
    const std::string& PortName() const { return portName_; }
    unsigned PortIndex() const { return portIndex_; }
    std::uint32_t BitRate() const { return bitRate_; }
    int RateIndex() const { return rateIndex_; }
    std::uint16_t QueueSize() const { return queueSize_; }
    bool IsOpen() const { return open_; }
    int Watcher() const { return watcherState_.load(); }
    // The device path Open uses for the configured name.
    std::string DevicePath() const;
    // Bytes handed to the driver and taken from it, counted over the life of
    // the object (take differences to measure one run).
    std::uint64_t BytesWritten() const { return bytesWritten_.load(); }
    std::uint64_t BytesRead() const { return bytesRead_.load(); }
    // Breaks and line errors the watcher has seen.
    std::uint64_t LineErrors() const { return lineErrors_.load(); }

    Clock& GetClock() { return *clock_; }
    void SetClock(Clock& clock) { clock_ = &clock; }
    // Where "COM1" … "COM4" lead; the settings (section PORTS) by default.
    void SetPathResolver(std::function<std::string(int)> resolver);

private:
    bool PurgeChecked();
    // Waits until the output queue is empty, at most limitTicks from start.
    bool DrainOutput(std::uint32_t start, std::uint32_t limitTicks);
    // Milliseconds left until tick start + ticks (0 when reached).
    std::uint32_t MsUntil(std::uint32_t start, std::uint32_t ticks);
    void WatchLine();
    void CloseHandles();

    Clock* clock_;
    std::function<std::string(int)> resolver_;
    unsigned portIndex_ = 0;
    std::string portName_ = "COM1";
    std::uint32_t bitRate_ = 0;
    int rateIndex_ = 0;
    std::uint16_t queueSize_ = 0;
    int fd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::atomic<int> watcherState_{kWatcherEnded};
    std::thread watcher_;
    bool open_ = false;
    std::atomic<std::uint64_t> bytesWritten_{0};
    std::atomic<std::uint64_t> bytesRead_{0};
    std::atomic<std::uint64_t> lineErrors_{0};
};

// The one port of the process (only one panel is served at a time).
SerialPort& ThePort();

}  // namespace tarnwick
