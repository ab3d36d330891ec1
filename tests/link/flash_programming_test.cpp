#include <gtest/gtest.h>

#include "app/file.h"
#include "document/image_part.h"
#include "link_fixture.h"

namespace tarnwick::testing {
namespace {

// A progress object that keeps every call in order.
class ProgressLog : public Progress {
public:
    std::vector<std::string> calls;
    std::vector<std::uint32_t> added;
    bool cancelled = false;
    int cancelAfterChecks = -1;  // cancel once IsCancelled was asked this often
    mutable int checks = 0;

    void SetText(const std::string& t) override { calls.push_back("text:" + t); }
    void SetCaption(const std::string&) override {}
    void SetTotal(std::uint32_t) override {}
    void AddProgress(std::uint32_t b) override {
        added.push_back(b);
        calls.push_back("add");
    }
    void ShowProgress() override { calls.push_back("show"); }
    void HideProgress() override { calls.push_back("hide"); }
    bool IsCancelled() const override {
        ++checks;
        return cancelled || (cancelAfterChecks >= 0 && checks > cancelAfterChecks);
    }
    bool IsReady() const override { return true; }
};

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

constexpr std::uint32_t kFlash = 0xBFC00000;
constexpr std::uint32_t kArea = 0xBFC40000;  // behind a 256 KB loader
constexpr std::uint32_t kSector = 0x10000;

class FlashTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        panel.Install(peer);
    }
    // Connects to a panel of 64 sectors of 64 KB.
    void Connect(std::uint16_t type = 0x0200, std::uint16_t startHigh = 0xBFC0, std::uint16_t loaderKb = 256) {
        BlockSpec s;
        s.hardwareType = type;
        s.flashStartHigh = startHigh;
        s.loaderKb = loaderKb;
        panel.SetBlock(s);
        ASSERT_EQ(ConnectAndIdentify(0, 115200), 1);
        panel.memory.eraseLog.clear();
    }
    std::unique_ptr<ImagePart> Image(std::uint32_t address, const Bytes& data) {
        auto part = std::make_unique<ImagePart>();
        EXPECT_TRUE(part->Assign(data.data(), data.size()));
        part->SetAddress(address);
        return part;
    }
    int Writes() const { return static_cast<int>(panel.memory.writeSizes.size()); }

    FakePanel panel;
    ProgressLog progress;
};

TEST_F(FlashTest, EraseRangeErasesEachTouchedSectorOnce) {
    Connect();
    ASSERT_EQ(EraseRange(kArea + 10, 100, &progress), 0);
    ASSERT_EQ(EraseRange(kArea + 200, 100, &progress), 0);
    EXPECT_EQ(panel.memory.eraseLog, (std::vector<std::uint32_t>{kArea}));
    ASSERT_EQ(EraseRange(kArea + kSector - 10, 20, &progress), 0);  // into the next sector
    ASSERT_EQ(EraseRange(kArea + 3 * kSector, 0, &progress), 0);     // count 0: the sector of the address
    ASSERT_EQ(EraseRange(kFlash + 64 * kSector, 0, &progress), 0);   // the very end: nothing
    EXPECT_EQ(panel.memory.eraseLog,
              (std::vector<std::uint32_t>{kArea, kArea + kSector, kArea + 3 * kSector}));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(FlashTest, ARangeOutsideTheFlashErasesNothing) {
    Connect();
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {kFlash + 63 * kSector, kSector + 1},  // past the end
        {kFlash - 1, 2},                       // before the start
        {0xFFFFFF00, 0x200},                   // wrapping around
    };
    for (const auto& [address, count] : ranges) {
        ClearErrors();
        EXPECT_EQ(EraseRange(address, count, &progress), 1);
        EXPECT_EQ(Errors(), (ErrorList{{0x0D, 0x29}}));
        EXPECT_EQ(ShownMessage(), "Zugriff auf eine im Gerät ungültige Adresse");
    }
    EXPECT_TRUE(panel.memory.eraseLog.empty());
}

TEST_F(FlashTest, EraseRangeStopsWhenCancelledAndWhenTheErasesFails) {
    Connect();
    progress.cancelled = true;
    EXPECT_EQ(EraseRange(kArea, 3 * kSector, &progress), 1);
    EXPECT_EQ(panel.memory.eraseLog.size(), 1u);
    EXPECT_EQ(Errors(), (ErrorList{{0x0D, 0x32}}));
    EXPECT_EQ(ShownMessage(), "Der Vorgang wurde vom Anwender abgebrochen");

    ClearErrors();
    progress.cancelled = false;
    panel.tamper = [](const Request& r, Bytes reply) {
        return r.command == 3 ? Packet(10, r.address, 0, r.sequence, {0x29, 0, 0, 0, 0, 0}) : reply;
    };
    EXPECT_EQ(EraseRange(kArea + 5 * kSector, 1, &progress), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x23, 0x29}, {0x20, 0x52}, {0x0D, 0x56}}));
}

