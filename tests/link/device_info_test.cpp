#include <gtest/gtest.h>

#include "link_fixture.h"

namespace tarnwick::testing {
namespace {

// ---- The hardware information block ----

struct BlockCase {
    const char* name;
    BlockSpec layout;
    ErrorList errors;  // empty: the block is taken
};

BlockSpec LayoutOf(std::uint16_t type) {
    BlockSpec s;
    s.hardwareType = type;
    return s;
}

BlockSpec TwoBanks(std::uint16_t flashKb) {
    BlockSpec s;
    s.banks = 2;
    s.sectorCounts[0] = 8;
    s.sectorKb[0] = 64;
    s.sectorCounts[1] = 16;
    s.sectorKb[1] = 8;
    s.flashKb = flashKb;
    return s;
}

BlockSpec Banks(std::uint8_t banks, std::uint8_t sectorsEach) {
    BlockSpec s;
    s.banks = banks;
    for (int i = 0; i < 4; ++i) {
        s.sectorCounts[i] = sectorsEach;
        s.sectorKb[i] = 1;
    }
    s.flashKb = static_cast<std::uint16_t>(std::min<int>(banks, 4) * sectorsEach);
    return s;
}

class InterpretBlockTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }
    static ErrorList Errors() {
        ErrorList out;
        for (const auto& e : PendingErrors()) out.emplace_back(e.function, e.code);
        return out;
    }
};

