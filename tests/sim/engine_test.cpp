// The simulated bootloader without its pseudo-terminal: the time-dependent
// rules on a virtual clock, and the parsers of its inputs.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "sim/config.h"
#include "sim/engine.h"
#include "sim/image_doc.h"
#include "sim/memory.h"
#include "tests/sim/panelsim_process.h"

namespace panelsim::testing {
namespace {

constexpr std::int64_t kMs = 1000;

class EngineFixture : public ::testing::Test {
protected:
    void Start(EngineOptions options = {}) {
        engine_ = std::make_unique<Engine>(memory_, options, stats_);
    }
    Bytes Feed(const Bytes& bytes, std::int64_t atMs, std::uint32_t rate = 115200) {
        engine_->Receive(bytes.data(), bytes.size(), atMs * kMs, rate);
        Bytes out;
        for (const OutputChunk& c : engine_->TakeOutput()) {
            out.insert(out.end(), c.bytes.begin(), c.bytes.end());
            lastHold_ = c.holdUs;
        }
        return out;
    }
    void ConnectAt(std::int64_t ms) {
        ASSERT_EQ(Feed({0xAA, 0xFF}, ms, 9600).size(), 6u);
        ASSERT_EQ(Feed({0, 0, 0, 0}, ms + 100), Bytes{0xAA});
    }