TEST_F(FlashTest, EraseFlashLeavesTheBootloaderAloneInBothFamilies) {
    Connect();
    ASSERT_EQ(EraseFlash(&progress), 0);
    // 0xFE0: the image region, 0x3B0000 bytes from behind the loader.
    std::vector<std::uint32_t> expected;
    for (std::uint32_t a = kArea; a < kArea + 0x3B0000; a += kSector) expected.push_back(a);
    EXPECT_EQ(panel.memory.eraseLog, expected);
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"hide", "text:Flash wird gelöscht ..."}));

    // Erased once: a download into it erases nothing more.
    auto image = Image(kArea, Pattern(70000, 1));
    panel.memory.eraseLog.clear();
    ASSERT_EQ(DownloadImage(*image, &progress), 0);
    EXPECT_TRUE(panel.memory.eraseLog.empty());
    EXPECT_EQ(panel.memory.violations, 0);
}

TEST_F(FlashTest, EraseFlashOfATypeTenPanelErasesBelowTheLoader) {
    Connect(0x0010, 0x03C0, 64);  // 4 MB up to 0x04000000, loader in the top sector
    ASSERT_EQ(EraseFlash(&progress), 0);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t a = 0x03C00000; a < 0x03FF0000; a += kSector) expected.push_back(a);
    EXPECT_EQ(panel.memory.eraseLog, expected);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(FlashTest, DownloadsAnImageInPiecesAndPacketsAndVerifiesIt) {
    Connect();
    const Bytes data = Pattern(40000, 7);
    auto image = Image(kArea + 64, data);
    ASSERT_EQ(DownloadImage(*image, &progress), 0);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(progress.added, (std::vector<std::uint32_t>{16384, 16384, 7232}));
    EXPECT_EQ(panel.memory.writeSizes,
              (std::vector<std::uint32_t>{4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 3136}));
    EXPECT_EQ(panel.memory.Get(kArea + 64, 40000), data);
    EXPECT_EQ(panel.memory.violations, 0);
    EXPECT_EQ(panel.memory.eraseLog, (std::vector<std::uint32_t>{kArea}));
    EXPECT_EQ(progress.calls.front(), "show");
    EXPECT_EQ(progress.calls[1], "text:Daten werden transferiert ...");
    EXPECT_EQ(progress.calls.back(), "text:");
    // Each piece is erased right before it is written: the erase comes first.
    EXPECT_EQ(panel.Requests()[panel.Requests().size() - 12].command, 3);
}

TEST_F(FlashTest, TwoImagesInOneSectorEraseItOnceBeforeTheFirst) {
    Connect();
    auto header = Image(kArea, Pattern(64, 1));
    auto data = Image(kArea + 64, Pattern(1000, 2));
    ASSERT_EQ(DownloadImage(*header, &progress), 0);
    ASSERT_EQ(DownloadImage(*data, &progress), 0);
    EXPECT_EQ(panel.memory.eraseLog, (std::vector<std::uint32_t>{kArea}));
    EXPECT_EQ(panel.memory.violations, 0);
}

struct DownloadFailure {
    const char* name;
    std::function<void(FlashTest&, ImagePart&, FakePanel&, ProgressLog&)> arrange;
    ErrorList errors;
    const char* message;
    int writes;  // packets that reach the panel
};