TEST_F(InterpretBlockTest, TakesOrRefusesTheBlock) {
    const BlockCase cases[] = {
        {"2 banks, 640 KB", TwoBanks(640), {}},
        {"size field 512 for 640 KB of sectors", TwoBanks(512), {{0x16, 0x28}}},
        {"5 banks", Banks(5, 1), {{0x16, 0x2D}}},
        {"600 sectors", Banks(3, 200), {{0x26, 0x2E}, {0x16, 0x5E}}},
        {"512 sectors", Banks(4, 128), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearErrors();
        DeviceInfo info;
        const Bytes block = HardwareBlock(c.layout);
        EXPECT_EQ(info.InterpretBlock(block.data()), c.errors.empty() ? 0 : 1);
        EXPECT_EQ(Errors(), c.errors);
    }
}

TEST_F(InterpretBlockTest, RefusesABlockWithoutItsMarkers) {
    for (std::size_t at : {std::size_t{0}, std::size_t{0x7F}}) {
        ClearErrors();
        Bytes block = HardwareBlock(BlockSpec{});
        block[at] ^= 0xFF;
        DeviceInfo info;
        EXPECT_EQ(info.InterpretBlock(block.data()), 1);
        EXPECT_EQ(Errors(), (ErrorList{{0x16, 0x2C}}));
    }
    const auto message = FormatError({0x16, 0x2C}, "");
    EXPECT_EQ(message, "Die vom Gerät gelieferten Hardwareinformationen können nicht interpretiert werden");
}

TEST_F(InterpretBlockTest, NormalisesTheHardwareType) {
    const std::pair<std::uint16_t, std::uint16_t> cases[] = {
        {0x0207, 0x0200}, {0x0114, 0x0010}, {0x0325, 0x0020}, {0x0400, 0x0400},
        {0x0981, 0x0980}, {0x0010, 0x0010}, {0x1234, 0x1230},
    };
    for (const auto& [reported, stored] : cases) {
        DeviceInfo info;
        const Bytes block = HardwareBlock(LayoutOf(reported));
        ASSERT_EQ(info.InterpretBlock(block.data()), 0);
        EXPECT_EQ(info.hardwareType, stored) << std::hex << reported;
    }
}

TEST_F(InterpretBlockTest, BuildsTheSectorTablesBankByBank) {
    DeviceInfo info;
    info.sectorErased.fill(true);
    BlockSpec s = TwoBanks(640);
    s.flashStartHigh = 0x0100;
    s.loaderKb = 64;
    s.version = 0x0123;
    s.date = 0x01022005;
    const Bytes block = HardwareBlock(s);
    ASSERT_EQ(info.InterpretBlock(block.data()), 0);
    EXPECT_EQ(info.sectorCount, 24);
    EXPECT_EQ(info.flashStart, 0x01000000u);
    EXPECT_EQ(info.flashSize, 640u * 1024);
    EXPECT_EQ(info.sectorStart[0], 0x01000000u);
    EXPECT_EQ(info.sectorStart[7], 0x01000000u + 7 * 0x10000);
    EXPECT_EQ(info.sectorSize[7], 0x10000u);
    EXPECT_EQ(info.sectorStart[8], 0x01080000u);
    EXPECT_EQ(info.sectorSize[8], 0x2000u);
    EXPECT_EQ(info.sectorStart[23], 0x01080000u + 15 * 0x2000);
    for (unsigned k = 0; k < kMaxSectors; ++k) EXPECT_FALSE(info.sectorErased[k]);
    EXPECT_EQ(info.loaderSize, 64u * 1024);
    EXPECT_EQ(info.bootloaderVersion, 0x0123);
    EXPECT_EQ(info.bootloaderDate, 0x01022005u);
}

// ---- The memory layout ----

struct LayoutCase {
    const char* name;
    std::uint16_t type;
    std::uint32_t flashStart, flashSize, loaderSize, firstAreaSize;
    std::uint32_t imageAreaStart, loaderStart, firstAreaEnd, spaceAfterFirstArea;
};

TEST_F(InterpretBlockTest, MemoryLayoutOfBothFamilies) {
    const LayoutCase cases[] = {
        {"family 0xFE0", 0x0200, 0xBFC00000, 0x800000, 0x40000, 0x300000,
         0xBFC40000, 0xBFC00000, 0xBFF40000, 0x800000 - 0x300000 - 0x40000},
        {"family 0xFE0, no type bit", 0x0000, 0xBFC00000, 0x400000, 0x20000, 0x100000,
         0xBFC20000, 0xBFC00000, 0xBFD20000, 0x400000 - 0x100000 - 0x20000},
        {"family 0x10", 0x0010, 0x01000000, 0x1000000, 0x10000, 0x200000,
         0x01000000, 0x03FF0000, 0x01200000, 0x04000000 - 0x10000 - 0x01200000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearErrors();
        DeviceInfo info;
        info.SetFromVariant(c.type, c.flashStart, c.flashSize, c.loaderSize);
        info.directory[0][0x30] = static_cast<std::uint8_t>(c.firstAreaSize);
        info.directory[0][0x31] = static_cast<std::uint8_t>(c.firstAreaSize >> 8);
        info.directory[0][0x32] = static_cast<std::uint8_t>(c.firstAreaSize >> 16);
        info.directory[0][0x33] = static_cast<std::uint8_t>(c.firstAreaSize >> 24);
        EXPECT_EQ(info.ImageAreaStart(), c.imageAreaStart);
        EXPECT_EQ(info.LoaderStart(), c.loaderStart);
        EXPECT_EQ(info.FirstAreaEnd(), c.firstAreaEnd);
        EXPECT_EQ(info.SpaceAfterFirstArea(), c.spaceAfterFirstArea);
        EXPECT_TRUE(Errors().empty());
    }
}

TEST_F(InterpretBlockTest, APanelWithoutAFamilyHasNoImageArea) {
    DeviceInfo info;
    info.SetFromVariant(0x1000, 0x01000000, 0x400000, 0x10000);
    EXPECT_EQ(PanelFamily(0x1000), 0u);
    EXPECT_EQ(info.ImageAreaStart(), 0u);
    EXPECT_EQ(Errors(), (ErrorList{{0x36, 0x3F}}));
    EXPECT_EQ(FormatError({0x36, 0x3F}, ""), "Unbekanntes Bediengerät");
    EXPECT_EQ(info.LoaderStart(), 0u);
    EXPECT_EQ(info.SpaceAfterFirstArea(), 0u);
}

TEST_F(InterpretBlockTest, RegionSizeVersionAndTypeNames) {
    DeviceInfo info;
    info.SetFromVariant(0x0200, 0xBFC00000, 0x800000, 0x40000);
    EXPECT_EQ(info.ImageRegionSize(0x200), 0x3B0000u);
    EXPECT_EQ(info.ImageRegionSize(0x10), 0u);
    info.SetFromVariant(0x0400, 0xBFC00000, 0x200000, 0x40000);
    EXPECT_EQ(info.ImageRegionSize(0x400), 0x180000u);
    EXPECT_EQ(info.ImageRegionSize(0x60), 0x1F0000u);

    info.hardwareType = 0x10;
    info.bootloaderVersion = 0xFFFF;
    EXPECT_EQ(info.BootloaderVersion(), 100);
    info.hardwareType = 0x200;
    EXPECT_EQ(info.BootloaderVersion(), 0xFFFF);
    info.bootloaderVersion = 123;
    EXPECT_EQ(info.BootloaderVersion(), 123);

    const std::pair<std::uint32_t, const char*> names[] = {
        {0x10, "KV10"}, {0x20, "KV30"}, {0x40, "KV40"}, {0x60, "KV40-KV30"}, {0x80, "KV50"},
        {0x100, "KV20"}, {0x180, "KV20-KV50"}, {0x200, "KV60"}, {0x400, "KV70"}, {0x800, "KV80"},
        {0x980, "KV20-KV50-KV80"}, {0x0, ""}, {0x300, ""},
    };
    for (const auto& [type, name] : names) EXPECT_EQ(PanelTypeName(type), name) << std::hex << type;
}

// ---- Connecting to a panel ----

class ConnectTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        Fresh();
    }
    // A new panel behind the line.
    void Fresh() {
        panelObject = std::make_unique<FakePanel>();
        panelObject->Install(peer);
    }
    int Connect() { return ConnectAndIdentify(0, 115200); }

public:
    // Puts an image with a correct header at header, its data at storage.
    void PutImage(std::uint32_t header, std::uint32_t storage, std::uint32_t next, std::size_t size,
                  std::uint8_t seed, std::uint32_t type = 1) {
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 13);
        panel().memory.Set(storage, data);
        panel().memory.Set(header, HeaderRecord(storage, static_cast<std::uint32_t>(size),
                                              Crc16(data.data(), size, kCrcInit), next, 0x200000, type,
                                              static_cast<std::uint16_t>(seed)));
    }
    std::vector<std::uint32_t> ReadAddresses() {
        std::vector<std::uint32_t> out;
        for (const auto& r : panel().Requests()) {
            if (r.command == 1) out.push_back(r.address);
        }
        return out;
    }

    std::unique_ptr<FakePanel> panelObject;
    FakePanel& panel() { return *panelObject; }

