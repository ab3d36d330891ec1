#include "sim/engine.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "codec/crc16.h"
#include "codec/lz_codec.h"

namespace panelsim {

namespace {

constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kMinPacket = 16;
constexpr std::size_t kMaxPayload = 4096;
constexpr std::size_t kMaxPacket = kMaxPayload + kMinPacket;   // 4112
constexpr std::uint8_t kRead = 1;
constexpr std::uint8_t kWrite = 2;
constexpr std::uint8_t kErase = 3;
constexpr std::uint8_t kChecksum = 6;
constexpr std::uint8_t kErrorReply = 10;

// Codes the panel puts into its error replies.
constexpr std::uint16_t kErrInvalidAddress = 0x29;
constexpr std::uint16_t kErrChecksum = 0x24;
constexpr std::uint16_t kErrMalformed = 0x22;

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(Get16(p)) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

std::string Hex(std::uint32_t v, int digits = 8) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

const char* CommandName(int cmd) {
    switch (cmd) {
    case kRead: return "read";
    case kWrite: return "write";
    case kErase: return "erase";
    case kChecksum: return "checksum";
    default: return "other";
    }
}

void AddRate(std::vector<std::uint32_t>& rates, std::uint32_t rate) {
    if (std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
}

struct Request {
    std::uint16_t total = 0;
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::uint16_t seq = 0;
};

std::vector<std::uint8_t> BuildPacket(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                                      std::uint16_t seq, const std::uint8_t* payload, std::size_t n) {
    std::vector<std::uint8_t> p(kMinPacket + n);
    Put16(p.data(), static_cast<std::uint32_t>(p.size()));
    p[2] = command;
    p[3] = 0;
    Put32(p.data() + 4, address);
    Put32(p.data() + 8, length);
    Put16(p.data() + 12, seq);
    std::copy_n(payload, n, p.data() + kHeaderSize);
    Put16(p.data() + kHeaderSize + n, tarnwick::Crc16(p.data(), kHeaderSize + n, 0xFFFF));
    return p;
}

std::vector<std::uint8_t> ErrorPacket(const Request& r, std::uint16_t code) {
    const std::uint8_t payload[6] = {static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                                     r.command, 0, 0, 0};
    return BuildPacket(kErrorReply, r.address, r.length, static_cast<std::uint16_t>(r.seq + 1), payload, 6);
}

void Reseal(std::vector<std::uint8_t>& p) {
    Put16(p.data() + p.size() - 2, tarnwick::Crc16(p.data(), p.size() - 2, 0xFFFF));
}

}  // namespace

std::string FaultName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Drop: return "drop";
    case FaultKind::Corrupt: return "corrupt";
    case FaultKind::Seq: return "seq";
    case FaultKind::Error: return "error";
    case FaultKind::Silent: return "silent";
    case FaultKind::Crc: return "crc";
    case FaultKind::Sum: return "sum";
    case FaultKind::Short: return "short";
    case FaultKind::Delay: return "delay";
    }
    return "?";
}

