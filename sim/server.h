#pragma once
// The line: a pseudo-terminal whose slave side the PC opens like a serial
// port. panelsim keeps a slave descriptor of its own open, so that the master
// side survives the PC closing and reopening the port, and learns of those
// opens and closes from inotify on the slave device.
#include <cstdint>
#include <deque>
#include <string>

#include "sim/engine.h"

namespace panelsim {

struct ServerOptions {
    bool throttle = false;          // pace both directions at the PC's bit rate, 10 bits per byte
    bool once = false;              // end when the PC is done with the panel
    std::int64_t onceGraceUs = 2'000'000;
    bool verbose = false;
};

std::int64_t MonotonicUs();
// The bit rate of a termios speed code, 0 for B0 or an unknown code.
std::uint32_t RateOfSpeed(unsigned speed);

class PtyServer {
public:
    PtyServer(Engine& engine, Stats& stats, ServerOptions options);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    // Serves until SIGINT, SIGTERM or SIGHUP, or the end that --once asks for.
    // Returns the reason as text.
    std::string Run();

private:
    std::uint32_t CurrentRate() const;
    void HandleInotify(std::int64_t now);
    void Receive(std::int64_t now, std::uint32_t rate);
    void Transmit(std::int64_t now, std::uint32_t rate);
    void QueueOutput(std::int64_t now);
    void Note(const std::string& text) const;

    Engine& engine_;
    Stats& stats_;
    ServerOptions options_;

    int master_ = -1;
    int slave_ = -1;
    int inotify_ = -1;
    int signals_ = -1;
    std::string slavePath_;

    int pcOpens_ = 0;
    bool sessionServed_ = false;
    std::int64_t graceDeadline_ = -1;
    std::string stopReason_;

    std::size_t rxAvail_ = 0;       // bytes waiting in the master, as last seen
    std::int64_t rxStart_ = 0;      // the line may deliver the next byte one byte time after this
    std::deque<std::uint8_t> tx_;
    std::int64_t txStart_ = 0;
};

}  // namespace panelsim
