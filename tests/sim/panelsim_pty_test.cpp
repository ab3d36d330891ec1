// panelsim as a PC meets it: the real program on its pseudo-terminal, driven
// with frames built here by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/sim/panelsim_process.h"

namespace panelsim::testing {
namespace {

constexpr std::uint32_t kImageArea = 0xBFC10000;      // built-in panel: first sector after the 64 KB loader
constexpr std::uint32_t kBlockAddress = 0xBFC0FF80;

Bytes Pattern(std::size_t n, unsigned seed = 7) {
    Bytes b(n);
    unsigned x = seed;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

void ExpectReplyTo(const Reply& r, std::uint8_t cmd, std::uint32_t address, std::uint32_t length, std::uint16_t seq,
                   std::size_t total) {
    ASSERT_GE(r.packet.size(), 16u) << "no reply decoded";
    EXPECT_EQ(r.total(), total);
    EXPECT_EQ(r.packet.size(), total);
    EXPECT_EQ(r.command(), cmd);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.address(), address);
    EXPECT_EQ(r.length(), length);
    EXPECT_EQ(r.seq(), static_cast<std::uint16_t>(seq + 1));
    EXPECT_TRUE(r.crcOk());
}

TEST(PanelsimPty, FirstLineNamesTheSlave) {
    PanelsimProcess sim({});
    EXPECT_EQ(sim.FirstLine().rfind("PTY /dev/pts/", 0), 0u) << sim.FirstLine();
}

TEST(PanelsimPty, HandshakeSyncAndIdentifyTheBuiltInPanel) {
    PanelsimProcess sim({});
    sim.Connect(B115200);

    Reply pointer = sim.Exchange(Request(1, 0x03FFFFEC, 4, 0));
    ExpectReplyTo(pointer, 1, 0x03FFFFEC, 4, 0, 20);
    EXPECT_EQ(Le32(pointer.payload()), kBlockAddress);

    Reply block = sim.Exchange(Request(1, kBlockAddress, 128, 1));
    ExpectReplyTo(block, 1, kBlockAddress, 128, 1, 144);
    const std::uint8_t* b = block.payload();
    EXPECT_EQ(b[0x00], 0xA5);
    EXPECT_EQ(b[0x01], 2);                        // banks
    EXPECT_EQ(Le16(b + 0x02), 0xBFC0);            // flash start / 64 KiB
    EXPECT_EQ(Le16(b + 0x04), 4096);              // KB, the sum of the sectors
    EXPECT_EQ(Bytes(b + 0x06, b + 0x0E), (Bytes{8, 63, 0, 0, 8, 64, 0, 0}));
    EXPECT_EQ(Le16(b + 0x0E), 64);                // loader KB
    EXPECT_EQ(Le16(b + 0x10), 0x0040);
    EXPECT_EQ(Le16(b + 0x16), 105);
    EXPECT_EQ(Le32(b + 0x18), 0x15032004u);
    EXPECT_EQ(b[0x7F], 0x5A);
    EXPECT_TRUE(block.compressed) << "a block of mostly 0xFF goes on the line compressed";

    auto report = sim.Stop();
    EXPECT_EQ(report["sessions"], "2");
    EXPECT_EQ(report["handshakes"], "1");
    EXPECT_EQ(report["connections"], "1");
    EXPECT_EQ(report["requests"], "2");
    EXPECT_EQ(report["requests_read"], "2");
    EXPECT_EQ(report["replies_compressed"], "1");
    EXPECT_EQ(report["sequence_breaks"], "0");
    EXPECT_EQ(report["protocol_errors"], "0");
    EXPECT_EQ(report["rates_handshake"], "9600");
    EXPECT_EQ(report["rates_sync"], "115200");
    EXPECT_EQ(report["rates_packets"], "115200");
}

TEST(PanelsimPty, EraseWriteChecksumReadBackAndDump) {
    PanelsimProcess sim({});
    sim.Connect();
    ExpectReplyTo(sim.Exchange(Request(3, kImageArea, 0, 0)), 3, kImageArea, 0, 0, 16);
    const Bytes data = Pattern(300);
    ExpectReplyTo(sim.Exchange(Request(2, kImageArea, 300, 1, data)), 2, kImageArea, 300, 1, 16);

    Reply sum = sim.Exchange(Request(6, kImageArea, 300, 2));
    ExpectReplyTo(sum, 6, kImageArea, 300, 2, 18);
    EXPECT_EQ(Le16(sum.payload()), BitCrc(data));

    Reply back = sim.Exchange(Request(1, kImageArea, 300, 3));
    ExpectReplyTo(back, 1, kImageArea, 300, 3, 316);
    EXPECT_EQ(Bytes(back.payload(), back.payload() + 300), data);

    auto report = sim.Stop();
    EXPECT_EQ(report["erases"], "1");
    EXPECT_EQ(report["violations"], "0");
    EXPECT_EQ(report["bytes_written"], "300");
    EXPECT_EQ(report["error_replies"], "0");
    const Bytes dump = sim.Dump();
    ASSERT_EQ(dump.size(), 4u * 1024 * 1024);
    EXPECT_EQ(Bytes(dump.begin() + 0x10000, dump.begin() + 0x10000 + 300), data);
    EXPECT_EQ(dump[0x10000 + 300], 0xFF);
    EXPECT_EQ(dump[0xFF80], 0xA5) << "the block lies in the loader, part of the flash";
}

TEST(PanelsimPty, CompressedAllZeroWriteIsTakenAndStored) {
    PanelsimProcess sim({});
    sim.Connect();
    ExpectReplyTo(sim.Exchange(Request(3, 0xBFC20000, 0, 0)), 3, 0xBFC20000, 0, 0, 16);
    const Bytes zeros(4096, 0);
    const Bytes frame = CompressedFrame(Request(2, 0xBFC20000, 4096, 1, zeros));
    ASSERT_TRUE(frame[1] & 0x80);
    ASSERT_LT(frame.size(), 200u);
    ExpectReplyTo(sim.Exchange(frame), 2, 0xBFC20000, 4096, 1, 16);
    Reply sum = sim.Exchange(Request(6, 0xBFC20000, 4096, 2));
    EXPECT_EQ(Le16(sum.payload()), BitCrc(zeros));

    auto report = sim.Stop();
    EXPECT_EQ(report["requests_compressed"], "1");
    EXPECT_EQ(report["protocol_errors"], "0");
    const Bytes dump = sim.Dump();
    EXPECT_EQ(Bytes(dump.begin() + 0x20000, dump.begin() + 0x21000), zeros);
}

TEST(PanelsimPty, WriteWithoutEraseIsAViolationAndAndsLikeNorFlash) {
    PanelsimProcess sim({});
    sim.Connect();
    ExpectReplyTo(sim.Exchange(Request(2, 0xBFC30000, 1, 0, {0xF0})), 2, 0xBFC30000, 1, 0, 16);
    ExpectReplyTo(sim.Exchange(Request(2, 0xBFC30000, 1, 1, {0x0F})), 2, 0xBFC30000, 1, 1, 16);
    auto report = sim.Stop();
    EXPECT_EQ(report["violations"], "2");
    EXPECT_EQ(report["violation_sectors"], "0xBFC30000");
    EXPECT_EQ(report["conflict_bytes"], "1");
    EXPECT_EQ(sim.Dump()[0x30000], 0x00);
}

TEST(PanelsimPty, SecondEraseInOneConnectionIsCountedAsRepeat) {
    PanelsimProcess sim({});
    sim.Connect();
    sim.Exchange(Request(3, kImageArea, 0, 0));
    sim.Exchange(Request(3, kImageArea, 0, 1));
    sim.Connect(B57600);   // a new connection starts a fresh count
    sim.Exchange(Request(3, kImageArea, 0, 0));
    auto report = sim.Stop();
    EXPECT_EQ(report["erases"], "3");
    EXPECT_EQ(report["erase_repeats"], "1");
    EXPECT_EQ(report["rates_sync"], "115200,57600");
}

struct ErrorCase {
    const char* name;
    Bytes frame;
    std::uint16_t code;
    const char* counter;   // report counter that must read 1
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class PanelsimErrorReply : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PanelsimErrorReply, RefusesWithTheCode) {
    const ErrorCase& c = GetParam();
    PanelsimProcess sim({});
    sim.Connect();
    Reply r = sim.Exchange(c.frame);
    ASSERT_EQ(r.packet.size(), 22u);
    EXPECT_EQ(r.total(), 22);
    EXPECT_EQ(r.command(), 10);
    EXPECT_EQ(r.status(), 0);
    EXPECT_TRUE(r.crcOk());
    EXPECT_EQ(Le16(r.payload()), c.code);
    EXPECT_EQ(r.seq(), 6) << "the request's sequence number + 1";
    auto report = sim.Stop();
    EXPECT_EQ(report["error_replies"], "1");
    EXPECT_EQ(report[c.counter], "1") << c.counter;
}

Bytes WithBadCrc(Bytes frame) {
    frame.back() ^= 0x40;
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PanelsimErrorReply,
    ::testing::Values(
        ErrorCase{"ReadOutsideMemory", Request(1, 0x00000010, 4, 5), 0x29, "invalid_address"},
        ErrorCase{"ReadPastFlashEnd", Request(1, 0xBFFFFFF0, 32, 5), 0x29, "invalid_address"},
        ErrorCase{"ChecksumOutsideMemory", Request(6, 0x10000000, 0x100, 5), 0x29, "invalid_address"},
        ErrorCase{"WriteOutsideFlash", Request(2, 0x03FFFFEC, 4, 5, {1, 2, 3, 4}), 0x29, "invalid_address"},
        ErrorCase{"EraseInsideASector", Request(3, kImageArea + 4, 0, 5), 0x29, "invalid_address"},
        ErrorCase{"EraseTheLoader", Request(3, 0xBFC00000, 0, 5), 0x29, "loader_violations"},
        ErrorCase{"WriteIntoTheLoader", Request(2, kBlockAddress, 1, 5, {0}), 0x29, "loader_violations"},
        ErrorCase{"BadRequestChecksum", WithBadCrc(Request(1, kImageArea, 4, 5)), 0x24, "bad_crc"},
        ErrorCase{"UnknownCommand", Request(7, kImageArea, 4, 5), 0x22, "malformed"},
        ErrorCase{"ReadOfNothing", Request(1, kImageArea, 0, 5), 0x22, "malformed"},
        ErrorCase{"ReadOfMoreThanAPacket", Request(1, kImageArea, 4097, 5), 0x22, "malformed"},
        ErrorCase{"WriteLengthNotThePayload", Request(2, kImageArea, 8, 5, {1, 2, 3, 4}), 0x22, "malformed"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    const char* option;
    std::function<void(PanelsimProcess&)> check;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name << " (" << c.option << ")"; }

class PanelsimFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(PanelsimFault, IsInjected) {
    std::vector<std::string> args;
    std::istringstream options(GetParam().option);
    for (std::string option; options >> option;) {
        args.push_back("--fault");
        args.push_back(option);
    }
    PanelsimProcess sim(args);
    sim.Connect();
    GetParam().check(sim);
}

const Bytes kPointerRead = Request(1, 0x03FFFFEC, 4, 0);

INSTANTIATE_TEST_SUITE_P(
    Faults, PanelsimFault,
    ::testing::Values(
        FaultCase{"OwnSequenceNumber", "seq@1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(Request(1, 0x03FFFFEC, 4, 9));
                      EXPECT_EQ(r.seq(), 9);
                      EXPECT_TRUE(r.crcOk());
                  }},
        FaultCase{"ErrorCode", "error=0x33@1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(kPointerRead);
                      EXPECT_EQ(r.command(), 10);
                      EXPECT_EQ(Le16(r.payload()), 0x33);
                      EXPECT_TRUE(r.crcOk());
                  }},
        FaultCase{"ErrorReplyWithBadChecksum", "error@1 crc@1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(kPointerRead);
                      EXPECT_EQ(r.command(), 10);
                      EXPECT_EQ(Le16(r.payload()), 0x29);
                      EXPECT_FALSE(r.crcOk());
                  }},
        FaultCase{"WrongPacketChecksum", "crc@1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(kPointerRead);
                      EXPECT_EQ(r.command(), 1);
                      EXPECT_FALSE(r.crcOk());
                  }},
        FaultCase{"CorruptedFrame", "corrupt@1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(kPointerRead);
                      EXPECT_EQ(r.wire.size(), 20u);
                      EXPECT_FALSE(r.crcOk());
                  }},
        FaultCase{"WrongChecksumValue", "sum@checksum:1",
                  [](PanelsimProcess& sim) {
                      Reply r = sim.Exchange(Request(6, 0xBFC20000, 16, 0));
                      EXPECT_TRUE(r.crcOk());
                      EXPECT_NE(Le16(r.payload()), BitCrc(Bytes(16, 0xFF)));
                  }},
        FaultCase{"NthRequestOfACommand", "error@read:2",
                  [](PanelsimProcess& sim) {
                      EXPECT_EQ(sim.Exchange(Request(6, 0xBFC20000, 16, 0)).command(), 6);
                      EXPECT_EQ(sim.Exchange(Request(1, 0xBFC20000, 16, 1)).command(), 1);
                      EXPECT_EQ(sim.Exchange(Request(1, 0xBFC20000, 16, 2)).command(), 10);
                  }},
        FaultCase{"DroppedReply", "drop@1",
                  [](PanelsimProcess& sim) {
                      sim.Send(kPointerRead);
                      Reply r = sim.Exchange(Request(1, 0x03FFFFEC, 4, 1));
                      EXPECT_EQ(r.seq(), 2) << "the first reply on the line is the second one";
                      EXPECT_EQ(sim.Stop()["faults_injected"], "1");
                  }},
        FaultCase{"ReplyCutShort", "short@1",
                  [](PanelsimProcess& sim) {
                      sim.Send(kPointerRead);
                      EXPECT_EQ(sim.Receive(10).size(), 10u);
                      EXPECT_EQ(sim.Stop()["line_bytes_out"], "17") << "6 + 1 for handshake and sync, 10 of 20";
                  }},
        FaultCase{"FallsSilent", "silent@2",
                  [](PanelsimProcess& sim) {
                      EXPECT_EQ(sim.Exchange(kPointerRead).seq(), 1);
                      sim.Send(Request(1, 0x03FFFFEC, 4, 1));
                      sim.Send(Request(1, 0x03FFFFEC, 4, 2));
                      ASSERT_TRUE(sim.WaitForTrace("n=3 "));
                      auto report = sim.Stop();
                      EXPECT_EQ(report["replies"], "1");
                      EXPECT_EQ(report["ignored_requests"], "2");
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelsimPty, SeveralFaultOptionsCombine) {
    PanelsimProcess sim({"--fault", "error=0x41@1", "--fault", "crc@1"});
    sim.Connect();
    Reply r = sim.Exchange(kPointerRead);
    EXPECT_EQ(Le16(r.payload()), 0x41);
    EXPECT_FALSE(r.crcOk());
}

TEST(PanelsimPty, HandshakePatternRebootsThePanel) {
    PanelsimProcess sim({});
    sim.Connect();
    sim.Exchange(kPointerRead);
    sim.ClosePort();
    sim.Connect(B57600);   // handshake at 9600 while the panel is in the packet protocol
    Reply r = sim.Exchange(kPointerRead);
    ExpectReplyTo(r, 1, 0x03FFFFEC, 4, 0, 20);
    auto report = sim.Stop();
    EXPECT_EQ(report["reboots"], "1");
    EXPECT_EQ(report["handshakes"], "2");
    EXPECT_EQ(report["connections"], "2");
    EXPECT_EQ(report["sequence_breaks"], "0");
    EXPECT_EQ(report["rates_packets"], "115200,57600");
}

TEST(PanelsimPty, SequenceGapsAreReported) {
    PanelsimProcess sim({});
    sim.Connect();
    sim.Exchange(Request(1, 0x03FFFFEC, 4, 3));   // a connection starts at 0
    sim.Exchange(Request(1, 0x03FFFFEC, 4, 4));
    EXPECT_EQ(sim.Stop()["sequence_breaks"], "1");
}

TEST(PanelsimPty, BootloaderThatNeverBootsIgnoresTheHandshake) {
    PanelsimProcess sim({"--boot-delay", "never"});
    sim.OpenPort(B9600);
    sim.Send({0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0x55, 0, 0, 0, 0});
    ASSERT_TRUE(sim.WaitForTrace("event=ignored"));
    auto report = sim.Stop();
    EXPECT_EQ(report["handshakes"], "0");
    EXPECT_EQ(report["line_bytes_out"], "0");
}

TEST(PanelsimPty, SyncAnswersAfterTwelveZeros) {
    PanelsimProcess sim({"--sync-after", "12"});
    sim.OpenPort(B9600);
    sim.Send({0xAA});
    ASSERT_EQ(sim.Receive(6).size(), 6u);
    sim.OpenPort(B38400);
    for (int attempt = 0; attempt < 3; ++attempt) sim.Send({0, 0, 0, 0});
    EXPECT_EQ(sim.Receive(1), Bytes{0xAA});
    EXPECT_TRUE(sim.WaitForTrace("event=sync zeros=12 rate=38400"));
}

TEST(PanelsimPty, OtherSyncAnswerKeepsThePanelWaiting) {
    PanelsimProcess sim({"--sync-answer", "55", "--booted"});
    sim.OpenPort(B19200);
    sim.Send({0, 0, 0, 0});
    EXPECT_EQ(sim.Receive(1), Bytes{0x55});
    sim.Send({0, 0, 0, 0});
    EXPECT_EQ(sim.Receive(1), Bytes{0x55});
    auto report = sim.Stop();
    EXPECT_EQ(report["sync_answers"], "2");
    EXPECT_EQ(report["connections"], "0");
}

TEST(PanelsimPty, CustomHandshakeAnswer) {
    PanelsimProcess sim({"--boot-answer", "AAFFAAFFAAFFAA"});
    sim.OpenPort(B9600);
    sim.Send({0xAA});
    EXPECT_EQ(sim.Receive(7), (Bytes{0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF, 0xAA}));
}

TEST(PanelsimPty, NeverCompressingAndAlwaysCompressing) {
    {
        PanelsimProcess sim({"--compress", "never"});
        sim.Connect();
        Reply r = sim.Exchange(Request(1, kBlockAddress, 128, 0));
        EXPECT_FALSE(r.compressed);
        EXPECT_EQ(r.wire.size(), 144u);
    }
    {
        PanelsimProcess sim({"--compress", "always"});
        sim.Connect();
        Reply r = sim.Exchange(kPointerRead);   // 20 bytes: stored in a block, 30 on the line
        EXPECT_TRUE(r.compressed);
        EXPECT_EQ(r.wire.size(), 30u);
        ExpectReplyTo(r, 1, 0x03FFFFEC, 4, 0, 20);
    }
}

TEST(PanelsimPty, OnceEndsAfterThePacketSession) {
    PanelsimProcess sim({"--once"});
    sim.Connect();                  // the handshake session alone does not end it
    sim.Exchange(kPointerRead);
    sim.ClosePort();
    ASSERT_TRUE(sim.WaitForExit());
    EXPECT_EQ(WEXITSTATUS(sim.ExitStatus()), 0);
    EXPECT_EQ(sim.Report()["requests"], "1");
}

TEST(PanelsimPty, OnceEndsWhenThePcDoesNotComeBack) {
    PanelsimProcess sim({"--once", "--once-grace", "50"});
    sim.OpenPort(B9600);
    sim.Send({0xAA});
    ASSERT_EQ(sim.Receive(6).size(), 6u);
    sim.ClosePort();
    ASSERT_TRUE(sim.WaitForExit());
    EXPECT_EQ(sim.Report()["handshakes"], "1");
}

TEST(PanelsimPty, ThrottlePacesAtThePcsRate) {
    PanelsimProcess sim({"--throttle", "--compress", "never"});
    sim.Connect(B230400);
    const auto start = std::chrono::steady_clock::now();
    Reply r = sim.Exchange(Request(1, kImageArea, 4096, 0));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ExpectReplyTo(r, 1, kImageArea, 4096, 0, 4112);
    // 16 + 4112 bytes of 10 bits at 230400 bit/s: the line cannot be faster.
    EXPECT_GE(seconds, (16 + 4112) * 10.0 / 230400 * 0.95);
    EXPECT_EQ(sim.Stop()["rates_packets"], "230400");
}

TEST(PanelsimPty, FamilyTenPanelFromAFile) {
    std::string cfg;
    {
        PanelsimProcess probe({});
        cfg = probe.FileInDir("kv10.cfg");
        std::ofstream(cfg) << "# a panel of type 0x10, loader at the top of the 64 MiB window\n"
                              "hardware_type = 0x0114\nflash_start = 0x03E00000\n"
                              "bank0 = 31 x 64\nbank1 = 8 x 8\nloader_kb = 64\n"
                              "version = 0xFFFF\ndate = 0xFFFFFFFF\ndate_text = 24.12.99\n"
                              "block_address = 0x03FFFF00\n";
        PanelsimProcess sim({"--config", cfg});
        sim.Connect();
        EXPECT_EQ(Le32(sim.Exchange(Request(1, 0x03FFFFEC, 4, 0)).payload()), 0x03FFFF00u);
        Reply text = sim.Exchange(Request(1, 0x03FFFFF8, 8, 1));
        EXPECT_EQ(std::string(text.payload(), text.payload() + 8), "24.12.99");
        Reply block = sim.Exchange(Request(1, 0x03FFFF00, 128, 2));
        EXPECT_EQ(Le16(block.payload() + 0x10), 0x0114);
        EXPECT_EQ(Le16(block.payload() + 0x16), 0xFFFF);
        EXPECT_EQ(Le32(block.payload() + 0x18), 0xFFFFFFFFu);
        EXPECT_EQ(Le16(block.payload() + 0x04), 2048);
        EXPECT_EQ(sim.Exchange(Request(3, 0x03FF0000, 0, 3)).command(), 10) << "loader sector";
        EXPECT_EQ(sim.Exchange(Request(3, 0x03E00000, 0, 4)).command(), 3) << "image area start";
        auto report = sim.Stop();
        EXPECT_EQ(report["loader_violations"], "1");
        EXPECT_EQ(sim.Dump().size(), 2u * 1024 * 1024);
    }
}

// A document as the import leaves it: one Windows CE image (data part 0x1,
// header part 0x20000000), not yet placed.
Bytes MakeDocument(const Bytes& image) {
    Bytes header;
    Add32(header, 0x19101998);
    Add16(header, 1);
    Add32(header, 0x80001000);              // StartAddress
    Add32(header, 0);                       // StorageAddress: not placed
    Add32(header, static_cast<std::uint32_t>(image.size()));
    Add32(header, static_cast<std::uint32_t>(image.size()));
    Add16(header, BitCrc(image));
    Add16(header, BitCrc(image));
    Add16(header, 4);
    Add16(header, 20);
    Add32(header, 0x01020304);
    Add32(header, 0x01000000);
    Add32(header, 0);
    Add16(header, 0);
    Add32(header, 0xFFFFFFFF);              // NextHeaderAddress
    Add32(header, 0x200000);                // ImageAreaSize
    Add32(header, 1);                       // ImageType
    Add16(header, 0x40);
    header.insert(header.end(), 6, 0xFF);

    struct Part {
        std::uint32_t id;
        const Bytes* data;
    } parts[] = {{0x1, &image}, {0x20000000, &header}};
    Bytes file, records;
    for (const Part& p : parts) {
        const std::uint32_t offset = static_cast<std::uint32_t>(file.size());
        std::uint16_t packedCrc = 0xFFFF;
        for (std::size_t at = 0; at < p.data->size(); at += 16384) {
            const std::size_t n = std::min<std::size_t>(16384, p.data->size() - at);
            Bytes block(n + 8);
            tarnwick::CodecContext ctx;
            ctx.dataLength = static_cast<std::uint32_t>(n);
            tarnwick::EncodeBlock(block.data(), p.data->data() + at, ctx);
            packedCrc = BitCrc(block.data(), ctx.blockLength, packedCrc);
            file.insert(file.end(), block.begin(), block.begin() + ctx.blockLength);
        }
        Add32(records, p.id);
        Add32(records, offset);
        Add32(records, static_cast<std::uint32_t>(p.data->size()));
        Add32(records, 0);
        Add16(records, BitCrc(*p.data));
        Add32(records, static_cast<std::uint32_t>(file.size()) - offset);
        Add16(records, packedCrc);
        records.insert(records.end(), 18, 0);
    }
    const std::uint32_t table = static_cast<std::uint32_t>(file.size());
    file.insert(file.end(), records.begin(), records.end());
    Bytes trailer;
    Add16(trailer, 2);
    Add32(trailer, table);
    for (std::uint32_t v : {0x01020304u, 0x01000000u, 4u, 20u, 0x40u, 0u, 0u, 0x200000u, 0u}) Add32(trailer, v);
    trailer.insert(trailer.end(), 18, 0);
    Add32(trailer, 0x03031998);
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

TEST(PanelsimPty, PreloadedDocumentFormsTheImageDirectory) {
    const Bytes image = Pattern(40000, 3);
    PanelsimProcess probe({});
    const std::string path = probe.FileInDir("image.img");
    const Bytes doc = MakeDocument(image);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(doc.data()),
                                                static_cast<std::streamsize>(doc.size()));

    PanelsimProcess sim({"--preload", path});
    sim.Connect();
    Reply header = sim.Exchange(Request(1, kImageArea, 64, 0));
    ASSERT_EQ(header.packet.size(), 80u);
    const std::uint8_t* h = header.payload();
    EXPECT_EQ(Le32(h), 0x19101998u);
    EXPECT_EQ(Le32(h + 0x0A), kImageArea + 64) << "StorageAddress";
    EXPECT_EQ(Le32(h + 0x2C), 0u) << "NextHeaderAddress";
    EXPECT_EQ(Le32(h + 0x12), 40000u);
    Reply sum = sim.Exchange(Request(6, Le32(h + 0x0A), Le32(h + 0x12), 1));
    EXPECT_EQ(Le16(sum.payload()), Le16(h + 0x18)) << "the panel's checksum matches StoredCrc";
    sim.Stop();
    const Bytes dump = sim.Dump();
    EXPECT_EQ(Bytes(dump.begin() + 0x10040, dump.begin() + 0x10040 + 40000), image);
}

TEST(PanelsimPty, LoadPutsRawBytesIntoTheFlash) {
    PanelsimProcess probe({});
    const std::string path = probe.FileInDir("raw.bin");
    std::ofstream(path, std::ios::binary) << "hello";
    PanelsimProcess sim({"--load", "0xBFC20010:" + path});
    sim.Connect();
    Reply r = sim.Exchange(Request(1, 0xBFC20010, 5, 0));
    EXPECT_EQ(std::string(r.payload(), r.payload() + 5), "hello");
}

int RunPanelsim(const std::string& args, std::string* output = nullptr) {
    const std::string command = std::string(PANELSIM_PATH) + " " + args + " 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string text;
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    const int status = ::pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PanelsimCommandLine, HelpNamesEveryOption) {
    std::string help;
    ASSERT_EQ(RunPanelsim("--help", &help), 0);
    for (const char* option : {"--config", "--print-config", "--preload", "--load", "--boot-delay", "--booted",
                               "--boot-answer", "--sync-after", "--sync-answer", "--compress", "--erase-time",
                               "--frame-timeout", "--throttle", "--fault", "--once", "--once-grace", "--report",
                               "--dump", "--trace", "--verbose", "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(PanelsimCommandLine, BadUsageEndsWithStatusTwo) {
    for (const char* args : {"--bogus", "--fault nonsense@1", "--fault drop", "--compress sometimes",
                             "--boot-delay soon", "--config /nonexistent/panel.cfg", "stray"})
        EXPECT_EQ(RunPanelsim(args), 2) << args;
}

TEST(PanelsimCommandLine, PrintConfigShowsTheBuiltInPanel) {
    std::string text;
    ASSERT_EQ(RunPanelsim("--print-config", &text), 0);
    EXPECT_NE(text.find("hardware_type = 0x0040"), std::string::npos);
    EXPECT_NE(text.find("bank1 = 63 x 64"), std::string::npos);
}

}  // namespace
}  // namespace panelsim::testing