protected:
    using LinkFixture::Errors;
};

constexpr std::uint32_t kAreaFE0 = 0xBFC40000;  // 0xBFC00000 + a 256 KB loader

TEST_F(ConnectTest, AnEmptyPanelIsIdentifiedWithoutValidData) {
    panel().SetBlock(BlockSpec{});
    ASSERT_EQ(Connect(), 1);
    EXPECT_TRUE(port().IsOpen());
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(HardwareType(), 0x200);
    EXPECT_EQ(FlashStart(), 0xBFC00000u);
    EXPECT_EQ(FlashSize(), 4u << 20);
    EXPECT_EQ(LoaderSize(), 256u * 1024);
    EXPECT_EQ(ImageAreaStart(), kAreaFE0);
    EXPECT_FALSE(ValidDataPresent());
    EXPECT_EQ(FirstImageType(), 0u);
    EXPECT_EQ(BootloaderVersion(), 123);
    EXPECT_EQ(BootloaderDate(), 0x24121999u);
    EXPECT_EQ(ReadAddresses(), (std::vector<std::uint32_t>{0x03FFFFEC, 0x80000100, kAreaFE0}));
    EXPECT_EQ(panel().Requests().front().sequence, 0);  // the sequence starts afresh
}

TEST_F(ConnectTest, ReadsTheImageDirectory) {
    panel().SetBlock(BlockSpec{});
    PutImage(kAreaFE0, kAreaFE0 + 64, kAreaFE0 + 0x1000, 3000, 4);
    PutImage(kAreaFE0 + 0x1000, kAreaFE0 + 0x1040, 0, 100, 9, 0x00010000);
    TheDeviceInfo().sectorErased.fill(true);
    ASSERT_EQ(Connect(), 1);
    EXPECT_TRUE(ValidDataPresent());
    EXPECT_EQ(FirstImageCeMajor(), 4);
    EXPECT_EQ(FirstImageType(), 1u);
    EXPECT_EQ(FirstImageChecksum(), Get16(TheDeviceInfo().directory[0].data() + 0x18));
    EXPECT_EQ(Get32(TheDeviceInfo().directory[1].data() + 0x34), 0x00010000u);
    EXPECT_EQ(FirstAreaEnd(), kAreaFE0 + 0x200000);
    for (unsigned k = 0; k < TheDeviceInfo().sectorCount; ++k) EXPECT_FALSE(TheDeviceInfo().sectorErased[k]);
    int checksums = 0;
    for (const auto& r : panel().Requests()) checksums += r.command == 6;
    EXPECT_EQ(checksums, 2);
}

