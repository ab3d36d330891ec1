#pragma once
// A scripted peer on the other side of a pseudo-terminal, for the link tests.
//
// The tests run the port on a virtual clock. Each time the port would wait,
// the clock lets the peer settle first: the peer takes every byte the port has
// written so far, answers per its script, and makes sure its answer can be
// read on the port's side before the wait looks. So a reply is there exactly
// when the port waits for it, and a silent peer lets the virtual time run out
// at once — no test waits for a real time-out, and none depends on timing.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "link/clock.h"
#include "link/serial_port.h"

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

class PtyPeer {
public:
    PtyPeer() {
        char name[256];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        path_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        // The slave end stays open here only to look at its input queue.
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    ~PtyPeer() {
        ::close(master_);
        ::close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& Path() const { return path_; }
    int SlaveFd() const { return slave_; }

    // Makes the port's waits on clock settle this peer first.
    void Attach(VirtualClock& clock, SerialPort& port) {
        port_ = &port;
        portBase_ = port.BytesWritten();
        receivedBase_ = received.size();
        clock.SetSettleHook([this] { Settle(); });
    }

    // Called after new bytes have arrived; takes them from `received` at
    // `consumed` and answers with Send.
    std::function<void(PtyPeer&)> script;
    Bytes received;
    std::size_t consumed = 0;

    void Send(const Bytes& bytes) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        Flush();
    }

    // Everything the port wrote has been taken and answered, and the answer
    // lies ready in the port's input queue (as far as the queue holds it).
    void Settle() {
        if (port_ != nullptr) {
            const std::size_t target = receivedBase_ + (port_->BytesWritten() - portBase_);
            TakeUntil(target);
        }
        if (script && consumed < received.size()) script(*this);
        Flush();
    }

private:
    static constexpr int kLineBuffer = 4095;  // what the terminal's input queue holds

    int SlaveQueued() const {
        int n = 0;
        ::ioctl(slave_, FIONREAD, &n);
        return n;
    }

    void TakeUntil(std::size_t target) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::uint8_t buffer[8192];
        while (received.size() < target && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) received.insert(received.end(), buffer, buffer + n);
        }
    }

    void Flush() {
        while (!pending_.empty()) {
            const int before = SlaveQueued();
            const int room = kLineBuffer - before;
            if (room <= 0) return;
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(room), pending_.size());
            const ssize_t w = ::write(master_, pending_.data(), n);
            if (w <= 0) return;
            pending_.erase(pending_.begin(), pending_.begin() + w);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (SlaveQueued() < before + w && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    SerialPort* port_ = nullptr;
    std::uint64_t portBase_ = 0;
    std::size_t receivedBase_ = 0;
    Bytes pending_;
};

// A request as the panel sees it on the line.
struct Request {
    bool compressed = false;
    std::uint16_t frameLength = 0;  // bytes on the line
    std::uint16_t total = 0;
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::uint16_t sequence = 0;
    Bytes payload;
    bool crcGood = false;
};

// A packet as the panel sends it: header, payload, Crc16.
inline Bytes Packet(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                    std::uint16_t sequence, const Bytes& payload = {}) {
    Bytes p(16 + payload.size());
    Put16(p, 0, static_cast<std::uint16_t>(p.size()));
    p[2] = command;
    p[3] = 0;
    Put32(p, 4, address);
    Put32(p, 8, length);
    Put16(p, 12, sequence);
    std::copy(payload.begin(), payload.end(), p.begin() + 14);
    Put16(p, 14 + payload.size(), Crc16(p.data(), 14 + payload.size(), kCrcInit));
    return p;
}

// The same packet as a compressed frame (bit 15 set), whether or not that is shorter.
inline Bytes CompressedFrame(const Bytes& packet) {
    Bytes frame(2 + kBlockHeaderSize + packet.size());
    CodecContext context;
    context.dataLength = static_cast<std::uint32_t>(packet.size());
    context.runningChecksums = 0;
    EncodeBlock(frame.data() + 2, packet.data(), context);
    frame.resize(2 + context.blockLength);
    Put16(frame, 0, static_cast<std::uint16_t>((context.blockLength + 2) | 0x8000));
    return frame;
}

// Cuts whole frames off the peer's received bytes and hands each request,
// decoded, to a handler that returns the bytes to send back.
class PacketScript {
public:
    using Handler = std::function<Bytes(const Request&)>;

    explicit PacketScript(Handler handler) : handler_(std::move(handler)) {}

    void operator()(PtyPeer& peer) {
        for (;;) {
            const std::size_t left = peer.received.size() - peer.consumed;
            if (left < 2) return;
            const std::uint8_t* at = peer.received.data() + peer.consumed;
            const std::uint16_t word = Get16(at);
            const std::uint16_t frameLength = word & 0x7FFF;
            if (frameLength < 2 || left < frameLength) return;
            Request r;
            r.frameLength = frameLength;
            r.compressed = (word & 0x8000) != 0;
            Bytes packet;
            if (r.compressed) {
                packet.resize(4200);
                CodecContext context;
                context.runningChecksums = 0;
                DecodeBlock(packet.data(), packet.size(), at + 2, frameLength - 2u, context);
                packet.resize(context.status == kCodecOk ? context.dataLength : 0);
            } else {
                packet.assign(at, at + frameLength);
            }
            peer.consumed += frameLength;
            if (packet.size() >= 16) {
                r.total = Get16(packet.data());
                r.command = packet[2];
                r.status = packet[3];
                r.address = Get32(packet.data() + 4);
                r.length = Get32(packet.data() + 8);
                r.sequence = Get16(packet.data() + 12);
                r.payload.assign(packet.begin() + 14, packet.end() - 2);
                r.crcGood = r.total == packet.size() &&
                            Crc16(packet.data(), packet.size() - 2, kCrcInit) ==
                                Get16(packet.data() + packet.size() - 2);
            }
            requests.push_back(r);
            const Bytes reply = handler_(r);
            if (!reply.empty()) peer.Send(reply);
        }
    }

    std::vector<Request> requests;

private:
    Handler handler_;
};

// A panel's memory: flash in sectors that must be erased before they are
// written, and whatever else a test puts in (the block pointer, the hardware
// block, the date text). Unwritten memory reads as 0xFF.
class PanelMemory {
public:
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sectors;  // start, size
    std::vector<bool> erased;
    std::vector<std::uint32_t> eraseLog;
    std::vector<std::uint32_t> writeSizes;
    int violations = 0;

    void Set(std::uint32_t address, const Bytes& data) {
        for (std::size_t i = 0; i < data.size(); ++i) bytes[address + static_cast<std::uint32_t>(i)] = data[i];
    }
    std::uint8_t At(std::uint32_t address) const {
        auto it = bytes.find(address);
        return it == bytes.end() ? 0xFF : it->second;
    }
    Bytes Get(std::uint32_t address, std::uint32_t count) const {
        Bytes out(count);
        for (std::uint32_t i = 0; i < count; ++i) out[i] = At(address + i);
        return out;
    }
    int SectorOf(std::uint32_t address) const {
        for (std::size_t k = 0; k < sectors.size(); ++k) {
            if (address >= sectors[k].first && address - sectors[k].first < sectors[k].second) {
                return static_cast<int>(k);
            }
        }
        return -1;
    }
    void AddSectors(std::uint32_t start, std::uint32_t count, std::uint32_t size) {
        for (std::uint32_t i = 0; i < count; ++i) {
            sectors.push_back({start + i * size, size});
            erased.push_back(false);
        }
    }

    // The standard answers of a well-behaved bootloader.
    Bytes Answer(const Request& r) {
        const std::uint16_t seq = static_cast<std::uint16_t>(r.sequence + 1);
        switch (r.command) {
        case 1: return Packet(1, r.address, r.length, seq, Get(r.address, r.length));
        case 2: {
            writeSizes.push_back(static_cast<std::uint32_t>(r.payload.size()));
            for (std::size_t i = 0; i < r.payload.size(); ++i) {
                const int k = SectorOf(r.address + static_cast<std::uint32_t>(i));
                if (k >= 0 && !erased[k]) ++violations;
            }
            Set(r.address, r.payload);
            return Packet(2, r.address, r.length, seq);
        }
        case 3: {
            eraseLog.push_back(r.address);
            const int k = SectorOf(r.address);
            if (k >= 0) {
                erased[k] = true;
                for (std::uint32_t a = sectors[k].first; a - sectors[k].first < sectors[k].second; ++a) {
                    bytes.erase(a);
                }
            }
            return Packet(3, r.address, r.length, seq);
        }
        case 6: {
            const Bytes data = Get(r.address, r.length);
            const std::uint16_t crc = Crc16(data.data(), data.size(), kCrcInit);
            return Packet(6, r.address, r.length, seq, {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)});
        }
        default: return {};
        }
    }
};

