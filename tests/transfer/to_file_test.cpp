// The transfer into a file with target variants from the program INI, the
// interface settings command and the serial devices offered.
#include <sys/stat.h>

#include "transfer/interface_settings.h"
#include "transfer_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr char kTransferAborted[] = "Transfer abgebrochen \r\n";

class ToFileTest : public TransferTest {
protected:
    void WriteIni(const std::string& text) {
        std::ofstream(dir.File("tarnwick.INI")) << text;
    }
    Bytes Exp() { return ReadBytes(dir.File("doc.exp")); }
};

constexpr char kKv70Ini[] =
    "[KV70-VARIANTS]\n"
    "KV70-1=KV70 mit 8 MB Flash\n"
    "[KV70-1]\n"
    "SIZE_FLASH=0x00800000\nSIZE_DRAM=0x02000000\nSIZE_LOADER=0x00080000\nSTART_FLASH=0xBF800000\n";

Bytes Slice(const Bytes& b, std::size_t offset, std::size_t n) {
    if (offset + n > b.size()) return {};
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset),
                 b.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

Bytes PlacedHeader(const TestImage& image, std::uint32_t hw, std::uint32_t storage,
                   std::uint32_t next) {
    ImageHeaderRecord record = RecordFor(image, 4, hw);
    record.StorageAddress = storage;
    record.NextHeaderAddress = next;
    const auto b = record.Bytes();
    return Bytes(b.begin(), b.end());
}

TEST_F(ToFileTest, VariantOfType400GetsHeaderBlockHeaderAndDataBehindTheGap) {
    WriteIni(kKv70Ini);
    TestImage image{1, CodeLikeData(20000, 31)};
    AddImage(image, 4, 0x400);
    const auto before = Snapshot(*doc);
    ASSERT_EQ(view->TransferToFile(dir.File("doc.EXP")), TransferOutcome::Done) << Shown();
    EXPECT_FALSE(IsToFileMode());
    EXPECT_TRUE(choices.variantRequests.empty());  // one variant: no question

    const Bytes exp = Exp();
    Bytes block(128, 0xFF);
    block[0] = 0xA5;
    block[0x02] = 0x80, block[0x03] = 0xBF;  // flash start / 64 KiB
    block[0x04] = 0x00, block[0x05] = 0x20;  // flash size in KiB
    block[0x0E] = 0x00, block[0x0F] = 0x02;  // loader size in KiB
    block[0x10] = 0x00, block[0x11] = 0x04;  // hardware type
    block[0x7F] = 0x5A;
    EXPECT_EQ(Slice(exp, 0, 128), block);
    EXPECT_EQ(Slice(exp, 128, 64), PlacedHeader(image, 0x400, 0xBFC80000 + 1088, 0));
    EXPECT_EQ(Slice(exp, 128 + 1088, image.stored.size()), image.stored);
    EXPECT_EQ(exp.size(), 128 + 1088 + image.stored.size());
    EXPECT_EQ(Snapshot(*doc), before);
    EXPECT_EQ(LogText(),
              "Transfer läuft...\r\n"
              "Operator Panel Typ:\tKV70\r\nBootloader Version:\t0.00\r\n"
              "Bootloader Datum:\t00.00.0000\r\n"
              "Ok\r\n"
              "Bitte das Bediengerät booten ...\r\n");
    EXPECT_EQ(status.record->dialogsMade, 1);  // the transfer only, no connection
}

TEST_F(ToFileTest, PairBelowTheImageAreaLandsBehindTheImageRegion) {
    WriteIni(kKv70Ini);
    TestImage first{1, CodeLikeData(5000, 32)};
    TestImage overflow{0x40, CodeLikeData(3000, 33)};
    AddImage(first, 4, 0x400);
    AddImage(overflow, 4, 0x400);
    ASSERT_EQ(view->TransferToFile(dir.File("doc")), TransferOutcome::Done) << Shown();
    const Bytes exp = Exp();
    const std::size_t region = 0x400000 - 0x80000;  // ImageRegionSize(0x400)
    EXPECT_EQ(Slice(exp, 128, 64), PlacedHeader(first, 0x400, 0xBFC80000 + 1088, 0xBF800000));
    EXPECT_EQ(Slice(exp, 128 + 1088, first.stored.size()), first.stored);
    EXPECT_EQ(Slice(exp, 128 + region, 64), PlacedHeader(overflow, 0x400, 0xBF800040, 0));
    EXPECT_EQ(Slice(exp, 128 + region + 64, overflow.stored.size()), overflow.stored);
}