TEST_F(ConnectTest, AChainOfMoreThanTwoOrALoopEndsAfterTwoEntries) {
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "loop" : "three links");
        ClearErrors();
        Fresh();
        panel().SetBlock(BlockSpec{});
        if (loop) {
            PutImage(kAreaFE0, kAreaFE0 + 64, kAreaFE0, 500, 1);
        } else {
            PutImage(kAreaFE0, kAreaFE0 + 64, kAreaFE0 + 0x1000, 500, 1);
            PutImage(kAreaFE0 + 0x1000, kAreaFE0 + 0x1040, kAreaFE0 + 0x2000, 500, 2);
            PutImage(kAreaFE0 + 0x2000, kAreaFE0 + 0x2040, 0, 500, 3);
        }
        port().Close();
        ASSERT_EQ(Connect(), 1);
        EXPECT_TRUE(Errors().empty());
        EXPECT_TRUE(ValidDataPresent());
        const auto reads = ReadAddresses();
        ASSERT_EQ(reads.size(), 4u);
        EXPECT_EQ(reads[2], kAreaFE0);
        EXPECT_EQ(reads[3], loop ? kAreaFE0 : kAreaFE0 + 0x1000);
    }
}

TEST_F(ConnectTest, AnImageThatDoesNotCheckOutEndsTheDirectoryWithoutValidData) {
    panel().SetBlock(BlockSpec{});
    PutImage(kAreaFE0, kAreaFE0 + 64, kAreaFE0 + 0x1000, 500, 1);
    PutImage(kAreaFE0 + 0x1000, kAreaFE0 + 0x1040, 0, 500, 2);
    panel().memory.Set(kAreaFE0 + 0x1040, {0x00});  // the second image is damaged
    ASSERT_EQ(Connect(), 1);
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(ValidDataPresent());
    EXPECT_EQ(FirstImageCeMajor(), 1);  // the first entry stays
    EXPECT_EQ(Get32(TheDeviceInfo().directory[1].data()), 0u);
}

struct ConnectFailure {
    const char* name;
    std::function<void(ConnectTest&, FakePanel&)> arrange;
    ErrorList errors;
};