    PanelConfig config_;
    Memory memory_{config_};
    Stats stats_;
    std::unique_ptr<Engine> engine_;
    std::int64_t lastHold_ = 0;
};

TEST_F(EngineFixture, BootDelayRunsFromThePcsFirstByte) {
    EngineOptions o;
    o.bootDelayUs = 1000 * kMs;
    Start(o);
    EXPECT_TRUE(Feed({0xAA}, 5000).empty());
    EXPECT_TRUE(Feed({0xFF, 0xAA}, 5999).empty());
    EXPECT_EQ(Feed({0xAA}, 6000), (Bytes{0xAA, 0xFF, 0xAA, 0xFF, 0xAA, 0xFF}));
    EXPECT_EQ(stats_.handshakeBytesIgnored, 3u);
    EXPECT_EQ(engine_->CurrentPhase(), Phase::Sync);
}

TEST_F(EngineFixture, NoSynchronisationBeforeTheHandshake) {
    Start();
    EXPECT_TRUE(Feed({0, 0, 0, 0}, 0).empty());
    EXPECT_EQ(engine_->CurrentPhase(), Phase::Boot);
}

TEST_F(EngineFixture, SyncAnswerComesWithTheTwelfthZero) {
    EngineOptions o;
    o.syncAfter = 12;
    Start(o);
    ASSERT_EQ(Feed({0xAA}, 0, 9600).size(), 6u);
    for (int i = 1; i < 12; ++i) ASSERT_TRUE(Feed({0}, 100 + i).empty()) << "zero " << i;
    EXPECT_EQ(Feed({0}, 200), Bytes{0xAA});
    EXPECT_EQ(engine_->CurrentPhase(), Phase::Packets);
    EXPECT_EQ(stats_.ratesHandshake, std::vector<std::uint32_t>{9600});
    EXPECT_EQ(stats_.ratesSync, std::vector<std::uint32_t>{115200});
}

TEST_F(EngineFixture, HandshakeIsAnsweredAgainOnlyForANewPass) {
    Start();
    ASSERT_EQ(Feed({0xAA}, 0, 9600).size(), 6u);
    EXPECT_TRUE(Feed({0xFF, 0xAA, 0xFF, 0xAA}, 2, 9600).empty()) << "rest of the same pass";
    EXPECT_EQ(Feed({0xAA}, 400, 9600).size(), 6u) << "the PC missed the answer and starts over";
    EXPECT_EQ(stats_.handshakes, 2u);
}

TEST_F(EngineFixture, UnfinishedFrameIsDroppedAfterTheFrameTimeout) {
    Start();
    ConnectAt(0);
    const Bytes request = Request(1, 0x03FFFFEC, 4, 0);
    EXPECT_TRUE(Feed(Bytes(request.begin(), request.begin() + 10), 1000).empty());
    const Bytes reply = Feed(request, 3001);
    ASSERT_EQ(reply.size(), 20u);
    EXPECT_EQ(Le16(reply.data() + 12), 1);
    EXPECT_EQ(stats_.partialFrames, 1u);
    EXPECT_EQ(stats_.protocolErrors, 1u);
}

TEST_F(EngineFixture, UnusableLengthWordDiscardsUntilTheLineIsQuiet) {
    Start();
    ConnectAt(0);
    EXPECT_TRUE(Feed({0x05, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 1000).empty());
    EXPECT_EQ(stats_.badLength, 1u);
    EXPECT_EQ(Feed(Request(1, 0x03FFFFEC, 4, 0), 1100).size(), 20u);
}

TEST_F(EngineFixture, DamagedCompressedFrameGetsAnErrorReply) {
    Start();
    ConnectAt(0);
    Bytes frame = CompressedFrame(Request(2, 0xBFC20000, 4096, 0, Bytes(4096, 0)));
    frame[frame.size() - 1] ^= 0x10;
    const Bytes reply = Feed(frame, 1000);
    ASSERT_EQ(reply.size(), 22u);
    EXPECT_EQ(reply[2], 10);
    EXPECT_EQ(Le16(reply.data() + 14), 0x24);
    EXPECT_EQ(stats_.badBlock, 1u);
    EXPECT_EQ(stats_.bytesWritten, 0u);
}

TEST_F(EngineFixture, EraseTimeAndDelayFaultHoldTheReply) {
    EngineOptions o;
    o.eraseTimeUs = 700 * kMs;
    Fault f;
    std::string error;
    ASSERT_TRUE(ParseFault("delay=250@checksum:1", f, error)) << error;
    o.faults.push_back(f);
    Start(o);
    ConnectAt(0);
    ASSERT_EQ(Feed(Request(3, 0xBFC10000, 0, 0), 1000).size(), 16u);
    EXPECT_EQ(lastHold_, 700 * kMs);
    ASSERT_EQ(Feed(Request(6, 0xBFC10000, 4, 1), 2000).size(), 18u);
    EXPECT_EQ(lastHold_, 250 * kMs);
}

TEST_F(EngineFixture, ChecksumOfARangeLargerThanOnePacket) {
    Start();
    ConnectAt(0);
    const Bytes reply = Feed(Request(6, 0xBFC10000, 0x3F0000, 0), 1000);
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(Le16(reply.data() + 14), BitCrc(Bytes(0x3F0000, 0xFF)));
}

struct FaultText {
    const char* text;
    bool ok;
    FaultKind kind;
    std::uint32_t arg;
    int command;
    std::uint32_t nth;
};

TEST(FaultSpec, Parses) {
    const FaultText cases[] = {
        {"drop@3", true, FaultKind::Drop, 0, 0, 3},
        {"error@1", true, FaultKind::Error, 0x29, 0, 1},
        {"error=0x41@write:2", true, FaultKind::Error, 0x41, 2, 2},
        {"delay=1500@erase:1", true, FaultKind::Delay, 1500, 3, 1},
        {"silent@checksum:4", true, FaultKind::Silent, 0, 6, 4},
        {"sum@read:1", true, FaultKind::Sum, 0, 1, 1},
        {"drop", false, {}, 0, 0, 0},
        {"drop@0", false, {}, 0, 0, 0},
        {"drop=1@2", false, {}, 0, 0, 0},
        {"delay@2", false, {}, 0, 0, 0},
        {"explode@1", false, {}, 0, 0, 0},
        {"crc@format:1", false, {}, 0, 0, 0},
        {"error=0x10000@1", false, {}, 0, 0, 0},
    };
    for (const FaultText& c : cases) {
        Fault f;
        std::string error;
        ASSERT_EQ(ParseFault(c.text, f, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.text;
            continue;
        }
        EXPECT_EQ(f.kind, c.kind) << c.text;
        EXPECT_EQ(f.arg, c.arg) << c.text;
        EXPECT_EQ(f.command, c.command) << c.text;
        EXPECT_EQ(f.nth, c.nth) << c.text;
    }
}

TEST(PanelConfigFile, OverridesOnlyWhatItNames) {
    PanelConfig c;
    std::string error;
    ASSERT_TRUE(ParseConfig("# broken block\nhardware_type = 0x0207  # normalised to 0x200\n"
                            "bank0 = 150 x 8\nbank1=150x8\nbank2 = 150 x 8\nbank3 = 0x96 x 0x8\n"
                            "bank_count = 5\nflash_size_kb = 512\nend_marker = 0x00\nprotect_loader = no\n",
                            c, error))
        << error;
    EXPECT_EQ(c.hardwareType, 0x0207);
    ASSERT_EQ(c.banks.size(), 4u);
    EXPECT_EQ(c.banks[3].sectors, 150u);
    EXPECT_FALSE(c.protectLoader);
    EXPECT_EQ(c.version, 105) << "not named, so the built-in value";
    const auto block = BuildHardwareBlock(c);
    EXPECT_EQ(block[0x01], 5);
    EXPECT_EQ(Le16(block.data() + 0x04), 512);
    EXPECT_EQ(block[0x7F], 0x00);
    EXPECT_EQ(Memory(c).Sectors().size(), 600u) << "the flash itself has what the banks say";
}

TEST(PanelConfigFile, RefusesLinesItCannotUse) {
    for (const char* text : {"no equals sign", "colour = blue", "bank4 = 1 x 8", "bank0 = 256 x 8",
                             "bank0 = 8", "flash_start = 0x1234", "date_text = 1.2.3", "version = 0x10000",
                             "protect_loader = maybe"}) {
        PanelConfig c;
        std::string error;
        EXPECT_FALSE(ParseConfig(text, c, error)) << text;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

TEST(PanelConfigFile, PrintedConfigReadsBackTheSame) {
    PanelConfig original;
    original.hardwareType = 0x0010;
    original.date = 0xFFFFFFFF;
    original.dateText = "24.12.99";
    PanelConfig again;
    std::string error;
    ASSERT_TRUE(ParseConfig(FormatConfig(original), again, error)) << error;
    EXPECT_EQ(FormatConfig(again), FormatConfig(original));
}

TEST(PanelLayout, FamiliesPlaceLoaderAndImageArea) {
    PanelConfig fe0;   // built-in, type 0x40, loader 64 KB
    EXPECT_EQ(ImageAreaStart(fe0), 0xBFC10000u);
    EXPECT_EQ(LoaderStart(fe0), 0xBFC00000u);
    PanelConfig ten;
    ten.hardwareType = 0x0114;
    ten.flashStart = 0x01000000;
    EXPECT_EQ(ImageAreaStart(ten), 0x01000000u);
    EXPECT_EQ(LoaderStart(ten), 0x03FF0000u);
    PanelConfig unknown;
    unknown.hardwareType = 0x1000;
    EXPECT_FALSE(ImageAreaStart(unknown).has_value());
    EXPECT_EQ(EffectiveDateText(fe0), "15.03.04");
}

// The document of one 3-byte part "abc" (id 1, address 0), byte for byte.
Bytes GoldenDocument() {
    Bytes f = {0x03, 0x00, 0x03, 0x00, 0xDA, 0x61, 0xDA, 0x61, 0x61, 0x62, 0x63};
    Add32(f, 1);
    Add32(f, 0);
    Add32(f, 3);
    Add32(f, 0);
    Add16(f, 0x61DA);
    Add32(f, 11);
    Add16(f, 0x28A9);
    f.insert(f.end(), 18, 0);
    Add16(f, 1);
    Add32(f, 11);
    for (int i = 0; i < 9; ++i) Add32(f, 0);
    f.insert(f.end(), 18, 0);
    Add32(f, 0x03031998);
    return f;
}

TEST(ImageDocumentReader, ReadsTheSmallestDocument) {
    const Bytes file = GoldenDocument();
    ASSERT_EQ(file.size(), 117u);
    ImageDocument doc;
    std::string error;
    ASSERT_TRUE(ParseImageDocument(file, doc, error)) << error;
    ASSERT_EQ(doc.parts.size(), 1u);
    EXPECT_EQ(doc.parts[0].id, 1u);
    EXPECT_EQ(doc.parts[0].data, (Bytes{'a', 'b', 'c'}));
}

TEST(ImageDocumentReader, RefusesBrokenDocuments) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"trailer", [](Bytes& f) { f.back() = 0; }},
        {"payload", [](Bytes& f) { f[9] = 'x'; }},
        {"record size", [](Bytes& f) { f[11 + 8] = 4; }},
        {"packed checksum", [](Bytes& f) { f[11 + 22] ^= 1; }},
        {"table offset", [](Bytes& f) { f[117 - 64 + 2] = 0x70; }},
        {"too short", [](Bytes& f) { f.erase(f.begin(), f.end() - 10); }},
    };
    for (const Case& c : cases) {
        Bytes file = GoldenDocument();
        c.damage(file);
        ImageDocument doc;
        std::string error;
        EXPECT_FALSE(ParseImageDocument(file, doc, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(ImageDocumentReader, PlacedPartsGoWhereTheySay) {
    ImageDocument doc;
    DocumentPart config;
    config.id = 0x100;
    config.address = 0xBFD00000;
    config.data = {1, 2, 3};
    doc.parts.push_back(config);
    Memory memory{PanelConfig{}};
    std::vector<std::string> log;
    std::string error;
    ASSERT_TRUE(PreloadDocument(doc, memory, log, error)) << error;
    EXPECT_EQ(memory.Flash()[0x100000], 1);
    EXPECT_EQ(memory.Flash()[0x100002], 3);

    doc.parts[0].address = 0x00001000;
    EXPECT_FALSE(PreloadDocument(doc, memory, log, error));
    EXPECT_NE(error.find("does not fit"), std::string::npos);
}

}  // namespace
}  // namespace panelsim::testing

namespace panelsim::testing {
namespace {

TEST(ShippedPanels, AreWholeAndKeepTheirBootloaderInWholeSectors) {
    for (const char* name : {"kv10", "kv40", "kv60", "kv70"}) {
        SCOPED_TRACE(name);
        PanelConfig c;
        std::string error;
        ASSERT_TRUE(LoadConfigFile(std::string(PANELSIM_PANELS_DIR) + "/" + name + ".cfg", c, error)) << error;
        ASSERT_TRUE(ValidateConfig(c, error)) << error;
        const Memory memory(c);
        const std::uint32_t loader = LoaderStart(c).value();
        const std::uint64_t loaderEnd = static_cast<std::uint64_t>(loader) + LoaderSize(c);
        EXPECT_GE(memory.SectorStartingAt(loader), 0);
        EXPECT_TRUE(loaderEnd == memory.FlashEnd() || memory.SectorStartingAt(static_cast<std::uint32_t>(loaderEnd)) >= 0);
        EXPECT_GE(memory.SectorStartingAt(ImageAreaStart(c).value()), 0);
        EXPECT_TRUE(memory.TouchesLoader(c.blockAddress, kBlockSize)) << "the block is part of the bootloader";
        Bytes block(kBlockSize);
        ASSERT_TRUE(memory.Read(c.blockAddress, kBlockSize, block.data()));
        EXPECT_EQ(block[0], 0xA5);
        EXPECT_EQ(Le16(block.data() + 0x04) * 1024u, memory.Flash().size());
        Bytes pointer(4);
        ASSERT_TRUE(memory.Read(kBlockPointerAddress, 4, pointer.data()));
        EXPECT_EQ(Le32(pointer.data()), c.blockAddress);
    }
    PanelConfig builtIn;
    PanelConfig file;
    std::string error;
    ASSERT_TRUE(LoadConfigFile(std::string(PANELSIM_PANELS_DIR) + "/kv40.cfg", file, error));
    file.name = builtIn.name;
    EXPECT_EQ(FormatConfig(file), FormatConfig(builtIn)) << "kv40.cfg writes out the built-in panel";
}

}  // namespace
}  // namespace panelsim::testing
