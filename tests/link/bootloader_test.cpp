#include <gtest/gtest.h>

#include "link_fixture.h"

namespace tarnwick::testing {
namespace {

class BootloaderTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        port().Configure(0, 115200, kLinkQueueSize);
        ASSERT_EQ(port().Open(), 0);
        link().ResetSequence();
    }
    static BootLink& link() { return TheLink(); }

    // Answers every request with the handler's bytes.
    PacketScript& Serve(PacketScript::Handler handler) {
        script = std::make_unique<PacketScript>(std::move(handler));
        peer.script = [this](PtyPeer& p) { (*script)(p); };
        return *script;
    }
    PacketScript& ServeMemory() {
        return Serve([this](const Request& r) { return memory.Answer(r); });
    }

    std::unique_ptr<PacketScript> script;
    PanelMemory memory;
};

TEST_F(BootloaderTest, ReadMemoryCutsFiveThousandBytesIntoTwoConsecutiveRequests) {
    Bytes data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    memory.Set(0x80010000, data);
    auto& served = ServeMemory();
    link().ResetSequence();
    for (int i = 0; i < 5; ++i) link().ResetSequence();  // stays 0

    Bytes out(5000);
    ASSERT_EQ(link().ReadMemory(0x80010000, 5000, out.data()), 0);
    EXPECT_EQ(out, data);
    ASSERT_EQ(served.requests.size(), 2u);
    EXPECT_EQ(served.requests[0].length, 4096u);
    EXPECT_EQ(served.requests[0].address, 0x80010000u);
    EXPECT_EQ(served.requests[0].sequence, 0);
    EXPECT_EQ(served.requests[1].length, 904u);
    EXPECT_EQ(served.requests[1].address, 0x80011000u);
    EXPECT_EQ(served.requests[1].sequence, 1);
    for (const auto& r : served.requests) {
        EXPECT_EQ(r.command, 1);
        EXPECT_EQ(r.total, 16);
        EXPECT_FALSE(r.compressed);  // a request without payload never compresses
        EXPECT_TRUE(r.crcGood);
    }
    EXPECT_EQ(link().Sequence(), 2);
}

TEST_F(BootloaderTest, ARequestLooksOnTheLineAsTheFormatSays) {
    ServeMemory();
    link().ResetSequence();
    std::uint16_t crc = 0;
    ASSERT_EQ(link().MemoryChecksum(0x01020304, 0x10, &crc), 0);
    Bytes expected = {0x10, 0x00, 0x06, 0x00, 0x04, 0x03, 0x02, 0x01,
                      0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const std::uint16_t sum = Crc16(expected.data(), 14, kCrcInit);
    expected[14] = static_cast<std::uint8_t>(sum);
    expected[15] = static_cast<std::uint8_t>(sum >> 8);
    EXPECT_EQ(peer.received, expected);
    const Bytes ff(16, 0xFF);
    EXPECT_EQ(crc, Crc16(ff.data(), ff.size(), kCrcInit));
}

TEST_F(BootloaderTest, ReadMemoryAtAddressZeroDoesNotCompareTheAddress) {
    Serve([](const Request& r) {
        return Packet(1, 0x12345678, r.length, static_cast<std::uint16_t>(r.sequence + 1), Bytes(r.length, 0x5A));
    });
    Bytes out(8);
    EXPECT_EQ(link().ReadMemory(0, 8, out.data()), 0);
    EXPECT_EQ(out, Bytes(8, 0x5A));
    ClearErrors();
    EXPECT_EQ(link().ReadMemory(0x100, 8, out.data()), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x23, 0x22}, {0x1F, 0x52}}));
}

struct BadReplyCase {
    const char* name;
    std::function<Bytes(const Request&)> reply;
    ErrorList errors;
    const char* message;
};