bool ParseFault(const std::string& text, Fault& fault, std::string& error) {
    const auto at = text.find('@');
    if (at == std::string::npos) {
        error = "fault '" + text + "' needs @N";
        return false;
    }
    std::string kind = text.substr(0, at);
    std::string where = text.substr(at + 1);
    std::string arg;
    if (const auto eq = kind.find('='); eq != std::string::npos) {
        arg = kind.substr(eq + 1);
        kind.erase(eq);
    }
    static const FaultKind kinds[] = {FaultKind::Drop, FaultKind::Corrupt, FaultKind::Seq,
                                      FaultKind::Error, FaultKind::Silent, FaultKind::Crc,
                                      FaultKind::Sum, FaultKind::Short, FaultKind::Delay};
    bool known = false;
    for (FaultKind k : kinds) {
        if (FaultName(k) == kind) {
            fault.kind = k;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault '" + kind + "'";
        return false;
    }
    std::uint64_t v = 0;
    fault.arg = 0;
    if (fault.kind == FaultKind::Error) {
        fault.arg = kErrInvalidAddress;
        if (!arg.empty()) {
            if (!ParseNumber(arg, v) || v > 0xFFFF) {
                error = "error code '" + arg + "' is not a 16-bit number";
                return false;
            }
            fault.arg = static_cast<std::uint32_t>(v);
        }
    } else if (fault.kind == FaultKind::Delay) {
        if (!ParseNumber(arg, v) || v > 3'600'000) {
            error = "delay needs =MILLISECONDS";
            return false;
        }
        fault.arg = static_cast<std::uint32_t>(v);
    } else if (!arg.empty()) {
        error = "fault '" + kind + "' takes no argument";
        return false;
    }
    fault.command = 0;
    if (const auto colon = where.find(':'); colon != std::string::npos) {
        const std::string cmd = where.substr(0, colon);
        where.erase(0, colon + 1);
        if (cmd == "read") fault.command = kRead;
        else if (cmd == "write") fault.command = kWrite;
        else if (cmd == "erase") fault.command = kErase;
        else if (cmd == "checksum") fault.command = kChecksum;
        else {
            error = "unknown command '" + cmd + "' (read, write, erase, checksum)";
            return false;
        }
    }
    if (!ParseNumber(where, v) || v == 0 || v > 0xFFFFFFFFull) {
        error = "fault position '" + where + "' must be a number from 1";
        return false;
    }
    fault.nth = static_cast<std::uint32_t>(v);
    return true;
}

std::string FormatReport(const Stats& s) {
    std::ostringstream o;
    auto rates = [](const std::vector<std::uint32_t>& r) {
        std::string t;
        for (std::uint32_t v : r) t += (t.empty() ? "" : ",") + std::to_string(v);
        return t;
    };
    std::string sectors;
    for (std::uint32_t a : s.violationSectors) sectors += (sectors.empty() ? "" : ",") + Hex(a);
    o << "# panelsim report\n"
      << "sessions=" << s.sessions << "\n"
      << "handshakes=" << s.handshakes << "\n"
      << "handshake_bytes_ignored=" << s.handshakeBytesIgnored << "\n"
      << "sync_answers=" << s.syncAnswers << "\n"
      << "connections=" << s.syncs << "\n"
      << "reboots=" << s.reboots << "\n"
      << "requests=" << s.requests << "\n"
      << "requests_read=" << s.reads << "\n"
      << "requests_write=" << s.writes << "\n"
      << "requests_erase=" << s.eraseRequests << "\n"
      << "requests_checksum=" << s.checksums << "\n"
      << "requests_other=" << s.otherCommands << "\n"
      << "requests_compressed=" << s.compressedRequests << "\n"
      << "replies=" << s.replies << "\n"
      << "replies_compressed=" << s.compressedReplies << "\n"
      << "error_replies=" << s.errorReplies << "\n"
      << "invalid_address=" << s.invalidAddress << "\n"
      << "bytes_read=" << s.bytesRead << "\n"
      << "bytes_written=" << s.bytesWritten << "\n"
      << "erases=" << s.erases << "\n"
      << "erase_repeats=" << s.eraseRepeats << "\n"
      << "violations=" << s.violations << "\n"
      << "violation_sectors=" << sectors << "\n"
      << "conflict_bytes=" << s.conflictBytes << "\n"
      << "loader_violations=" << s.loaderViolations << "\n"
      << "protocol_errors=" << s.protocolErrors << "\n"
      << "bad_length=" << s.badLength << "\n"
      << "bad_block=" << s.badBlock << "\n"
      << "bad_crc=" << s.badCrc << "\n"
      << "malformed=" << s.malformed << "\n"
      << "partial_frames=" << s.partialFrames << "\n"
      << "sequence_breaks=" << s.sequenceBreaks << "\n"
      << "faults_injected=" << s.faultsInjected << "\n"
      << "ignored_requests=" << s.ignoredRequests << "\n"
      << "line_bytes_in=" << s.lineBytesIn << "\n"
      << "line_bytes_out=" << s.lineBytesOut << "\n"
      << "rates_handshake=" << rates(s.ratesHandshake) << "\n"
      << "rates_sync=" << rates(s.ratesSync) << "\n"
      << "rates_packets=" << rates(s.ratesPackets) << "\n";
    return o.str();
}

Engine::Engine(Memory& memory, EngineOptions options, Stats& stats, std::ostream* trace)
    : memory_(memory), options_(std::move(options)), stats_(stats), trace_(trace) {
    if (options_.booted) EnterSync();
}

void Engine::TraceLine(std::int64_t now, const std::string& text) {
    if (!trace_) return;
    char t[32];
    std::snprintf(t, sizeof t, "t=%.6f ", static_cast<double>(now - options_.originUs) / 1e6);
    *trace_ << t << text << "\n";
    trace_->flush();
}

void Engine::Emit(std::vector<std::uint8_t> bytes, std::int64_t holdUs) {
    output_.push_back({std::move(bytes), holdUs});
}

std::vector<OutputChunk> Engine::TakeOutput() {
    std::vector<OutputChunk> out;
    out.swap(output_);
    return out;
}

void Engine::Receive(const std::uint8_t* data, std::size_t count, std::int64_t nowUs, std::uint32_t rate) {
    stats_.lineBytesIn += count;
    const std::uint64_t ignoredBefore = stats_.handshakeBytesIgnored;
    for (std::size_t i = 0; i < count; ++i) Dispatch(data[i], nowUs, rate);
    if (stats_.handshakeBytesIgnored != ignoredBefore)
        TraceLine(nowUs, "event=ignored bytes=" + std::to_string(stats_.handshakeBytesIgnored - ignoredBefore) +
                             " rate=" + std::to_string(rate));
}

void Engine::Dispatch(std::uint8_t byte, std::int64_t now, std::uint32_t rate) {
    switch (phase_) {
    case Phase::Boot: BootByte(byte, now, rate); break;
    case Phase::Sync: SyncByte(byte, now, rate); break;
    case Phase::Packets: PacketByte(byte, now, rate); break;
    }
}

void Engine::BootByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate) {
    AddRate(stats_.ratesHandshake, rate);
    if (options_.bootDelayUs == kNever) {
        ++stats_.handshakeBytesIgnored;
        return;
    }
    // The delay stands for the user booting the panel: it runs from the
    // first byte the PC sends while waiting for the bootloader.
    if (!bootClockStarted_) {
        bootClockStarted_ = true;
        bootStartUs_ = now;
    }
    if (now - bootStartUs_ < options_.bootDelayUs || byte != 0xAA) {
        ++stats_.handshakeBytesIgnored;
        return;
    }
    AnswerBoot(now, rate);
}