// The hardware information block of a panel.
struct BlockSpec {
    std::uint16_t hardwareType = 0x0200;
    std::uint16_t flashStartHigh = 0xBFC0;
    std::uint8_t banks = 1;
    std::uint8_t sectorCounts[4] = {64, 0, 0, 0};
    std::uint8_t sectorKb[4] = {64, 0, 0, 0};
    std::uint16_t flashKb = 4096;
    std::uint16_t loaderKb = 256;
    std::uint16_t version = 123;
    std::uint32_t date = 0x24121999;
};

inline Bytes HardwareBlock(const BlockSpec& s) {
    Bytes b(128, 0);
    b[0] = 0xA5;
    b[1] = s.banks;
    Put16(b, 2, s.flashStartHigh);
    Put16(b, 4, s.flashKb);
    for (int i = 0; i < 4; ++i) {
        b[6 + i] = s.sectorCounts[i];
        b[10 + i] = s.sectorKb[i];
    }
    Put16(b, 0x0E, s.loaderKb);
    Put16(b, 0x10, s.hardwareType);
    Put16(b, 0x16, s.version);
    Put32(b, 0x18, s.date);
    b[0x7F] = 0x5A;
    return b;
}

// A 64-byte image header record as the import leaves it, with the fields the
// device link reads set as given.
inline Bytes HeaderRecord(std::uint32_t storage, std::uint32_t storedSize, std::uint16_t storedCrc,
                          std::uint32_t next, std::uint32_t areaSize = 0x200000,
                          std::uint32_t imageType = 1, std::uint16_t ceMajor = 4) {
    Bytes r(64, 0);
    Put32(r, 0, 0x19101998);
    Put16(r, 4, 1);
    Put32(r, 6, 0x80001000);
    Put32(r, 0x0A, storage);
    Put32(r, 0x0E, storedSize);
    Put32(r, 0x12, storedSize);
    Put16(r, 0x16, storedCrc);
    Put16(r, 0x18, storedCrc);
    Put16(r, 0x1A, ceMajor);
    Put16(r, 0x1C, 20);
    Put32(r, 0x2C, next);
    Put32(r, 0x30, areaSize);
    Put32(r, 0x34, imageType);
    for (int i = 58; i < 64; ++i) r[i] = 0xFF;
    return r;
}