TEST_F(ConnectTest, AFailedConnectionRecordsWhyAndClosesThePort) {
    const auto errorReplyAt = [](std::uint32_t address) {
        return [address](const Request& r, Bytes reply) {
            if (r.address != address) return reply;
            return Packet(10, r.address, r.length, r.sequence, {0x29, 0, 0, 0, 0, 0});
        };
    };
    const ConnectFailure cases[] = {
        {"no synchronisation", [](ConnectTest&, FakePanel& p) { p.answersSync = false; },
         {{0x1D, 0x25}, {0x01, 0x5B}}},
        {"pointer not readable", [&](ConnectTest&, FakePanel& p) { p.tamper = errorReplyAt(0x03FFFFEC); },
         {{0x23, 0x29}, {0x1F, 0x52}, {0x17, 0x55}, {0x01, 0x5A}}},
        {"block not interpretable",
         [](ConnectTest&, FakePanel& p) { p.memory.Set(0x80000100, {0x00}); },
         {{0x16, 0x2C}, {0x01, 0x59}}},
        {"unknown panel",
         [](ConnectTest&, FakePanel& p) {
             BlockSpec s;
             s.hardwareType = 0x1000;
             p.SetBlock(s);
         },
         {{0x36, 0x3F}, {0x2F, 0x6A}, {0x01, 0x7A}}},
        {"directory not readable", [&](ConnectTest&, FakePanel& p) { p.tamper = errorReplyAt(kAreaFE0); },
         {{0x23, 0x29}, {0x1F, 0x52}, {0x2F, 0x55}, {0x01, 0x7A}}},
        {"image checksum not obtained",
         [&](ConnectTest& t, FakePanel& p) {
             t.PutImage(kAreaFE0, kAreaFE0 + 64, 0, 10, 1);
             p.tamper = [](const Request& r, Bytes reply) { return r.command == 6 ? Bytes() : reply; };
         },
         {{0x19, 0x27}, {0x29, 0x53}, {0x24, 0x53}, {0x2F, 0x51}, {0x01, 0x7A}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearErrors();
        Fresh();
        panel().SetBlock(BlockSpec{});
        c.arrange(*this, panel());
        EXPECT_EQ(Connect(), 0);
        EXPECT_FALSE(port().IsOpen());
        EXPECT_EQ(Errors(), c.errors);
    }
    ClearErrors();
    port().SetPathResolver([](int) { return std::string("/dev/no-such-tty-here"); });
    EXPECT_EQ(Connect(), 0);
    EXPECT_EQ(Errors(), (ErrorList{{0x47, 0x3E}, {0x01, 0x5C}}));
}

class DateTextTest : public ConnectTest {
protected:
    void SetUp() override {
        ConnectTest::SetUp();
        BlockSpec s;
        s.hardwareType = 0x0010;
        s.flashStartHigh = 0x0100;
        s.sectorCounts[0] = 32;
        s.sectorKb[0] = 128;
        s.flashKb = 4096;
        s.loaderKb = 64;
        s.version = 0xFFFF;
        s.date = 0xFFFFFFFF;
        panel().SetBlock(s);
    }
    std::uint32_t DateFor(const char* text) {
        panel().memory.Set(0x03FFFFF8, Bytes(text, text + 8));
        return BootloaderDate();
    }
};

TEST_F(DateTextTest, ReadsTheDateTextOfATypeTenPanel) {
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(BootloaderVersion(), 100);
    EXPECT_EQ(ImageAreaStart(), 0x01000000u);
    EXPECT_EQ(LoaderStart(), 0x03FF0000u);
    EXPECT_EQ(DateFor("24.12.99"), 0x24121999u);
    EXPECT_EQ(DateFor("01.02.05"), 0x01022005u);
    EXPECT_EQ(DateFor("31.01.61"), 0x31012061u);
    EXPECT_EQ(DateFor("31.01.62"), 0x31011962u);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(DateTextTest, AFailedDateReadGivesNotGiven) {
    ASSERT_EQ(Connect(), 1);
    panel().tamper = [](const Request&, Bytes) { return Bytes(); };
    EXPECT_EQ(BootloaderDate(), 0xFFFFFFFFu);
    EXPECT_EQ(Errors(), (ErrorList{{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}, {0x44, 0x55}}));
}

TEST_F(DateTextTest, TextThatIsNoDateGivesNotGiven) {
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(DateFor("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tarnwick::testing
