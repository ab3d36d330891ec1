#pragma once
// The bootloader side of the line: boot handshake, baud-rate synchronisation
// and the request/reply packets, with the faults the options ask for. No I/O
// and no clock of its own: the caller feeds the bytes with the time they
// arrived and sends what TakeOutput hands back.
#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "sim/memory.h"

namespace panelsim {

enum class Phase { Boot, Sync, Packets };

enum class FaultKind { Drop, Corrupt, Seq, Error, Silent, Crc, Sum, Short, Delay };

struct Fault {
    FaultKind kind = FaultKind::Drop;
    std::uint32_t arg = 0;       // error code for Error, milliseconds for Delay
    int command = 0;             // 0: the Nth request of any command; else 1, 2, 3 or 6
    std::uint32_t nth = 0;       // 1-based
};

// KIND[=ARG]@[CMD:]N, e.g. "drop@3", "error=0x29@read:1", "delay=500@write:2".
bool ParseFault(const std::string& text, Fault& fault, std::string& error);
std::string FaultName(FaultKind kind);

enum class Compression { Auto, Never, Always };

constexpr std::int64_t kNever = -1;

struct EngineOptions {
    std::int64_t bootDelayUs = 0;            // kNever: the bootloader never answers
    bool booted = false;                     // start past the handshake, waiting for the synchronisation
    std::vector<std::uint8_t> bootAnswer{0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF};
    std::uint32_t syncAfter = 4;             // 0x00 bytes per answer; 0: never answer
    std::vector<std::uint8_t> syncAnswer{0xAA};
    Compression compression = Compression::Auto;
    std::vector<Fault> faults;
    std::int64_t eraseTimeUs = 0;
    std::int64_t frameTimeoutUs = 2'000'000; // a frame left unfinished this long is dropped
    std::int64_t resyncGapUs = 20'000;       // quiet time that ends discarding after a bad frame start
    std::int64_t reanswerGapUs = 300'000;    // a new handshake pass after this gets a new answer
    std::int64_t originUs = 0;               // time zero of the trace
};

struct Stats {
    std::uint64_t sessions = 0;
    std::uint64_t handshakes = 0;
    std::uint64_t handshakeBytesIgnored = 0;
    std::uint64_t syncAnswers = 0;
    std::uint64_t syncs = 0;                 // connections that reached the packet protocol
    std::uint64_t reboots = 0;               // handshake seen while in the packet protocol

    std::uint64_t requests = 0;
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint64_t eraseRequests = 0;
    std::uint64_t checksums = 0;
    std::uint64_t otherCommands = 0;
    std::uint64_t compressedRequests = 0;
    std::uint64_t replies = 0;
    std::uint64_t compressedReplies = 0;
    std::uint64_t errorReplies = 0;
    std::uint64_t invalidAddress = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;

    std::uint64_t erases = 0;                // sectors erased
    std::uint64_t eraseRepeats = 0;          // sector erased again within one connection
    std::uint64_t violations = 0;            // write requests into sectors never erased since start
    std::set<std::uint32_t> violationSectors;
    std::uint64_t conflictBytes = 0;         // bytes whose flash result differs from the data written
    std::uint64_t loaderViolations = 0;      // writes or erases refused inside the bootloader

    std::uint64_t protocolErrors = 0;
    std::uint64_t badLength = 0;
    std::uint64_t badBlock = 0;
    std::uint64_t badCrc = 0;
    std::uint64_t malformed = 0;
    std::uint64_t partialFrames = 0;
    std::uint64_t sequenceBreaks = 0;

    std::uint64_t faultsInjected = 0;
    std::uint64_t ignoredRequests = 0;
    std::uint64_t lineBytesIn = 0;
    std::uint64_t lineBytesOut = 0;

    std::vector<std::uint32_t> ratesHandshake;
    std::vector<std::uint32_t> ratesSync;
    std::vector<std::uint32_t> ratesPackets;
};

// key=value lines, one per counter (see the program's help).
std::string FormatReport(const Stats& stats);

struct OutputChunk {
    std::vector<std::uint8_t> bytes;
    std::int64_t holdUs = 0;                 // do not start sending before this much time has passed
};

class Engine {
public:
    Engine(Memory& memory, EngineOptions options, Stats& stats, std::ostream* trace = nullptr);

    void Receive(const std::uint8_t* data, std::size_t count, std::int64_t nowUs, std::uint32_t rate);
    std::vector<OutputChunk> TakeOutput();
    // The PC closed the port: a frame it left unfinished is dropped.
    void LineClosed(std::int64_t nowUs);
    void Finish(std::int64_t nowUs);

    Phase CurrentPhase() const { return phase_; }
    // Set when a request has been served since the PC last opened the port.
    bool ServedPackets() const { return servedPackets_; }
    void ClearServedPackets() { servedPackets_ = false; }

private:
    void Dispatch(std::uint8_t byte, std::int64_t now, std::uint32_t rate);
    void BootByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate);
    void SyncByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate);
    void PacketByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate);
    void AnswerBoot(std::int64_t now, std::uint32_t rate);
    void EnterSync();
    void EnterPackets(std::int64_t now, std::uint32_t rate);
    void DropPartial(std::int64_t now, const char* why);
    void ProcessFrame(std::int64_t now, std::uint32_t rate);
    void Emit(std::vector<std::uint8_t> bytes, std::int64_t holdUs = 0);
    void TraceLine(std::int64_t now, const std::string& text);

    Memory& memory_;
    EngineOptions options_;
    Stats& stats_;
    std::ostream* trace_;

    Phase phase_ = Phase::Boot;
    bool bootClockStarted_ = false;
    std::int64_t bootStartUs_ = 0;
    std::int64_t lastBootAnswerUs_ = 0;
    std::uint64_t zeros_ = 0;

    std::vector<std::uint8_t> frame_;
    std::size_t expected_ = 0;
    bool discarding_ = false;
    std::int64_t lastByteUs_ = 0;
    std::uint16_t expectedSeq_ = 0;
    std::uint64_t requestIndex_ = 0;
    std::uint64_t commandIndex_[256] = {};
    bool silent_ = false;
    bool servedPackets_ = false;

    std::vector<OutputChunk> output_;
};

}  // namespace panelsim