TEST_F(BootloaderTest, BadRepliesToAReadAreExaminedAndShownWithTheInnermostText) {
    const auto seq1 = [](const Request& r) { return static_cast<std::uint16_t>(r.sequence + 1); };
    const auto errorReply = [](const Request& r, std::uint16_t code, bool goodCrc) {
        Bytes p = Packet(10, r.address, r.length, r.sequence,
                         {static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8), 0, 0, 0, 0});
        if (!goodCrc) p[20] ^= 0x01;
        return p;
    };
    const BadReplyCase cases[] = {
        {"own sequence number",
         [](const Request& r) { return Packet(1, r.address, r.length, r.sequence, Bytes(r.length, 0)); },
         {{0x23, 0x22}, {0x1F, 0x52}}, "Protokollfehler"},
        {"error reply 0x29", [&](const Request& r) { return errorReply(r, 0x29, true); },
         {{0x23, 0x29}, {0x1F, 0x52}}, "Zugriff auf eine im Gerät ungültige Adresse"},
        {"error reply with a wrong checksum", [&](const Request& r) { return errorReply(r, 0x29, false); },
         {{0x23, 0x23}, {0x1F, 0x52}}, "Protokollfehler"},
        {"compressed error reply", [&](const Request& r) { return CompressedFrame(errorReply(r, 0x3F, true)); },
         {{0x23, 0x3F}, {0x1F, 0x52}}, "Unbekanntes Bediengerät"},
        {"error reply with a code without text", [&](const Request& r) { return errorReply(r, 0x77, true); },
         {{0x23, 0x77}, {0x1F, 0x52}}, "Es ist ein Fehler aufgetreten \nCode: 0x77 Funktion: 0x23 "},
        {"wrong command",
         [&](const Request& r) { return Packet(2, r.address, r.length, seq1(r), Bytes(r.length, 0)); },
         {{0x23, 0x22}, {0x1F, 0x52}}, "Protokollfehler"},
        {"wrong length",
         [&](const Request& r) { return Packet(1, r.address, r.length - 1, seq1(r), Bytes(r.length - 1, 0)); },
         {{0x23, 0x22}, {0x1F, 0x52}}, "Protokollfehler"},
        {"damaged payload",
         [&](const Request& r) {
             Bytes p = Packet(1, r.address, r.length, seq1(r), Bytes(r.length, 0));
             p[15] ^= 0x40;
             return p;
         },
         {{0x23, 0x22}, {0x1F, 0x24}}, "Protokollfehler"},
        {"compressed frame that does not decode",
         [&](const Request& r) {
             Bytes f = CompressedFrame(Packet(1, r.address, r.length, seq1(r), Bytes(r.length, 0)));
             f[f.size() - 1] ^= 0xFF;
             return f;
         },
         {{0x29, 0x60}, {0x1F, 0x53}}, "Es ist ein Fehler aufgetreten \nCode: 0x60 Funktion: 0x29 "},
        {"reply cut short",
         [&](const Request& r) {
             Bytes p = Packet(1, r.address, r.length, seq1(r), Bytes(r.length, 0));
             p.resize(p.size() - 1);
             return p;
         },
         {{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}}, "Zeitüberwachungsfehler beim Empfang der Daten"},
        {"no reply at all", [](const Request&) { return Bytes(); },
         {{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}}, "Zeitüberwachungsfehler beim Empfang der Daten"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearErrors();
        ASSERT_EQ(port().Close(), 0);
        ASSERT_EQ(port().Open(), 0);
        Serve(c.reply);
        Bytes out(64);
        EXPECT_EQ(link().ReadMemory(0x80000000, 64, out.data()), 1);
        EXPECT_EQ(Errors(), c.errors);
        EXPECT_EQ(ShownMessage(), c.message);
    }
}

TEST_F(BootloaderTest, NoReplyWaitsTheReadTimeOutPlusTheCommandsAllowance) {
    struct Case {
        std::function<int()> call;
        std::uint32_t ticks;
        std::uint32_t function;
    };
    std::uint16_t crc;
    std::uint8_t byte = 0;
    const Case cases[] = {
        {[&] { return link().ReadMemory(0x1000, 1, &byte); }, 84 + 90, 0x1F},
        {[&] { return link().WriteMemory(0x1000, 1, &byte); }, 84 + 180, 0x1E},
        {[&] { return link().EraseSector(0x1000); }, 84 + 270, 0x20},
        {[&] { return link().MemoryChecksum(0x1000, 1, &crc); }, 84 + 270, 0x24},
    };
    for (const auto& c : cases) {
        ClearErrors();
        const std::uint32_t start = port().Now();
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(port().Elapsed(start), c.ticks);
        EXPECT_EQ(Errors(), (ErrorList{{0x19, 0x27}, {0x29, 0x53}, {c.function, 0x53}}));
    }
}

TEST_F(BootloaderTest, AnAllZeroWriteGoesOnTheLineCompressedAndEitherReplyFormIsTaken) {
    for (bool compressedReply : {false, true}) {
        SCOPED_TRACE(compressedReply);
        auto& served = Serve([&](const Request& r) {
            Bytes reply = memory.Answer(r);
            return compressedReply ? CompressedFrame(reply) : reply;
        });
        memory.AddSectors(0x80000000, 1, 0x10000);
        memory.erased.assign(memory.erased.size(), true);
        const Bytes zeros(4096, 0);
        const std::size_t before = peer.received.size();
        ASSERT_EQ(link().WriteMemory(0x80000000, 4096, zeros.data()), 0);
        ASSERT_EQ(served.requests.size(), 1u);
        const Request& r = served.requests[0];
        EXPECT_TRUE(r.compressed);
        EXPECT_EQ(peer.received[before + 1] & 0x80, 0x80);
        EXPECT_LT(r.frameLength, 200);
        EXPECT_EQ(r.total, 4096 + 16);
        EXPECT_TRUE(r.crcGood);
        EXPECT_EQ(r.payload, zeros);
        EXPECT_EQ(memory.Get(0x80000000, 4096), zeros);
        EXPECT_TRUE(Errors().empty());
    }
}