void Engine::AnswerBoot(std::int64_t now, std::uint32_t rate) {
    Emit(options_.bootAnswer);
    ++stats_.handshakes;
    lastBootAnswerUs_ = now;
    EnterSync();
    TraceLine(now, "event=handshake rate=" + std::to_string(rate));
}

void Engine::EnterSync() {
    phase_ = Phase::Sync;
    zeros_ = 0;
}

void Engine::EnterPackets(std::int64_t now, std::uint32_t rate) {
    phase_ = Phase::Packets;
    ++stats_.syncs;
    memory_.NewConnection();
    expectedSeq_ = 0;
    frame_.clear();
    discarding_ = false;
    lastByteUs_ = now;
    TraceLine(now, "event=connected rate=" + std::to_string(rate));
}

void Engine::SyncByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate) {
    if (byte == 0x00) {
        AddRate(stats_.ratesSync, rate);
        ++zeros_;
        if (options_.syncAfter != 0 && zeros_ % options_.syncAfter == 0) {
            Emit(options_.syncAnswer);
            ++stats_.syncAnswers;
            TraceLine(now, "event=sync zeros=" + std::to_string(zeros_) + " rate=" + std::to_string(rate));
            // Only the real answer means the bootloader has found the rate.
            if (options_.syncAnswer.size() == 1 && options_.syncAnswer[0] == 0xAA) EnterPackets(now, rate);
        }
        return;
    }
    // The PC did not catch the handshake answer and runs another pass.
    if (byte == 0xAA && (stats_.handshakes == 0 || now - lastBootAnswerUs_ >= options_.reanswerGapUs)) {
        AddRate(stats_.ratesHandshake, rate);
        AnswerBoot(now, rate);
        return;
    }
    ++stats_.handshakeBytesIgnored;
}

void Engine::DropPartial(std::int64_t now, const char* why) {
    if (frame_.empty()) return;
    ++stats_.protocolErrors;
    ++stats_.partialFrames;
    TraceLine(now, std::string("event=partial_frame bytes=") + std::to_string(frame_.size()) + " why=" + why);
    frame_.clear();
}

void Engine::LineClosed(std::int64_t now) {
    DropPartial(now, "closed");
    discarding_ = false;
}

void Engine::Finish(std::int64_t now) { DropPartial(now, "exit"); }

