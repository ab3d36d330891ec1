#include "link/bootloader.h"

#include <algorithm>
#include <cstring>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "document/le_bytes.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "ports/progress.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kFnSendPacket = 0x2A;
constexpr std::uint32_t kFnReceive = 0x29;
constexpr std::uint32_t kFnTake = 0x28;
constexpr std::uint32_t kFnExamine = 0x23;
constexpr std::uint32_t kFnWriteMemory = 0x1E;
constexpr std::uint32_t kFnReadMemory = 0x1F;
constexpr std::uint32_t kFnChecksum = 0x24;
constexpr std::uint32_t kFnErase = 0x20;
constexpr std::uint32_t kFnOpenLink = 0x2B;
constexpr std::uint32_t kFnCloseLink = 0x2C;

// Receive allowances in ticks, on top of the port's read time-out.
constexpr std::uint32_t kReadAllowance = 90;
constexpr std::uint32_t kWriteAllowance = 180;
constexpr std::uint32_t kEraseAllowance = 270;
constexpr std::uint32_t kChecksumAllowance = 270;

constexpr std::uint16_t kErrorReplyLength = 22;
constexpr std::uint32_t kBootTimeoutTicks = 5400;

}  // namespace

int BootLink::OpenLink(unsigned portIndex, std::uint32_t bitRate) {
    port_->Configure(portIndex, bitRate, kLinkQueueSize);
    if (port_->Open() != 0) {
        ReportError(kFnOpenLink, 0x5C);
        return 1;
    }
    return 0;
}

int BootLink::CloseLink() {
    if (port_->Close() != 0) {
        ReportError(kFnCloseLink, 0x5C);
        return 1;
    }
    return 0;
}

int BootLink::WaitForBoot(Progress* progress) {
    SerialPort& port = *port_;
    const std::uint32_t start = port.Now();
    for (;;) {
        if (progress != nullptr && progress->IsCancelled()) return kBootCancelled;
        if (port.Elapsed(start) > kBootTimeoutTicks) return kBootNoAnswer;

        // One pass sends AA FF AA FF AA FF AA 55 while nothing comes back. The
        // byte received lands in the cell of the byte to send, so after a
        // reception the next attempt sends what was last received.
        std::uint8_t b = 0xAA;
        std::uint8_t expected = 0xAA;
        int matched = 0;
        port.Purge();
        for (int attempt = 0; attempt < 7; ++attempt) {
            if (port.Write(&b, 1) != 0) return kBootSendFailed;
            b ^= 0x55;
            if (attempt == 6) {
                b = 0x55;
                if (port.Write(&b, 1) != 0) return kBootSendFailed;
                port.Delay(2);
            }
            if (port.QueueStatus(1, 1) == 0) continue;
            port.Delay(18);
            expected = 0xAA;
            if (port.QueueStatus(1, 1) == 0) continue;
            for (;;) {
                if (port.Read(&b, 1, 0) != 0) break;  // a dead line: on to the next attempt
                if (b == expected) {
                    ++matched;
                    expected ^= 0x55;
                    if (matched == 6) {
                        // Six answer bytes and nothing after them.
                        if (port.QueueStatus(1, 1) == 0) return kBootAnswered;
                        break;
                    }
                }
                if (port.QueueStatus(1, 1) == 0) break;
            }
        }
    }
}

std::uint16_t BootLink::BuildRequest(std::uint8_t command, std::uint32_t address,
                                     std::uint32_t length, const std::uint8_t* payload,
                                     std::uint16_t payloadLength) {
    const std::uint16_t total = static_cast<std::uint16_t>(payloadLength + kPacketOverhead);
    le::Put16(packet_, total);
    packet_[2] = command;
    packet_[3] = 0;
    le::Put32(packet_ + 4, address);
    le::Put32(packet_ + 8, length);
    le::Put16(packet_ + 12, sequence_);
    ++sequence_;
    if (payloadLength > 0) std::memcpy(packet_ + 14, payload, payloadLength);
    le::Put16(packet_ + 14 + payloadLength, Crc16(packet_, 14u + payloadLength, kCrcInit));
    return total;
}