// A whole panel behind the pseudo-terminal: it answers the baud-rate
// synchronisation (0xAA after four zero bytes) and then serves its memory.
// `tamper` may change or replace any reply.
class FakePanel {
public:
    FakePanel() = default;
    FakePanel(const FakePanel&) = delete;  // the script refers to this object
    FakePanel& operator=(const FakePanel&) = delete;

    PanelMemory memory;
    std::function<Bytes(const Request&, Bytes)> tamper;
    bool answersSync = true;

    void Install(PtyPeer& peer) {
        peer.script = [this](PtyPeer& p) { Serve(p); };
    }
    // Puts the hardware block at blockAddress and its pointer at 0x03FFFFEC,
    // with the sectors of the block in the memory model.
    void SetBlock(const BlockSpec& layout, std::uint32_t blockAddress = 0x80000100) {
        Bytes pointer(4);
        Put32(pointer, 0, blockAddress);
        memory.Set(0x03FFFFEC, pointer);
        memory.Set(blockAddress, HardwareBlock(layout));
        std::uint32_t a = static_cast<std::uint32_t>(layout.flashStartHigh) << 16;
        for (int b = 0; b < layout.banks && b < 4; ++b) {
            memory.AddSectors(a, layout.sectorCounts[b], layout.sectorKb[b] * 1024u);
            a += layout.sectorCounts[b] * layout.sectorKb[b] * 1024u;
        }
    }
    const std::vector<Request>& Requests() const { return packets.requests; }

private:
    void Serve(PtyPeer& p) {
        if (!synced) {
            while (p.received.size() - p.consumed >= 4) {
                p.consumed += 4;
                if (answersSync) {
                    synced = true;
                    p.Send({0xAA});
                    break;
                }
                p.Send({0x55});
            }
            if (!synced) return;
        }
        packets(p);
    }

    bool synced = false;
    PacketScript packets{[this](const Request& r) {
        Bytes reply = memory.Answer(r);
        return tamper ? tamper(r, std::move(reply)) : reply;
    }};
};

}  // namespace tarnwick::testing