void Engine::PacketByte(std::uint8_t byte, std::int64_t now, std::uint32_t rate) {
    if (!frame_.empty() && now - lastByteUs_ > options_.frameTimeoutUs) DropPartial(now, "timeout");
    if (discarding_) {
        if (now - lastByteUs_ <= options_.resyncGapUs) {
            lastByteUs_ = now;
            return;
        }
        discarding_ = false;
    }
    lastByteUs_ = now;
    frame_.push_back(byte);
    if (frame_.size() == 2) {
        const std::uint16_t word = Get16(frame_.data());
        if (word == 0x0000) {
            // A new synchronisation: the PC reconnects at some rate.
            frame_.clear();
            EnterSync();
            SyncByte(0, now, rate);
            SyncByte(0, now, rate);
            return;
        }
        if (word == 0xFFAA) {
            // The handshake pattern: the panel has been booted again.
            frame_.clear();
            ++stats_.reboots;
            phase_ = Phase::Boot;
            bootClockStarted_ = false;
            TraceLine(now, "event=reboot");
            Dispatch(0xAA, now, rate);
            Dispatch(0xFF, now, rate);
            return;
        }
        std::size_t length;
        bool ok;
        if (word & 0x8000) {
            length = word & 0x7FFF;
            ok = length >= 2 + tarnwick::kBlockHeaderSize + 1 && length <= 2 + tarnwick::kBlockHeaderSize + kMaxPacket;
        } else {
            length = word;
            ok = length >= kMinPacket && length <= kMaxPacket;
        }
        if (!ok) {
            ++stats_.protocolErrors;
            ++stats_.badLength;
            TraceLine(now, "event=bad_length word=" + Hex(word, 4));
            frame_.clear();
            discarding_ = true;
            return;
        }
        expected_ = length;
    }
    if (frame_.size() >= 2 && frame_.size() == expected_) {
        ProcessFrame(now, rate);
        frame_.clear();
    }
}