TEST_F(ToFileTest, TypeTenHasNoHeaderBlock) {
    WriteIni("[KV10-VARIANTS]\nKV10-1=KV10\n[KV10-1]\nSIZE_FLASH=0x00200000\n"
             "SIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03E00000\n");
    TestImage image{0x10001, CodeLikeData(4000, 34)};
    AddImage(image, 4, 0x10);
    ASSERT_EQ(view->TransferToFile(dir.File("doc.bin")), TransferOutcome::Done) << Shown();
    EXPECT_FALSE(std::filesystem::exists(dir.File("doc.bin")));
    const Bytes exp = Exp();
    EXPECT_EQ(Slice(exp, 0, 128), Bytes(128, 0));
    EXPECT_EQ(Slice(exp, 128, 64), PlacedHeader(image, 0x10, 0x03E00040, 0));
    EXPECT_EQ(Slice(exp, 192, image.stored.size()), image.stored);
}

TEST_F(ToFileTest, ExistingFileIsReplaced) {
    WriteIni(kKv70Ini);
    WriteBytes(dir.File("doc.exp"), Bytes(1000000, 0x11));
    TestImage image{1, CodeLikeData(2000, 35)};
    AddImage(image, 4, 0x400);
    ASSERT_EQ(view->TransferToFile(dir.File("doc.exp")), TransferOutcome::Done) << Shown();
    EXPECT_EQ(Exp().size(), 128 + 1088 + 2000u);
}

struct DiskFullCase {
    const char* name;
    std::uint32_t hw;
    std::uint32_t type;
    const char* ini;
};
class DiskFullTest : public ToFileTest, public ::testing::WithParamInterface<DiskFullCase> {};