int BootLink::SendPacket(std::uint16_t length) {
    CodecContext context;
    context.dataLength = length;
    context.runningChecksums = 0;
    EncodeBlock(frame_ + 2, packet_, context);
    int result;
    if (context.blockLength < length) {
        const std::uint16_t frameLength = static_cast<std::uint16_t>(context.blockLength + 2);
        le::Put16(frame_, static_cast<std::uint16_t>(frameLength | 0x8000));
        result = port_->Write(frame_, frameLength);
    } else {
        result = port_->Write(packet_, length);
    }
    // Whatever was left of an earlier reply is not part of the next one.
    bufferLength_ = 0;
    bytesLeft_ = 0;
    if (result != 0) {
        ReportError(kFnSendPacket, 0x54);
        return 1;
    }
    return 0;
}

int BootLink::Receive(std::uint8_t* destination, std::uint16_t count, std::uint32_t allowance) {
    if (bytesLeft_ == 0) {
        if (port_->Read(receive_, 2, allowance) != 0) {
            ReportError(kFnReceive, 0x53);
            return 1;
        }
        const std::uint16_t word = le::Get16(receive_);
        const std::uint16_t frameLength = word & 0x7FFF;
        if (frameLength < 2 || frameLength > kReceiveBufferSize) {
            ReportError(kFnReceive, 0x53);
            return 1;
        }
        if (port_->Read(receive_ + 2, static_cast<std::uint16_t>(frameLength - 2), 0) != 0) {
            ReportError(kFnReceive, 0x53);
            return 1;
        }
        if (word & 0x8000) {
            CodecContext context;
            context.runningChecksums = 0;
            DecodeBlock(work_, sizeof work_, receive_ + 2, frameLength - 2u, context);
            if (context.status != kCodecOk || context.dataLength < 2) {
                ReportError(kFnReceive, 0x60);
                return 1;
            }
            std::memcpy(receive_, work_, context.dataLength);
            // Never more than the block really held, whatever the packet claims.
            bufferLength_ = static_cast<std::uint16_t>(
                std::min<std::uint32_t>(le::Get16(work_), context.dataLength));
        } else {
            bufferLength_ = frameLength;
        }
        bytesLeft_ = bufferLength_;
    }
    if (bytesLeft_ < count) {
        ReportError(kFnTake, kErrorProtocolShortFrame);
        ReportError(kFnReceive, 0x61);
        return 1;
    }
    std::memcpy(destination, receive_ + (bufferLength_ - bytesLeft_), count);
    bytesLeft_ = static_cast<std::uint16_t>(bytesLeft_ - count);
    return 0;
}

bool BootLink::CheckReply(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                          std::uint16_t total, const std::uint8_t* header) const {
    if (command != kCmdErrorReply && le::Get16(header + 12) != sequence_) return false;
    if (header[2] != command) return false;
    if (header[3] != 0) return false;
    if (address != 0 && le::Get32(header + 4) != address) return false;
    if (length != 0 && le::Get32(header + 8) != length) return false;
    if (total != 0 && le::Get16(header) != total) return false;
    return true;
}

bool BootLink::CheckPacketCrc(const std::uint8_t* packet, std::uint16_t available) {
    const std::uint16_t total = le::Get16(packet);
    if (total < kPacketOverhead || total > available) return false;
    return Crc16(packet, total - 2u, kCrcInit) == le::Get16(packet + total - 2);
}

void BootLink::ExamineBadReply(std::uint16_t received) {
    if (!CheckReply(kCmdErrorReply, 0, 0, kErrorReplyLength, packet_)) {
        ReportError(kFnExamine, kErrorProtocol);
        return;
    }
    if (received < kErrorReplyLength &&
        Receive(packet_ + received, static_cast<std::uint16_t>(kErrorReplyLength - received), 0) != 0) {
        ReportError(kFnExamine, 0x53);
        return;
    }
    if (!CheckPacketCrc(packet_, kErrorReplyLength)) {
        ReportError(kFnExamine, kErrorProtocolErrorReplyChecksum);
        return;
    }
    // The panel's own code; codes with a text of their own are shown with it.
    ReportError(kFnExamine, le::Get16(packet_ + 14));
}