void Engine::ProcessFrame(std::int64_t now, std::uint32_t rate) {
    AddRate(stats_.ratesPackets, rate);
    ++stats_.requests;
    ++requestIndex_;
    servedPackets_ = true;

    const bool compressedIn = (frame_[1] & 0x80) != 0;
    std::vector<std::uint8_t> packet;
    std::string trace = "event=request n=" + std::to_string(requestIndex_) + " in=" + std::to_string(frame_.size()) +
                        " inz=" + (compressedIn ? "1" : "0");
    Request r;
    std::optional<std::uint16_t> failure;   // error code of a request the panel cannot take
    if (compressedIn) {
        ++stats_.compressedRequests;
        packet.resize(kMaxPacket);
        tarnwick::CodecContext ctx;
        ctx.runningChecksums = 0;
        tarnwick::DecodeBlock(packet.data(), packet.size(), frame_.data() + 2, frame_.size() - 2, ctx);
        if (ctx.status != tarnwick::kCodecOk || ctx.blockLength != frame_.size() - 2) {
            ++stats_.protocolErrors;
            ++stats_.badBlock;
            failure = kErrChecksum;
            packet.clear();
            trace += " fault=bad_block";
        } else {
            packet.resize(ctx.dataLength);
            if (packet.size() < kMinPacket || Get16(packet.data()) != packet.size()) {
                ++stats_.protocolErrors;
                ++stats_.malformed;
                failure = kErrMalformed;
                packet.clear();
                trace += " fault=packet_length";
            }
        }
    } else {
        packet = frame_;
    }

    if (!packet.empty()) {
        r.total = Get16(packet.data());
        r.command = packet[2];
        r.status = packet[3];
        r.address = Get32(packet.data() + 4);
        r.length = Get32(packet.data() + 8);
        r.seq = Get16(packet.data() + 12);
        trace += " seq=" + std::to_string(r.seq) + " cmd=" + CommandName(r.command) + " addr=" + Hex(r.address) +
                 " len=" + std::to_string(r.length);
    }
    ++commandIndex_[r.command];

    std::vector<const Fault*> faults;
    for (const Fault& f : options_.faults) {
        const bool hit = f.command == 0 ? f.nth == requestIndex_
                                        : (!packet.empty() && f.command == r.command && f.nth == commandIndex_[r.command]);
        if (hit) faults.push_back(&f);
    }
    auto has = [&](FaultKind k) -> const Fault* {
        for (const Fault* f : faults)
            if (f->kind == k) return f;
        return nullptr;
    };

    if (!silent_ && has(FaultKind::Silent)) {
        silent_ = true;
        ++stats_.faultsInjected;
        trace += " fault=silent";
    }
    if (silent_) {
        ++stats_.ignoredRequests;
        TraceLine(now, trace + " reply=none");
        return;
    }

    switch (r.command) {
    case kRead: ++stats_.reads; break;
    case kWrite: ++stats_.writes; break;
    case kErase: ++stats_.eraseRequests; break;
    case kChecksum: ++stats_.checksums; break;
    default: if (!packet.empty()) ++stats_.otherCommands; break;
    }

    if (!failure) {
        const std::uint16_t crc = tarnwick::Crc16(packet.data(), packet.size() - 2, 0xFFFF);
        if (crc != Get16(packet.data() + packet.size() - 2)) {
            ++stats_.protocolErrors;
            ++stats_.badCrc;
            failure = kErrChecksum;
            trace += " fault=bad_crc";
        } else {
            if (r.seq != expectedSeq_) {
                ++stats_.sequenceBreaks;
                trace += " seq_expected=" + std::to_string(expectedSeq_);
            }
            expectedSeq_ = static_cast<std::uint16_t>(r.seq + 1);
            if (r.status != 0) {
                ++stats_.protocolErrors;
                ++stats_.malformed;
                failure = kErrMalformed;
                trace += " fault=status";
            }
        }
    }

    std::vector<std::uint8_t> reply;
    std::int64_t hold = 0;
    std::string outcome = "ok";
    if (failure) {
        reply = ErrorPacket(r, *failure);
        outcome = "error code=" + Hex(*failure, 2);
    } else if (const Fault* f = has(FaultKind::Error)) {
        ++stats_.faultsInjected;
        reply = ErrorPacket(r, static_cast<std::uint16_t>(f->arg));
        outcome = "error code=" + Hex(f->arg, 2) + " injected";
    } else {
        const std::uint64_t end = static_cast<std::uint64_t>(r.address) + r.length;
        auto refuse = [&](std::uint16_t code, const char* why) {
            reply = ErrorPacket(r, code);
            outcome = "error code=" + Hex(code, 2) + " why=" + why;
            if (code == kErrMalformed) {
                ++stats_.protocolErrors;
                ++stats_.malformed;
            } else if (code == kErrInvalidAddress) {
                ++stats_.invalidAddress;
            }
        };
        switch (r.command) {
        case kRead: {
            if (r.total != kMinPacket || r.length == 0 || r.length > kMaxPayload) {
                refuse(kErrMalformed, "bad_length");
            } else if (!memory_.Readable(r.address, r.length)) {
                refuse(kErrInvalidAddress, "invalid_address");
            } else {
                std::vector<std::uint8_t> data(r.length);
                memory_.Read(r.address, r.length, data.data());
                reply = BuildPacket(kRead, r.address, r.length, static_cast<std::uint16_t>(r.seq + 1), data.data(),
                                    data.size());
                stats_.bytesRead += r.length;
            }
            break;
        }
        case kWrite: {
            if (r.length == 0 || r.length > kMaxPayload || r.total != r.length + kMinPacket) {
                refuse(kErrMalformed, "bad_length");
            } else if (!memory_.InFlash(r.address, r.length) || end > 0x100000000ull) {
                refuse(kErrInvalidAddress, "invalid_address");
            } else if (memory_.Config().protectLoader && memory_.TouchesLoader(r.address, r.length)) {
                ++stats_.loaderViolations;
                refuse(kErrInvalidAddress, "loader");
            } else {
                const ProgramResult pr = memory_.Program(r.address, packet.data() + kHeaderSize, r.length);
                if (!pr.unerasedSectors.empty()) {
                    ++stats_.violations;
                    for (int s : pr.unerasedSectors)
                        stats_.violationSectors.insert(memory_.Sectors()[static_cast<std::size_t>(s)].start);
                    outcome += " violation";
                }
                stats_.conflictBytes += pr.conflictBytes;
                if (pr.conflictBytes) outcome += " conflict_bytes=" + std::to_string(pr.conflictBytes);
                stats_.bytesWritten += r.length;
                reply = BuildPacket(kWrite, r.address, r.length, static_cast<std::uint16_t>(r.seq + 1), nullptr, 0);
            }
            break;
        }
        case kErase: {
            const int sector = memory_.SectorStartingAt(r.address);
            if (r.total != kMinPacket) {
                refuse(kErrMalformed, "bad_length");
            } else if (sector < 0) {
                refuse(kErrInvalidAddress, "not_a_sector");
            } else if (memory_.Config().protectLoader &&
                       memory_.TouchesLoader(r.address, memory_.Sectors()[static_cast<std::size_t>(sector)].size)) {
                ++stats_.loaderViolations;
                refuse(kErrInvalidAddress, "loader");
            } else {
                if (memory_.Sectors()[static_cast<std::size_t>(sector)].erasedThisConnection) {
                    ++stats_.eraseRepeats;
                    outcome += " repeat";
                }
                memory_.Erase(sector);
                ++stats_.erases;
                hold = options_.eraseTimeUs;
                reply = BuildPacket(kErase, r.address, r.length, static_cast<std::uint16_t>(r.seq + 1), nullptr, 0);
            }
            break;
        }
        case kChecksum: {
            std::uint16_t crc = 0;
            if (r.total != kMinPacket) {
                refuse(kErrMalformed, "bad_length");
            } else if (!memory_.Checksum(r.address, r.length, crc)) {
                refuse(kErrInvalidAddress, "invalid_address");
            } else {
                if (has(FaultKind::Sum)) {
                    ++stats_.faultsInjected;
                    crc = static_cast<std::uint16_t>(~crc);
                    outcome += " wrong_sum";
                }
                const std::uint8_t v[2] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
                reply = BuildPacket(kChecksum, r.address, r.length, static_cast<std::uint16_t>(r.seq + 1), v, 2);
                outcome += " crc=" + Hex(crc, 4);
            }
            break;
        }
        default:
            refuse(kErrMalformed, "unknown_command");
            break;
        }
    }
    if (reply[2] == kErrorReply) ++stats_.errorReplies;

    if (has(FaultKind::Seq)) {
        ++stats_.faultsInjected;
        Put16(reply.data() + 12, r.seq);
        Reseal(reply);
        outcome += " wrong_seq";
    }
    if (has(FaultKind::Crc)) {
        ++stats_.faultsInjected;
        reply[reply.size() - 2] ^= 0x55;
        reply[reply.size() - 1] ^= 0x55;
        outcome += " wrong_crc";
    }

    std::vector<std::uint8_t> wire;
    bool compressedOut = false;
    if (options_.compression != Compression::Never) {
        std::vector<std::uint8_t> block(tarnwick::kBlockHeaderSize + reply.size());
        tarnwick::CodecContext ctx;
        ctx.dataLength = static_cast<std::uint32_t>(reply.size());
        ctx.runningChecksums = 0;
        tarnwick::EncodeBlock(block.data(), reply.data(), ctx);
        if (options_.compression == Compression::Always || ctx.blockLength < reply.size()) {
            wire.resize(2 + ctx.blockLength);
            Put16(wire.data(), static_cast<std::uint32_t>(ctx.blockLength + 2) | 0x8000);
            std::copy_n(block.data(), ctx.blockLength, wire.data() + 2);
            compressedOut = true;
        }
    }
    if (!compressedOut) wire = reply;

    if (has(FaultKind::Corrupt)) {
        ++stats_.faultsInjected;
        wire[2 + (wire.size() - 2) / 2] ^= 0x01;
        outcome += " corrupted";
    }
    if (has(FaultKind::Short)) {
        ++stats_.faultsInjected;
        wire.resize(wire.size() / 2);
        outcome += " cut_short";
    }
    if (const Fault* f = has(FaultKind::Delay)) {
        ++stats_.faultsInjected;
        hold += static_cast<std::int64_t>(f->arg) * 1000;
        outcome += " delayed=" + std::to_string(f->arg) + "ms";
    }
    if (has(FaultKind::Drop)) {
        ++stats_.faultsInjected;
        TraceLine(now, trace + " reply=" + outcome + " dropped");
        return;
    }
    ++stats_.replies;
    if (compressedOut) ++stats_.compressedReplies;
    TraceLine(now, trace + " reply=" + outcome + " out=" + std::to_string(wire.size()) +
                       " outz=" + (compressedOut ? "1" : "0"));
    Emit(std::move(wire), hold);
}

}  // namespace panelsim
