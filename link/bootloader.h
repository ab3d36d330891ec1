#pragma once
// The bootloader protocol: the boot handshake at 9600 bit/s, then request and
// reply packets (each with a CRC-16 and a sequence number, LZ-compressed on the
// line whenever that is shorter) for the four memory commands.
//
// Packet: total length (2), command (1), status (1), address (4), length (4),
// sequence number (2), payload (0 … 4096), Crc16 over all before it (2).
// All operations return 0 on success and record every failure with
// ReportError; nothing is retried.
#include <cstdint>

#include "link/serial_port.h"

namespace tarnwick {

class Progress;

constexpr std::uint16_t kMaxPayload = 4096;
constexpr std::uint16_t kPacketOverhead = 16;
constexpr std::uint16_t kMaxPacket = kMaxPayload + kPacketOverhead;  // 4112
constexpr std::uint16_t kReceiveBufferSize = 4124;

enum BootCommand : std::uint8_t {
    kCmdReadMemory = 1,
    kCmdWriteMemory = 2,
    kCmdEraseSector = 3,
    kCmdChecksum = 6,
    kCmdErrorReply = 10,
};

// Results of WaitForBoot.
enum BootWait : int {
    kBootAnswered = 0,
    kBootCancelled = 1,
    kBootSendFailed = 2,
    kBootNoAnswer = 3,
};

class BootLink {
public:
    explicit BootLink(SerialPort& port) : port_(&port) {}

    // Configure (queue size 4122) and Open; 0x5C of 0x2B when that fails.
    int OpenLink(unsigned portIndex, std::uint32_t bitRate);
    // Close; 0x5C of 0x2C when that fails.
    int CloseLink();
    // Catches the bootloader while the panel starts. kBootAnswered, …Cancelled,
    // …SendFailed or …NoAnswer (after 5400 ticks); records nothing itself.
    int WaitForBoot(Progress* progress);
    void ResetSequence() { sequence_ = 0; }
    // count 0 does nothing.
    int ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* destination);
    int WriteMemory(std::uint32_t address, std::uint32_t count, const std::uint8_t* source);
    int EraseSector(std::uint32_t address);
    // The panel's Crc16 (initial 0xFFFF) of count bytes from address.
    int MemoryChecksum(std::uint32_t address, std::uint32_t count, std::uint16_t* result);

    std::uint16_t Sequence() const { return sequence_; }
    SerialPort& Port() { return *port_; }
    void SetPort(SerialPort& port) { port_ = &port; }

private:
    // Fills the header and takes a sequence number; returns the total length.
    std::uint16_t BuildRequest(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                               const std::uint8_t* payload, std::uint16_t payloadLength);
    int SendPacket(std::uint16_t length);
    int Receive(std::uint8_t* destination, std::uint16_t count, std::uint32_t allowance);
    bool CheckReply(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                    std::uint16_t total, const std::uint8_t* header) const;
    static bool CheckPacketCrc(const std::uint8_t* packet, std::uint16_t available);
    void ExamineBadReply(std::uint16_t received);
    // One exchange of a command without payload in the reply (write, erase).
    int SimpleExchange(std::uint32_t function, std::uint8_t command, std::uint32_t address,
                       std::uint32_t length, const std::uint8_t* payload,
                       std::uint16_t payloadLength, std::uint32_t allowance);

    SerialPort* port_;
    std::uint16_t sequence_ = 0;
    // The request going out and the reply coming in, one packet at a time.
    std::uint8_t packet_[kMaxPacket + 16] = {};
    // The frame on the line when compressed: length word and one block.
    std::uint8_t frame_[2 + 8 + kMaxPacket] = {};
    // The packet most recently received, and how much of it is not yet taken.
    std::uint8_t receive_[kReceiveBufferSize] = {};
    std::uint8_t work_[kMaxPacket] = {};
    std::uint16_t bufferLength_ = 0;
    std::uint16_t bytesLeft_ = 0;
};

// The link of the process, on ThePort().
BootLink& TheLink();

int OpenLink(unsigned portIndex, std::uint32_t bitRate);
int CloseLink();
int WaitForBoot(Progress* progress);
void ResetSequence();
int ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* destination);
int WriteMemory(std::uint32_t address, std::uint32_t count, const std::uint8_t* source);
int EraseSector(std::uint32_t address);
int MemoryChecksum(std::uint32_t address, std::uint32_t count, std::uint16_t* result);

}  // namespace tarnwick