TEST_F(FlashTest, AFailedDownloadSaysWhy) {
    const DownloadFailure cases[] = {
        {"panel checksum differs",
         [](FlashTest&, ImagePart& i, FakePanel&, ProgressLog&) { i.SetChecksum(i.Checksum() ^ 1); },
         {{0x34, 0x20}}, "Die Checksumme der Daten im Gerät ist falsch", 5},
        {"cancelled", [](FlashTest&, ImagePart&, FakePanel&, ProgressLog& p) { p.cancelAfterChecks = 3; },
         {{0x34, 0x32}}, "Der Vorgang wurde vom Anwender abgebrochen", 4},
        {"cancelled while erasing",
         [](FlashTest&, ImagePart&, FakePanel&, ProgressLog& p) { p.cancelAfterChecks = 0; },
         {{0x0D, 0x32}, {0x34, 0x56}}, "Der Vorgang wurde vom Anwender abgebrochen", 0},
        {"beyond the flash",
         [](FlashTest&, ImagePart& i, FakePanel&, ProgressLog&) { i.SetAddress(kFlash + 64 * kSector - 100); },
         {{0x0D, 0x29}, {0x34, 0x56}}, "Zugriff auf eine im Gerät ungültige Adresse", 0},
        {"image file short",
         [](FlashTest&, ImagePart& i, FakePanel&, ProgressLog&) { i.SetSize(i.Size() + 1); },
         {{0x34, 0x33}}, "Lesefehler beim Dateizugriff", 4},
        {"write refused",
         [](FlashTest&, ImagePart&, FakePanel& f, ProgressLog&) {
             f.tamper = [](const Request& r, Bytes reply) {
                 return r.command == 2 ? Packet(10, r.address, r.length, r.sequence, {0x29, 0, 0, 0, 0, 0}) : reply;
             };
         },
         {{0x23, 0x29}, {0x1E, 0x52}, {0x34, 0x57}}, "Zugriff auf eine im Gerät ungültige Adresse", 1},
        {"checksum not answered",
         [](FlashTest&, ImagePart&, FakePanel& f, ProgressLog&) {
             f.tamper = [](const Request& r, Bytes reply) { return r.command == 6 ? Bytes() : reply; };
         },
         {{0x19, 0x27}, {0x29, 0x53}, {0x24, 0x53}, {0x34, 0x51}},
         "Zeitüberwachungsfehler beim Empfang der Daten", 5},
    };
    Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearErrors();
        TheDeviceInfo().sectorErased.fill(false);
        panel.tamper = nullptr;
        panel.memory.writeSizes.clear();
        progress = ProgressLog();
        auto image = Image(kArea, Pattern(20000, 3));
        c.arrange(*this, *image, panel, progress);
        EXPECT_EQ(DownloadImage(*image, &progress), 1);
        EXPECT_EQ(Errors(), c.errors);
        EXPECT_EQ(ShownMessage(), c.message);
        EXPECT_EQ(Writes(), c.writes);
    }
}

TEST(PrepareImageHeaderTest, PlacesAndRestoresTheHeaderRecord) {
    ClearErrors();
    const Bytes imported = HeaderRecord(0, 5000, 0x1234, 0xFFFFFFFF);
    ImagePart header;
    ASSERT_TRUE(header.Assign(imported.data(), imported.size()));
    const std::uint16_t importedCrc = header.Checksum();

    ASSERT_EQ(PrepareImageHeader(header, 0xBFC40440, 0xBFC80000), 1);
    Bytes placed(64);
    ASSERT_EQ(header.GetFile().Seek(0), 0);
    ASSERT_EQ(header.GetFile().Read(placed.data(), 64), 64);
    EXPECT_EQ(Get32(placed.data() + 0x0A), 0xBFC40440u);
    EXPECT_EQ(Get32(placed.data() + 0x2C), 0xBFC80000u);
    EXPECT_EQ(header.Checksum(), Crc16(placed.data(), 64, kCrcInit));
    Bytes rest = placed;
    Put32(rest, 0x0A, 0);
    Put32(rest, 0x2C, 0xFFFFFFFF);
    EXPECT_EQ(rest, imported);  // nothing else changed

    ASSERT_EQ(PrepareImageHeader(header, 0, 0xFFFFFFFF), 1);
    Bytes restored(64);
    ASSERT_EQ(header.GetFile().Seek(0), 0);
    ASSERT_EQ(header.GetFile().Read(restored.data(), 64), 64);
    EXPECT_EQ(restored, imported);
    EXPECT_EQ(header.Checksum(), importedCrc);
    EXPECT_TRUE(PendingErrors().empty());

    ImagePart shortPart;
    ASSERT_TRUE(shortPart.Assign(imported.data(), 63));
    EXPECT_EQ(PrepareImageHeader(shortPart, 1, 2), 0);
    ASSERT_EQ(PendingErrors().size(), 1u);
    EXPECT_EQ(PendingErrors()[0].function, 0x41u);
    EXPECT_EQ(PendingErrors()[0].code, 0x33u);
    ClearErrors();
}

