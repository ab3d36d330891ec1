// The device link against the real simulated panel, a separate program with
// its own reading of the protocol, over a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "document/image_part.h"
#include "link_fixture.h"
#include "panelsim_process.h"
#include "skipping_clock.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kFlash = 0xBFC00000;
constexpr std::uint32_t kArea = 0xBFC10000;  // the built-in panel has a 64 KB loader
constexpr std::uint32_t kFlashSize = 4096 * 1024;

Bytes Random(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& v : b) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(seed >> 16);
    }
    return b;
}

class PanelsimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(PanelsimPath())) GTEST_SKIP() << "panelsim not built";
        char pattern[] = "/tmp/link-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        ClearErrors();
        TheDeviceInfo().Reset();
        ThePort().SetClock(clock);
    }
    void TearDown() override {
        ThePort().Close();
        ThePort().SetClock(SystemClock());
        ThePort().SetPathResolver(nullptr);
        sim.Stop();
        TheDeviceInfo().Reset();
        ClearErrors();
        if (!dir.empty()) fs::remove_all(dir);
    }

    void Start(std::vector<std::string> options) {
        ASSERT_TRUE(sim.Start(std::move(options), dir));
        const std::string path = sim.Path();
        ThePort().SetPathResolver([path](int) { return path; });
    }
    std::string WriteFile(const std::string& name, const std::string& text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    Bytes ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static ErrorList Errors() {
        ErrorList out;
        for (const auto& e : PendingErrors()) out.emplace_back(e.function, e.code);
        return out;
    }
    static std::string Shown() {
        const auto pending = PendingErrors();
        return FormatError(pending.empty() ? ErrorEntry{} : pending.front(), ErrorSourceText());
    }
public:
    std::unique_ptr<ImagePart> Part(std::uint32_t address, const Bytes& data) {
        auto part = std::make_unique<ImagePart>();
        EXPECT_TRUE(part->Assign(data.data(), data.size()));
        part->SetAddress(address);
        return part;
    }

protected:
    std::string dir;
    SkippingClock clock;
    Panelsim sim;
};

// Cancels once it has been asked `after` times.
class CancelAfter : public Progress {
public:
    explicit CancelAfter(int after) : after_(after) {}
    void SetText(const std::string&) override {}
    void SetCaption(const std::string&) override {}
    void SetTotal(std::uint32_t) override {}
    void AddProgress(std::uint32_t) override {}
    void ShowProgress() override {}
    void HideProgress() override {}
    bool IsCancelled() const override { return ++asked_ > after_; }
    bool IsReady() const override { return true; }

private:
    int after_;
    mutable int asked_ = 0;
};

TEST_F(PanelsimTest, BootsConnectsAndIdentifiesThePanel) {
    Start({"--boot-delay", "300"});
    ASSERT_EQ(OpenLink(0, 9600), 0);
    CancelAfter never(1000000);
    ASSERT_EQ(WaitForBoot(&never), kBootAnswered);
    ASSERT_EQ(CloseLink(), 0);
    ASSERT_EQ(ConnectAndIdentify(0, 115200), 1) << Shown();
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(HardwareType(), 0x40);
    EXPECT_EQ(FlashStart(), kFlash);
    EXPECT_EQ(FlashSize(), kFlashSize);
    EXPECT_EQ(LoaderSize(), 64u * 1024);
    EXPECT_EQ(TheDeviceInfo().sectorCount, 71);
    EXPECT_EQ(ImageAreaStart(), kArea);
    EXPECT_EQ(BootloaderVersion(), 105);
    EXPECT_EQ(BootloaderDate(), 0x15032004u);
    EXPECT_FALSE(ValidDataPresent());
    EXPECT_EQ(PanelTypeName(HardwareType()), "KV40");
    ThePort().Close();
    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("handshakes"), 1);
    EXPECT_EQ(sim.ReportNumber("connections"), 1);
    EXPECT_EQ(sim.ReportNumber("protocol_errors"), 0);
    EXPECT_NE(sim.Report("rates_handshake").find("9600"), std::string::npos) << sim.Report("rates_handshake");
}

TEST_F(PanelsimTest, TheHandshakeCanBeCancelledWhileThePanelStaysSilent) {
    Start({"--boot-delay", "never"});
    ASSERT_EQ(OpenLink(0, 9600), 0);
    CancelAfter afterThreePasses(3);
    const std::uint64_t before = ThePort().BytesWritten();
    EXPECT_EQ(WaitForBoot(&afterThreePasses), kBootCancelled);
    EXPECT_EQ(ThePort().BytesWritten() - before, 3u * 8u);
}