int BootLink::ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* destination) {
    while (count > 0) {
        const std::uint16_t n = static_cast<std::uint16_t>(std::min<std::uint32_t>(count, kMaxPayload));
        const std::uint16_t length = BuildRequest(kCmdReadMemory, address, n, nullptr, 0);
        if (SendPacket(length) != 0) {
            ReportError(kFnReadMemory, 0x54);
            return 1;
        }
        if (Receive(packet_, 14, kReadAllowance) != 0) {
            ReportError(kFnReadMemory, 0x53);
            return 1;
        }
        if (!CheckReply(kCmdReadMemory, address, n, static_cast<std::uint16_t>(n + kPacketOverhead),
                        packet_)) {
            ExamineBadReply(14);
            ReportError(kFnReadMemory, 0x52);
            return 1;
        }
        if (Receive(packet_ + 14, static_cast<std::uint16_t>(n + 2), 0) != 0) {
            ReportError(kFnReadMemory, 0x53);
            return 1;
        }
        if (!CheckPacketCrc(packet_, static_cast<std::uint16_t>(n + kPacketOverhead))) {
            ExamineBadReply(static_cast<std::uint16_t>(n + kPacketOverhead));
            ReportError(kFnReadMemory, kErrorProtocolReplyChecksum);
            return 1;
        }
        std::memcpy(destination, packet_ + 14, n);
        destination += n;
        address += n;
        count -= n;
    }
    return 0;
}

int BootLink::SimpleExchange(std::uint32_t function, std::uint8_t command, std::uint32_t address,
                             std::uint32_t length, const std::uint8_t* payload,
                             std::uint16_t payloadLength, std::uint32_t allowance) {
    const std::uint16_t total = BuildRequest(command, address, length, payload, payloadLength);
    if (SendPacket(total) != 0) {
        ReportError(function, 0x54);
        return 1;
    }
    if (Receive(packet_, kPacketOverhead, allowance) != 0) {
        ReportError(function, 0x53);
        return 1;
    }
    if (!CheckReply(command, address, length, kPacketOverhead, packet_)) {
        ExamineBadReply(kPacketOverhead);
        ReportError(function, 0x52);
        return 1;
    }
    if (!CheckPacketCrc(packet_, kPacketOverhead)) {
        ExamineBadReply(kPacketOverhead);
        ReportError(function, kErrorProtocolReplyChecksum);
        return 1;
    }
    return 0;
}

int BootLink::WriteMemory(std::uint32_t address, std::uint32_t count, const std::uint8_t* source) {
    while (count > 0) {
        const std::uint16_t n = static_cast<std::uint16_t>(std::min<std::uint32_t>(count, kMaxPayload));
        if (SimpleExchange(kFnWriteMemory, kCmdWriteMemory, address, n, source, n, kWriteAllowance) != 0) {
            return 1;
        }
        source += n;
        address += n;
        count -= n;
    }
    return 0;
}

int BootLink::EraseSector(std::uint32_t address) {
    return SimpleExchange(kFnErase, kCmdEraseSector, address, 0, nullptr, 0, kEraseAllowance);
}

int BootLink::MemoryChecksum(std::uint32_t address, std::uint32_t count, std::uint16_t* result) {
    const std::uint16_t total = BuildRequest(kCmdChecksum, address, count, nullptr, 0);
    if (SendPacket(total) != 0) {
        ReportError(kFnChecksum, 0x54);
        return 1;
    }
    if (Receive(packet_, 14, kChecksumAllowance) != 0) {
        ReportError(kFnChecksum, 0x53);
        return 1;
    }
    if (!CheckReply(kCmdChecksum, address, count, kPacketOverhead + 2, packet_)) {
        ExamineBadReply(14);
        ReportError(kFnChecksum, 0x52);
        return 1;
    }
    if (Receive(packet_ + 14, 4, 0) != 0) {
        ReportError(kFnChecksum, 0x53);
        return 1;
    }
    if (!CheckPacketCrc(packet_, kPacketOverhead + 2)) {
        ExamineBadReply(kPacketOverhead + 2);
        ReportError(kFnChecksum, kErrorProtocolReplyChecksum);
        return 1;
    }
    *result = le::Get16(packet_ + 14);
    return 0;
}

BootLink& TheLink() {
    static BootLink link(ThePort());
    return link;
}

int OpenLink(unsigned portIndex, std::uint32_t bitRate) { return TheLink().OpenLink(portIndex, bitRate); }
int CloseLink() { return TheLink().CloseLink(); }
int WaitForBoot(Progress* progress) { return TheLink().WaitForBoot(progress); }
void ResetSequence() { TheLink().ResetSequence(); }
int ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* destination) {
    return TheLink().ReadMemory(address, count, destination);
}
int WriteMemory(std::uint32_t address, std::uint32_t count, const std::uint8_t* source) {
    return TheLink().WriteMemory(address, count, source);
}
int EraseSector(std::uint32_t address) { return TheLink().EraseSector(address); }
int MemoryChecksum(std::uint32_t address, std::uint32_t count, std::uint16_t* result) {
    return TheLink().MemoryChecksum(address, count, result);
}

}  // namespace tarnwick