class TransferFileTest : public FlashTest {
protected:
    void SetUp() override {
        FlashTest::SetUp();
        path = ImagePart::TempFolder() + "/link-transfer-test-" + std::to_string(::getpid()) + ".exp";
        ASSERT_TRUE(file.Open(path, File::Mode::Create));
        SetToFileMode(true);
        SetTransferFile(&file);
    }
    void TearDown() override {
        file.Close();
        ::unlink(path.c_str());
        FlashTest::TearDown();
    }
    Bytes Contents() {
        Bytes all(static_cast<std::size_t>(file.Length()));
        file.Seek(0);
        file.Read(all.data(), all.size());
        return all;
    }
    std::string path;
    File file;
};

TEST_F(TransferFileTest, WritesTheHeaderBlockAndPlacesTheImagesByAddress) {
    SetFromVariant(0x0400, kFlash, 0x200000, 0x40000);
    ASSERT_EQ(WriteTransferFileHeader(file), 1);
    const Bytes header = Pattern(64, 1);
    const Bytes data = Pattern(20000, 2);
    auto headerPart = Image(kArea, header);
    auto dataPart = Image(kArea + 1088, data);
    ASSERT_EQ(DownloadImage(*headerPart, &progress), 0);
    ASSERT_EQ(DownloadImage(*dataPart, &progress), 0);
    // A pair below the image area lands behind the image region (0x180000).
    const Bytes low = Pattern(100, 3);
    auto lowPart = Image(kFlash + 64, low);
    ASSERT_EQ(DownloadImage(*lowPart, &progress), 0);

    const Bytes all = Contents();
    ASSERT_EQ(all.size(), 128u + 0x180000 + 64 + 100);
    Bytes block(128, 0xFF);
    block[0] = 0xA5;
    Put16(block, 0x02, 0xBFC0);
    Put16(block, 0x04, 2048);
    Put16(block, 0x0E, 256);
    Put16(block, 0x10, 0x0400);
    block[0x7F] = 0x5A;
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 128), block);
    EXPECT_EQ(Bytes(all.begin() + 128, all.begin() + 192), header);
    EXPECT_EQ(Bytes(all.begin() + 192, all.begin() + 128 + 1088), Bytes(1024, 0));
    EXPECT_EQ(Bytes(all.begin() + 128 + 1088, all.begin() + 128 + 1088 + 20000), data);
    EXPECT_EQ(Bytes(all.begin() + 128 + 0x180000 + 64, all.end()), low);

    // Nothing went to a panel: no port was even open.
    EXPECT_FALSE(port().IsOpen());
    EXPECT_TRUE(peer.received.empty());
    EXPECT_EQ(progress.added, (std::vector<std::uint32_t>{64, 16384, 3616, 100}));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(TransferFileTest, ATypeTenVariantGetsNoHeaderBlock) {
    SetFromVariant(0x0010, 0x03C00000, 0x400000, 0x10000);
    ASSERT_EQ(WriteTransferFileHeader(file), 1);
    EXPECT_EQ(file.Length(), 0);
    const Bytes data = Pattern(300, 4);
    auto part = Image(0x03C00000 + 0x1000, data);
    ASSERT_EQ(DownloadImage(*part, &progress), 0);
    const Bytes all = Contents();
    ASSERT_EQ(all.size(), 128u + 0x1000 + 300);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 128 + 0x1000), Bytes(128 + 0x1000, 0));
    EXPECT_EQ(Bytes(all.begin() + 128 + 0x1000, all.end()), data);
}

TEST_F(TransferFileTest, TheHeaderBlockIsWrittenForTheTypesThatHaveOne) {
    const std::pair<std::uint16_t, bool> cases[] = {
        {0x200, true}, {0x400, true}, {0x20, true},  {0x40, true},   {0x80, true}, {0x100, true},
        {0x800, true}, {0x980, true}, {0x10, false}, {0x1000, false}, {0x600, false},
    };
    for (const auto& [type, written] : cases) {
        SetFromVariant(type, kFlash, 0x400000, 0x40000);
        const std::int64_t before = file.Length();
        ASSERT_EQ(WriteTransferFileHeader(file), 1);
        EXPECT_EQ(file.Length() - before, written ? 128 : 0) << std::hex << type;
    }
}

TEST_F(TransferFileTest, AFailedWriteToTheTransferFileFailsTheDownload) {
    SetFromVariant(0x0400, kFlash, 0x200000, 0x40000);
    SetTransferFile(nullptr);
    auto part = Image(kArea, Pattern(100, 5));
    EXPECT_EQ(DownloadImage(*part, &progress), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x34, 0x57}}));
}

}  // namespace
}  // namespace tarnwick::testing