TEST_F(PanelsimTest, SynchronisesAfterExactlyTwelveZeroBytes) {
    Start({"--booted", "--sync-after", "12"});
    ThePort().Configure(0, 57600, kLinkQueueSize);
    ASSERT_EQ(ThePort().Open(), 0);
    const std::uint64_t before = ThePort().BytesWritten();
    EXPECT_EQ(ThePort().SyncBaudRate(), 0);
    EXPECT_EQ(ThePort().BytesWritten() - before, 12u);
}

TEST_F(PanelsimTest, APanelThatNeverSynchronisesFailsTheConnection) {
    Start({"--booted", "--sync-after", "never"});
    clock.SetSleepGrace(5);
    EXPECT_EQ(ConnectAndIdentify(0, 115200), 0);
    EXPECT_EQ(Errors(), (ErrorList{{0x1D, 0x25}, {0x01, 0x5B}}));
    EXPECT_EQ(Shown(), "Fehler bei der Erkennung der Baudrate");
    EXPECT_FALSE(ThePort().IsOpen());
}

TEST_F(PanelsimTest, ProgramsTheFlashAndFindsTheImageAfterwards) {
    const std::string dump = dir + "/flash.bin";
    Start({"--booted", "--dump", dump});
    ASSERT_EQ(ConnectAndIdentify(0, 230400), 1) << Shown();
    ASSERT_EQ(EraseFlash(nullptr), 0) << Shown();

    // Data that compresses in parts and not in others, both ways on the line.
    Bytes data = Random(70000, 5);
    std::fill(data.begin() + 20000, data.begin() + 45000, 0x00);
    auto dataPart = Part(kArea + 64, data);
    Bytes record = HeaderRecord(0, static_cast<std::uint32_t>(data.size()), dataPart->Checksum(), 0xFFFFFFFF);
    auto header = Part(kArea, record);
    ASSERT_EQ(PrepareImageHeader(*header, kArea + 64, 0), 1);
    ASSERT_EQ(DownloadImage(*header, nullptr), 0) << Shown();
    ASSERT_EQ(DownloadImage(*dataPart, nullptr), 0) << Shown();

    Bytes back(data.size());
    ASSERT_EQ(ReadMemory(kArea + 64, static_cast<std::uint32_t>(back.size()), back.data()), 0) << Shown();
    EXPECT_EQ(back, data);
    ASSERT_EQ(ThePort().Close(), 0);

    ASSERT_EQ(ConnectAndIdentify(0, 115200), 1) << Shown();
    EXPECT_TRUE(ValidDataPresent());
    EXPECT_EQ(FirstImageChecksum(), dataPart->Checksum());
    EXPECT_EQ(FirstImageType(), 1u);
    ThePort().Close();

    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("violations"), 0);
    EXPECT_EQ(sim.ReportNumber("erase_repeats"), 0);
    EXPECT_EQ(sim.ReportNumber("loader_violations"), 0);
    EXPECT_EQ(sim.ReportNumber("protocol_errors"), 0);
    EXPECT_GT(sim.ReportNumber("requests_compressed"), 0);
    EXPECT_GT(sim.ReportNumber("replies_compressed"), 0);
    const Bytes flash = ReadFile(dump);
    ASSERT_EQ(flash.size(), kFlashSize);
    const std::size_t at = kArea - kFlash;
    Bytes placed = record;
    Put32(placed, 0x0A, kArea + 64);
    Put32(placed, 0x2C, 0);
    EXPECT_EQ(Bytes(flash.begin() + at, flash.begin() + at + 64), placed);
    EXPECT_EQ(Bytes(flash.begin() + at + 64, flash.begin() + at + 64 + data.size()), data);
    EXPECT_EQ(flash[at + 64 + data.size()], 0xFF);
}

TEST_F(PanelsimTest, ADirectoryChainLongerThanTwoEndsAfterTwoEntries) {
    // Three images linked one behind the other, put into the flash as they are.
    Bytes area;
    std::uint32_t next = kArea;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t header = next;
        const Bytes data = Random(1000, static_cast<std::uint32_t>(i));
        next = i < 2 ? header + 0x2000 : 0;
        const Bytes record = HeaderRecord(header + 64, 1000, Crc16(data.data(), data.size(), kCrcInit), next);
        area.resize(header - kArea, 0xFF);
        area.insert(area.end(), record.begin(), record.end());
        area.insert(area.end(), data.begin(), data.end());
    }
    const std::string file = WriteFile("area.bin", area);
    char load[64];
    std::snprintf(load, sizeof load, "0x%08X:", kArea);
    Start({"--booted", "--load", load + file});
    ASSERT_EQ(ConnectAndIdentify(0, 115200), 1) << Shown();
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(ValidDataPresent());
    EXPECT_EQ(Get32(TheDeviceInfo().directory[1].data() + 0x0A), kArea + 0x2000 + 64);
}