TEST_P(DiskFullTest, RefusedWriteIsAFailedMemoryWriteNeverSuccess) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    WriteIni(GetParam().ini);
    AddImage(TestImage{GetParam().type, CodeLikeData(3000, 36)}, 4, GetParam().hw);
    const auto before = Snapshot(*doc);
    // The full disk, under the transfer file's name.
    SetTransferFileName("/dev/full");
    SetToFileMode(true);
    const TransferOutcome outcome = view->OnTransfer();
    SetToFileMode(false);
    EXPECT_EQ(outcome, TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Es ist ein Fehler aufgetreten \nCode: 0x57 Funktion: 0x34 ");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    EXPECT_EQ(LogText().find("Ok\r\n", LogText().find("Transfer läuft")), std::string::npos);
    EXPECT_EQ(Snapshot(*doc), before);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, DiskFullTest,
    ::testing::Values(DiskFullCase{"HeaderBlock", 0x400, 1, kKv70Ini},
                      DiskFullCase{"ImageData", 0x10, 0x10001,
                                   "[KV10-VARIANTS]\nKV10-1=KV10\n[KV10-1]\nSIZE_FLASH=0x00200000\n"
                                   "SIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\n"
                                   "START_FLASH=0x03E00000\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToFileTest, FileThatCannotBeCreatedIsNamed) {
    WriteIni(kKv70Ini);
    AddImage(TestImage{1, CodeLikeData(500, 37)}, 4, 0x400);
    const std::string target = dir.File("missing/doc.exp");
    EXPECT_EQ(view->TransferToFile(target), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Datei  " + target + " kann nicht erzeugt werden");
    EXPECT_TRUE(choices.variantRequests.empty());
}

TEST_F(ToFileTest, EmptyDocumentCreatesNoFileAndAsksForNoVariant) {
    WriteIni(kKv70Ini);
    EXPECT_EQ(view->TransferToFile(dir.File("doc.exp")), TransferOutcome::NotStarted);
    EXPECT_FALSE(std::filesystem::exists(dir.File("doc.exp")));
    EXPECT_FALSE(IsToFileMode());
}

TEST_F(ToFileTest, ChosenFileFromTheExportDialog) {
    WriteIni(kKv70Ini);
    AddImage(TestImage{1, CodeLikeData(500, 38)}, 4, 0x400);
    prompter.savePaths.push_back(dir.File("doc.EXP"));
    ASSERT_EQ(view->OnTransferToFile(), TransferOutcome::Done) << Shown();
    EXPECT_TRUE(std::filesystem::exists(dir.File("doc.exp")));
    EXPECT_FALSE(IsToFileMode());
    // Cancelled dialog: nothing happens, the mode is off again.
    log.ClearLog();
    EXPECT_EQ(view->OnTransferToFile(), TransferOutcome::NotStarted);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(IsToFileMode());
}

// The variant tables of the program INI for a KV10 document.
struct VariantCase {
    const char* name;
    const char* ini;
    std::uint32_t documentType;
    std::vector<std::string> offered;  // keys shown when there is a choice
    std::optional<std::size_t> answer; // what the person picks
    bool selected;
    std::uint32_t flashSize = 0, flashStart = 0, loaderSize = 0;  // in DeviceInfo afterwards
};
class VariantTest : public ToFileTest, public ::testing::WithParamInterface<VariantCase> {};

constexpr char kTwoVariants[] =
    "[KV10-VARIANTS]\nKV10-1=Klein\nKV10-2=Gross\n"
    "[KV10-1]\nSIZE_FLASH=0x00200000\nSIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03E00000\n"
    "[KV10-2]\nSIZE_FLASH=0x00400000\nSIZE_DRAM=0x02000000\nSIZE_LOADER=0x00020000\nSTART_FLASH=0x03C00000\n";

TEST_P(VariantTest, SelectsFromTheIniTables) {
    const VariantCase& c = GetParam();
    WriteIni(c.ini);
    doc->SetHardwareType(c.documentType);
    if (c.answer) choices.variants.push_back(c.answer);
    EXPECT_EQ(view->SelectTargetVariant(), c.selected);
    if (c.offered.empty()) {
        EXPECT_TRUE(choices.variantRequests.empty());
    } else {
        ASSERT_EQ(choices.variantRequests.size(), 1u);
        std::vector<std::string> keys;
        for (const auto& v : choices.variantRequests[0]) keys.push_back(v.key);
        EXPECT_EQ(keys, c.offered);
    }
    if (c.selected) {
        EXPECT_EQ(FlashSize(), c.flashSize);
        EXPECT_EQ(FlashStart(), c.flashStart);
        EXPECT_EQ(LoaderSize(), c.loaderSize);
        EXPECT_EQ(HardwareType(), c.documentType);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ini, VariantTest,
    ::testing::Values(
        VariantCase{"TwoChooseSecond", kTwoVariants, 0x10, {"KV10-1", "KV10-2"}, 1, true,
                    0x400000, 0x03C00000, 0x20000},
        VariantCase{"TwoCancelled", kTwoVariants, 0x10, {"KV10-1", "KV10-2"}, std::nullopt, false},
        VariantCase{"One",
                    "[KV10-VARIANTS]\nKV10-1=Klein\n[KV10-1]\nSIZE_FLASH=0x00200000\n"
                    "SIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03E00000\n",
                    0x10, {}, std::nullopt, true, 0x200000, 0x03E00000, 0x10000},
        // The list ends at the first missing number: KV10-3 is never read.
        VariantCase{"Gap",
                    "[KV10-VARIANTS]\nKV10-1=Eins\nKV10-3=Drei\n"
                    "[KV10-1]\nSIZE_FLASH=0x00200000\nSIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03E00000\n"
                    "[KV10-3]\nSIZE_FLASH=0x00400000\nSIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03C00000\n",
                    0x10, {}, std::nullopt, true, 0x200000, 0x03E00000, 0x10000},
        // A decimal value reads as 0 and drops its variant.
        VariantCase{"DecimalValueDropsTheVariant",
                    "[KV10-VARIANTS]\nKV10-1=Dezimal\nKV10-2=Hex\n"
                    "[KV10-1]\nSIZE_FLASH=2097152\nSIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0x03E00000\n"
                    "[KV10-2]\nSIZE_FLASH=0x00400000\nSIZE_DRAM=0x02000000\nSIZE_LOADER=0x00020000\nSTART_FLASH=0x03C00000\n",
                    0x10, {}, std::nullopt, true, 0x400000, 0x03C00000, 0x20000},
        // Keys, but not one complete entry: nothing to take.
        VariantCase{"NoCompleteEntry",
                    "[KV10-VARIANTS]\nKV10-1=Dezimal\n[KV10-1]\nSIZE_FLASH=2097152\n", 0x10, {},
                    std::nullopt, false},
        VariantCase{"NoKeys", "[KV40-VARIANTS]\nKV40-1=Anderes\n", 0x10, {}, std::nullopt, false},
        VariantCase{"CombinedTypeName",
                    "[KV20-KV50-VARIANTS]\nKV20-KV50-1=Beide\n[KV20-KV50-1]\nSIZE_FLASH=0x00400000\n"
                    "SIZE_DRAM=0x01000000\nSIZE_LOADER=0x00010000\nSTART_FLASH=0xBFC00000\n",
                    0x180, {}, std::nullopt, true, 0x400000, 0xBFC00000, 0x10000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToFileTest, UnknownPanelTypeIsToldAndSelectsNothing) {
    WriteIni(kKv70Ini);
    doc->SetHardwareType(0x3);
    EXPECT_FALSE(view->SelectTargetVariant());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Unbekanntes Zielgerät");
}

TEST_F(ToFileTest, NoVariantFailsTheTransferWithoutWritingImages) {
    WriteIni("[KV70-VARIANTS]\nKV70-1=Unvollständig\n[KV70-1]\nSIZE_FLASH=0x00800000\n");
    AddImage(TestImage{1, CodeLikeData(500, 39)}, 4, 0x400);
    EXPECT_EQ(view->TransferToFile(dir.File("doc.exp")), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Es ist ein Fehler aufgetreten \nCode: 0x65 Funktion: 0x33 ");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    EXPECT_EQ(Exp().size(), 0u);
}

// ---- interface settings -------------------------------------------------

TEST(InterfaceSettingsDialog, TablesAndChoices) {
    InterfaceSettingsDialog d;
    EXPECT_EQ(d.GetPort(), 0);
    EXPECT_EQ(d.GetBaud(), 19200u);
    d.SetPort(1);
    d.SetBaud(57600);
    EXPECT_EQ(d.GetPort(), 1);
    EXPECT_EQ(d.GetBaud(), 57600u);
    d.SetPort(7);      // not in the table: the choice stays
    d.SetBaud(9600);
    EXPECT_EQ(d.GetPort(), 1);
    EXPECT_EQ(d.GetBaud(), 57600u);
    d.SetBaud(230400);
    EXPECT_EQ(d.GetBaud(), 230400u);
    d.portChoice = -1;
    d.baudChoice = -1;
    EXPECT_EQ(d.GetPort(), 0xFFFF);
    EXPECT_EQ(d.GetBaud(), 0xFFFFu);
}

struct SettingsCase {
    const char* name;
    std::uint16_t port;
    std::uint32_t baud;
    int impex;
    std::uint32_t shownBaud;  // what the dialog opens with
};
class SettingsTest : public TransferTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsTest, OkStoresWhatTheDialogShows) {
    const SettingsCase& c = GetParam();
    app.port = c.port;
    app.baudRate = c.baud;
    app.eraseFlash = 0;
    app.impexMode = c.impex;
    // OK without changes: the dialog gives back what it shows.
    choices.interfaces.push_back(std::nullopt);
    EXPECT_FALSE(view->OnSettings());
    ASSERT_EQ(choices.interfaceRequests.size(), 1u);
    InterfaceChoice shown = choices.interfaceRequests[0].first;
    EXPECT_EQ(shown.port, c.port);
    EXPECT_EQ(shown.baud, c.shownBaud);
    EXPECT_FALSE(shown.eraseAll);
    EXPECT_EQ(choices.interfaceRequests[0].second, c.impex != 0);
    // Cancel changed nothing.
    EXPECT_EQ(app.baudRate, c.baud);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", -1), -1);

    choices.interfaces.push_back(shown);
    EXPECT_TRUE(view->OnSettings());
    EXPECT_EQ(app.port, c.port);
    EXPECT_EQ(app.baudRate, c.shownBaud);
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", -1), c.port);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", -1), static_cast<int>(c.shownBaud));
    EXPECT_EQ(GetProfileInt("SETTINGS", "ERASE_FLASH", -1), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SettingsTest,
    ::testing::Values(SettingsCase{"Com2At57600", 1, 57600, 0, 57600},
                      SettingsCase{"ImpexAt230400", 3, 230400, 1, 230400},
                      SettingsCase{"RateNotInTheTable", 0, 9600, 0, 19200}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, SettingsKeepTheDeviceBehindThePort) {
    app.port = 1;
    app.baudRate = 115200;
    InterfaceChoice answer{1, 38400, true, "/dev/ttyUSB3"};
    choices.interfaces.push_back(answer);
    ASSERT_TRUE(view->OnSettings());
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyUSB3");
    EXPECT_EQ(app.eraseFlash, 1);
}

TEST(SerialDevices, StableNamesFirstThenTheKindsThatExist) {
    TempFolder root;
    namespace fs = std::filesystem;
    const std::string dev = root.File("dev"), sys = root.File("sys");
    fs::create_directories(dev + "/serial/by-id");
    for (const char* n : {"ttyS10", "ttyS1", "ttyS0", "ttyACM0", "ttyUSB10", "ttyUSB2", "tty0",
                          "ttySX", "null"})
        WriteBytes(dev + "/" + n, {});
    WriteBytes(dev + "/serial/by-id/usb-Maker_Adapter-if00-port0", {});
    fs::create_directories(sys + "/class/tty/ttyS1");
    std::ofstream(sys + "/class/tty/ttyS1/type") << "0\n";  // no UART behind it
    fs::create_directories(sys + "/class/tty/ttyS0");
    std::ofstream(sys + "/class/tty/ttyS0/type") << "4\n";
    EXPECT_EQ(SerialDevicesPresent(dev, sys),
              (std::vector<std::string>{dev + "/serial/by-id/usb-Maker_Adapter-if00-port0",
                                        dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0",
                                        dev + "/ttyS0", dev + "/ttyS10"}));
}

}  // namespace
}  // namespace tarnwick::testing

namespace tarnwick::testing {
namespace {

TEST(TransferFileName, ExtensionBecomesExpComparedCaseSensitively) {
    const std::pair<const char*, const char*> cases[] = {
        {"/d/panel.exp", "/d/panel.exp"},
        {"/d/panel.EXP", "/d/panel.exp"},
        {"/d/panel.bin", "/d/panel.exp"},
        {"/d/panel", "/d/panel.exp"},
        {"/d/v1.2/panel", "/d/v1.2/panel.exp"},
    };
    for (const auto& [chosen, expected] : cases) EXPECT_EQ(TransferFileNameFor(chosen), expected) << chosen;
}

TEST(ComponentChoice, FirmwareDropsTheConfigurationOnly) {
    EXPECT_EQ(ComponentMask(0x20000101, 0), 0x20000001u);
    EXPECT_EQ(ComponentMask(0x20000101, 1), 0x20000101u);
    EXPECT_EQ(ComponentMask(0x100, 0), 0u);
    EXPECT_EQ(ComponentMask(0x100, 1), 0x100u);
}

}  // namespace
}  // namespace tarnwick::testing