TEST_F(BootloaderTest, ACompressedReadReplyIsDecoded) {
    memory.Set(0x2000, Bytes(3000, 0x00));
    Serve([&](const Request& r) { return CompressedFrame(memory.Answer(r)); });
    Bytes out(3000, 0xEE);
    ASSERT_EQ(link().ReadMemory(0x2000, 3000, out.data()), 0);
    EXPECT_EQ(out, Bytes(3000, 0x00));
}

TEST_F(BootloaderTest, EraseAndChecksumCarryTheirFields) {
    auto& served = ServeMemory();
    memory.AddSectors(0x10000, 2, 0x8000);
    memory.Set(0x10000, {1, 2, 3});
    memory.Set(0x18000, {4, 5, 6});
    ASSERT_EQ(link().EraseSector(0x10000), 0);
    EXPECT_EQ(memory.At(0x10000), 0xFF);
    EXPECT_EQ(memory.At(0x18000), 4);
    std::uint16_t crc = 0;
    ASSERT_EQ(link().MemoryChecksum(0x18000, 3, &crc), 0);
    const Bytes expected = {4, 5, 6};
    EXPECT_EQ(crc, Crc16(expected.data(), 3, kCrcInit));
    ASSERT_EQ(served.requests.size(), 2u);
    EXPECT_EQ(served.requests[0].command, 3);
    EXPECT_EQ(served.requests[0].address, 0x10000u);
    EXPECT_EQ(served.requests[0].length, 0u);
    EXPECT_EQ(served.requests[1].command, 6);
    EXPECT_EQ(served.requests[1].length, 3u);
    EXPECT_EQ(served.requests[1].sequence, served.requests[0].sequence + 1);
}

// The handshake peer: after `after` bytes it sends `answer` once.
struct BootPeer {
    std::size_t after;
    Bytes answer;
    bool sent = false;
};

class WaitForBootTest : public BootloaderTest {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_EQ(link().OpenLink(0, 9600), 0);
    }
    void AnswerAfter(std::size_t after, Bytes answer) {
        boot = BootPeer{after, std::move(answer)};
        peer.script = [this](PtyPeer& p) {
            p.consumed = p.received.size();
            if (!boot.sent && p.received.size() >= boot.after) {
                boot.sent = true;
                p.Send(boot.answer);
            }
        };
    }
    BootPeer boot;
    RecordingProgress progress;
};

TEST_F(WaitForBootTest, ThePanelsSixAnswerBytesEndTheHandshake) {
    AnswerAfter(16, {0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF});
    EXPECT_EQ(link().WaitForBoot(&progress), kBootAnswered);
    // Two unanswered passes, each AA FF AA FF AA FF AA 55.
    const Bytes pass = {0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0x55};
    ASSERT_GE(peer.received.size(), 16u);
    EXPECT_EQ(Bytes(peer.received.begin(), peer.received.begin() + 8), pass);
    EXPECT_EQ(Bytes(peer.received.begin() + 8, peer.received.begin() + 16), pass);
    EXPECT_EQ(peer.received.size(), 16u);  // the answer is caught in the last attempt of the pass
    EXPECT_EQ(link().CloseLink(), 0);
}

TEST_F(WaitForBootTest, SevenBytesAreNoAnswerAndTheWaitEndsAfterFiveThousandFourHundredTicks) {
    AnswerAfter(8, {0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF, 0xAA});
    const std::uint32_t start = port().Now();
    EXPECT_EQ(link().WaitForBoot(&progress), kBootNoAnswer);
    EXPECT_GT(port().Elapsed(start), 5400u);
    EXPECT_LT(port().Elapsed(start), 5400u + 30u);
    EXPECT_TRUE(boot.sent);
}

TEST_F(WaitForBootTest, CancelIsSeenBeforeEachPass) {
    progress.cancelled = true;
    EXPECT_EQ(link().WaitForBoot(&progress), kBootCancelled);
    EXPECT_TRUE(peer.received.empty());

    // Cancelled during the first pass: that pass is finished, then it stops.
    progress.cancelled = false;
    peer.script = [this](PtyPeer& p) {
        p.consumed = p.received.size();
        if (p.received.size() >= 8) progress.cancelled = true;
    };
    EXPECT_EQ(link().WaitForBoot(&progress), kBootCancelled);
    EXPECT_EQ(peer.received.size(), 8u);
}

TEST_F(WaitForBootTest, AClosedPortCannotSendTheHandshake) {
    ASSERT_EQ(link().CloseLink(), 0);
    EXPECT_EQ(link().WaitForBoot(&progress), kBootSendFailed);
}

TEST_F(WaitForBootTest, OpenLinkOfAMissingPortAddsItsOwnRecord) {
    ASSERT_EQ(link().CloseLink(), 0);
    port().SetPathResolver([](int) { return std::string("/dev/no-such-tty-here"); });
    EXPECT_EQ(link().OpenLink(2, 9600), 1);
    EXPECT_EQ(port().PortName(), "COM3");
    EXPECT_EQ(Errors(), (ErrorList{{0x47, 0x3E}, {0x2B, 0x5C}}));
}

}  // namespace
}  // namespace tarnwick::testing
