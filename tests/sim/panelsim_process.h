#pragma once
// Runs panelsim as the real program and talks to it over its pseudo-terminal
// the way a PC does: raw mode, a bit rate set on the terminal, bytes in and
// out. Waits are bounded by a deadline that only a failing test reaches.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/lz_codec.h"

extern char** environ;

namespace panelsim::testing {

using Bytes = std::vector<std::uint8_t>;

// CRC-16 of the packets, computed bit by bit here so that the test does not
// lean on the table the codec uses.
inline std::uint16_t BitCrc(const std::uint8_t* p, std::size_t n, std::uint16_t crc = 0xFFFF) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return crc;
}
inline std::uint16_t BitCrc(const Bytes& b) { return BitCrc(b.data(), b.size()); }

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(Le16(p)) | (static_cast<std::uint32_t>(Le16(p + 2)) << 16);
}
inline void Add16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Add32(Bytes& b, std::uint32_t v) {
    Add16(b, v & 0xFFFF);
    Add16(b, v >> 16);
}

// A request packet as the PC builds it.
inline Bytes Request(std::uint8_t cmd, std::uint32_t address, std::uint32_t length, std::uint16_t seq,
                     const Bytes& payload = {}) {
    Bytes p;
    Add16(p, static_cast<std::uint32_t>(payload.size() + 16));
    p.push_back(cmd);
    p.push_back(0);
    Add32(p, address);
    Add32(p, length);
    Add16(p, seq);
    p.insert(p.end(), payload.begin(), payload.end());
    Add16(p, BitCrc(p));
    return p;
}

// The same packet as one compressed wire frame (bit 15 of the first word set).
inline Bytes CompressedFrame(const Bytes& packet) {
    Bytes block(packet.size() + tarnwick::kBlockHeaderSize);
    tarnwick::CodecContext ctx;
    ctx.dataLength = static_cast<std::uint32_t>(packet.size());
    tarnwick::EncodeBlock(block.data(), packet.data(), ctx);
    Bytes frame;
    Add16(frame, (ctx.blockLength + 2) | 0x8000);
    frame.insert(frame.end(), block.begin(), block.begin() + ctx.blockLength);
    return frame;
}

struct Reply {
    Bytes wire;
    Bytes packet;          // decoded when the frame was compressed
    bool compressed = false;
    std::uint16_t total() const { return Le16(packet.data()); }
    std::uint8_t command() const { return packet[2]; }
    std::uint8_t status() const { return packet[3]; }
    std::uint32_t address() const { return Le32(packet.data() + 4); }
    std::uint32_t length() const { return Le32(packet.data() + 8); }
    std::uint16_t seq() const { return Le16(packet.data() + 12); }
    const std::uint8_t* payload() const { return packet.data() + 14; }
    bool crcOk() const {
        return packet.size() >= 16 && BitCrc(packet.data(), packet.size() - 2) == Le16(packet.data() + packet.size() - 2);
    }
};

class PanelsimProcess {
public:
    explicit PanelsimProcess(std::vector<std::string> args) {
        char dirTemplate[] = "/tmp/panelsim-test-XXXXXX";
        if (!::mkdtemp(dirTemplate)) throw std::runtime_error("mkdtemp");
        dir_ = dirTemplate;
        std::vector<std::string> argv = {PANELSIM_PATH, "--report", ReportPath(), "--trace", TracePath(),
                                         "--dump", DumpPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> raw;
        for (std::string& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        if (::posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ) != 0)
            throw std::runtime_error("cannot start panelsim");
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        firstLine_ = line;
        if (line.rfind("PTY ", 0) == 0) path_ = line.substr(4);
    }

    ~PanelsimProcess() {
        ClosePort();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const std::string& f : {ReportPath(), TracePath(), DumpPath()}) std::remove(f.c_str());
        for (const std::string& f : extraFiles_) std::remove(f.c_str());
        ::rmdir(dir_.c_str());
    }

    const std::string& FirstLine() const { return firstLine_; }
    const std::string& Path() const { return path_; }
    std::string ReportPath() const { return dir_ + "/report"; }
    std::string TracePath() const { return dir_ + "/trace"; }
    std::string DumpPath() const { return dir_ + "/dump"; }
    std::string FileInDir(const std::string& name) {
        extraFiles_.push_back(dir_ + "/" + name);
        return extraFiles_.back();
    }

    void OpenPort(speed_t speed = B9600) {
        ClosePort();
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path_);
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, speed);
        ::tcsetattr(fd_, TCSANOW, &t);
        ::tcflush(fd_, TCIOFLUSH);
    }
    void SetSpeed(speed_t speed) {
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfsetspeed(&t, speed);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    void ClosePort() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void Send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Up to count bytes; fewer only when the deadline passed.
    Bytes Receive(std::size_t count, int deadlineMs = 5000) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buf[8192];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    Reply ReceiveReply() {
        Reply r;
        r.wire = Receive(2);
        if (r.wire.size() < 2) return r;
        const std::uint16_t word = Le16(r.wire.data());
        const Bytes rest = Receive((word & 0x7FFF) - 2u);
        r.wire.insert(r.wire.end(), rest.begin(), rest.end());
        r.compressed = (word & 0x8000) != 0;
        if (!r.compressed) {
            r.packet = r.wire;
        } else {
            r.packet.resize(4112);
            tarnwick::CodecContext ctx;
            tarnwick::DecodeBlock(r.packet.data(), r.packet.size(), r.wire.data() + 2, r.wire.size() - 2, ctx);
            r.packet.resize(ctx.status == tarnwick::kCodecOk ? ctx.dataLength : 0);
        }
        return r;
    }

    Reply Exchange(const Bytes& frame) {
        Send(frame);
        return ReceiveReply();
    }

    // The boot handshake and the synchronisation at rate, as a PC runs them.
    void Connect(speed_t rate = B115200) {
        OpenPort(B9600);
        // The first two bytes of a handshake pass; a panel already in the
        // packet protocol takes them as a reboot.
        Send({0xAA, 0xFF});
        if (Receive(6) != Bytes{0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF}) throw std::runtime_error("no handshake");
        ClosePort();
        OpenPort(rate);
        Send({0, 0, 0, 0});
        if (Receive(1) != Bytes{0xAA}) throw std::runtime_error("no synchronisation");
    }

    std::string Trace() const {
        std::ifstream in(TracePath());
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool WaitForTrace(const std::string& text, int deadlineMs = 5000) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (std::chrono::steady_clock::now() < end) {
            if (Trace().find(text) != std::string::npos) return true;
            ::poll(nullptr, 0, 5);
        }
        return false;
    }

    // Ends panelsim with SIGTERM (unless it has ended by itself) and returns its report.
    std::map<std::string, std::string> Stop() {
        ClosePort();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, &exitStatus_, 0);
            pid_ = -1;
        }
        return Report();
    }
    // Waits for panelsim to end by itself; false when it is still running at the deadline.
    bool WaitForExit(int deadlineMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid_, &exitStatus_, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            ::poll(nullptr, 0, 5);
        }
        return false;
    }
    int ExitStatus() const { return exitStatus_; }

    std::map<std::string, std::string> Report() const {
        std::map<std::string, std::string> values;
        std::ifstream in(ReportPath());
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return values;
    }
    Bytes Dump() const {
        std::ifstream in(DumpPath(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string dir_;
    std::string firstLine_;
    std::string path_;
    std::vector<std::string> extraFiles_;
    pid_t pid_ = -1;
    int fd_ = -1;
    int exitStatus_ = -1;
};

}  // namespace panelsim::testing