TEST_F(PanelsimTest, ATypeTenPanelGivesItsDateAsText) {
    const std::string config = WriteFile("panel.conf",
                                         "hardware_type = 0x0114\n"
                                         "flash_start = 0x03C00000\n"
                                         "bank0 = 64 x 64\n"
                                         "loader_kb = 64\n"
                                         "version = 0xFFFF\n"
                                         "date = 0xFFFFFFFF\n"
                                         "date_text = 24.12.99\n"
                                         "block_address = 0x03FFFF00\n"
                                         "block_pointer = 0x03FFFF00\n");
    Start({"--booted", "--config", config});
    ASSERT_EQ(ConnectAndIdentify(0, 115200), 1) << Shown();
    EXPECT_EQ(HardwareType(), 0x10);
    EXPECT_EQ(ImageAreaStart(), 0x03C00000u);
    EXPECT_EQ(LoaderStart(), 0x03FF0000u);
    EXPECT_EQ(BootloaderVersion(), 100);
    EXPECT_EQ(BootloaderDate(), 0x24121999u);
    ASSERT_EQ(EraseFlash(nullptr), 0) << Shown();
    ThePort().Close();
    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("erases"), 63);
    EXPECT_EQ(sim.ReportNumber("loader_violations"), 0);
}

struct FaultCase {
    const char* fault;
    // The operation after the connection; returns its result.
    std::function<int(PanelsimTest&)> operation;
    ErrorList errors;
    const char* message;
};

int ReadSome(PanelsimTest&) {
    Bytes out(300);
    return ReadMemory(kArea + 0x1000, 300, out.data());
}

TEST_F(PanelsimTest, InjectedFaultsEndTheOperationWithTheirMessage) {
    // The connection to an empty panel makes three read requests; the fourth
    // is the test's own.
    const FaultCase cases[] = {
        {"seq@read:4", ReadSome, {{0x23, 0x22}, {0x1F, 0x52}}, "Protokollfehler"},
        {"error@read:4", ReadSome, {{0x23, 0x29}, {0x1F, 0x52}}, "Zugriff auf eine im Gerät ungültige Adresse"},
        {"crc@read:4", ReadSome, {{0x23, 0x22}, {0x1F, 0x24}}, "Protokollfehler"},
        {"corrupt@read:4", ReadSome, {{0x29, 0x60}, {0x1F, 0x53}},
         "Es ist ein Fehler aufgetreten \nCode: 0x60 Funktion: 0x29 "},
        {"drop@read:4", ReadSome, {{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}},
         "Zeitüberwachungsfehler beim Empfang der Daten"},
        {"short@read:4", ReadSome, {{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}},
         "Zeitüberwachungsfehler beim Empfang der Daten"},
        {"silent@4", ReadSome, {{0x19, 0x27}, {0x29, 0x53}, {0x1F, 0x53}},
         "Zeitüberwachungsfehler beim Empfang der Daten"},
        {"error=0x3F@write:1",
         [](PanelsimTest&) {
             const Bytes b(10, 1);
             return WriteMemory(kArea, 10, b.data());
         },
         {{0x23, 0x3F}, {0x1E, 0x52}}, "Unbekanntes Bediengerät"},
        {"error@erase:1", [](PanelsimTest&) { return EraseRange(kArea, 1, nullptr); },
         {{0x23, 0x29}, {0x20, 0x52}, {0x0D, 0x56}}, "Zugriff auf eine im Gerät ungültige Adresse"},
        {"sum@checksum:1",
         [](PanelsimTest& t) {
             auto part = t.Part(kArea, Random(5000, 9));
             return DownloadImage(*part, nullptr);
         },
         {{0x34, 0x20}}, "Die Checksumme der Daten im Gerät ist falsch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ClearErrors();
        TheDeviceInfo().Reset();
        Start({"--booted", "--fault", c.fault});
        ASSERT_EQ(ConnectAndIdentify(0, 115200), 1) << Shown();
        EXPECT_EQ(c.operation(*this), 1);
        EXPECT_EQ(Errors(), c.errors);
        EXPECT_EQ(Shown(), c.message);
        ThePort().Close();
        sim.Stop();
        EXPECT_EQ(sim.ReportNumber("faults_injected"), 1);
    }
}

}  // namespace
}  // namespace tarnwick::testing
