#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "app/settings.h"
#include "link_fixture.h"

namespace tarnwick::testing {
namespace {

using SerialPortTest = LinkFixture;

TEST_F(SerialPortTest, OpenOfAMissingPortReportsItUnavailable) {
    port().SetPathResolver([](int) { return std::string("/dev/no-such-tty-here"); });
    port().Configure(1, 115200, kLinkQueueSize);
    EXPECT_EQ(port().Open(), 2);
    EXPECT_FALSE(port().IsOpen());
    EXPECT_EQ(Errors(), (ErrorList{{0x47, 0x3E}}));
    EXPECT_EQ(ShownMessage(), "Ausgewählte Schnittstelle ist nicht verfügbar");
}

TEST_F(SerialPortTest, SetUpRefusedByANonTerminalReportsParametrisationAndClosesIt) {
    port().SetPathResolver([](int) { return std::string("/dev/null"); });
    port().Configure(0, 115200, kLinkQueueSize);
    EXPECT_EQ(port().Open(), 2);
    EXPECT_FALSE(port().IsOpen());
    EXPECT_EQ(Errors(), (ErrorList{{0x47, 0x3D}}));
    EXPECT_EQ(ShownMessage(), "Fehler bei der Schnittstellenparametrierung");
}

TEST_F(SerialPortTest, FindsTheDeviceOfAPortNameInTheSettings) {
    char folder[] = "/tmp/link-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/Tarnwick.ini";
    SetSettingsFile(file);
    WriteProfileString("PORTS", "COM2", peer.Path());
    port().SetPathResolver(nullptr);
    port().Configure(1, 115200, kLinkQueueSize);
    EXPECT_EQ(port().DevicePath(), peer.Path());
    EXPECT_EQ(port().Open(), 0);
    EXPECT_EQ(port().Close(), 0);
    port().Configure(2, 115200, kLinkQueueSize);
    EXPECT_EQ(port().DevicePath(), "/dev/ttyS2");
    SetSettingsFile("");
    ::unlink(file.c_str());
    ::rmdir(folder);
}

TEST_F(SerialPortTest, ConfigureNamesThePortByIndexAndKeepsItForAnIndexBeyondFour) {
    port().SetPathResolver(nullptr);
    port().Configure(3, 19200, kLinkQueueSize);
    EXPECT_EQ(port().PortName(), "COM4");
    EXPECT_EQ(port().RateIndex(), 4);
    port().Configure(7, 9600, kLinkQueueSize);
    EXPECT_EQ(port().PortName(), "COM4");
    EXPECT_EQ(port().RateIndex(), 3);
}

struct TimeoutCase {
    std::uint32_t rate;
    std::uint32_t writeTimeout;
    std::uint32_t completionLimit;
};

TEST_F(SerialPortTest, TimeOutsFollowTheRateTable) {
    const TimeoutCase cases[] = {
        {9600, 226, 345}, {19200, 148, 180}, {38400, 110, 90},
        {57600, 98, 60},  {115200, 84, 30},  {230400, 78, 15},
    };
    for (const auto& c : cases) {
        port().Configure(0, c.rate, kLinkQueueSize);
        EXPECT_EQ(port().WriteTimeout(), c.writeTimeout) << c.rate;
        EXPECT_EQ(port().ReadTimeout(90), c.writeTimeout + 90) << c.rate;
        EXPECT_EQ(port().CompletionWaitLimit(), c.completionLimit) << c.rate;
    }
}

TEST_F(SerialPortTest, ReadGivesUpAtTheReadTimeOutWhenOneByteIsMissing) {
    OpenAt(19200);
    peer.Send(Bytes(13, 0x42));
    std::uint8_t buffer[14] = {};
    const std::uint32_t start = port().Now();
    EXPECT_EQ(port().Read(buffer, 14, 90), 1);
    EXPECT_EQ(port().Elapsed(start), 148u + 90u);
    EXPECT_EQ(Errors(), (ErrorList{{0x19, 0x27}}));
    EXPECT_EQ(ShownMessage(), "Zeitüberwachungsfehler beim Empfang der Daten");
    EXPECT_EQ(port().BytesRead() >= 13, true);
    EXPECT_EQ(buffer[12], 0x42);
}

TEST_F(SerialPortTest, ReadTakesExactlyTheCountAndLeavesTheRest) {
    OpenAt(115200);
    peer.Send({1, 2, 3, 4, 5});
    std::uint8_t buffer[3] = {};
    ASSERT_EQ(port().Read(buffer, 3, 0), 0);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(port().QueueStatus(1, 1), 2);
    EXPECT_EQ(port().QueueStatus(1, 0), kLinkQueueSize - 2);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(SerialPortTest, WriteOfMoreThanTheFreeOutputQueueFailsBeforeSendingAnything) {
    OpenAt(115200);
    const Bytes data(kLinkQueueSize + 1, 0x11);
    EXPECT_EQ(port().Write(data.data(), static_cast<std::uint16_t>(data.size())), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x1B, 0x26}}));
    EXPECT_EQ(ShownMessage(), "Fehler im Schnittstellentreiber");
    peer.Settle();
    EXPECT_TRUE(peer.received.empty());

    ClearErrors();
    EXPECT_EQ(port().Write(data.data(), kLinkQueueSize), 0);
    peer.Settle();
    EXPECT_EQ(peer.received.size(), kLinkQueueSize);
}

TEST_F(SerialPortTest, ClaimsThePortExclusivelyAndGivesItBackOnClose) {
    EXPECT_EQ(port().Close(), 0);  // not open: nothing to do
    OpenAt(9600);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(peer.SlaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_EQ(port().Watcher(), kWatcherRunning);  // idles on a pseudo-terminal

    EXPECT_EQ(port().Close(), 0);
    EXPECT_FALSE(port().IsOpen());
    EXPECT_EQ(port().Watcher(), kWatcherEnded);
    ASSERT_EQ(::ioctl(peer.SlaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(Errors().empty());

    std::uint8_t b = 0;
    EXPECT_EQ(port().Read(&b, 1, 0), 1);
    EXPECT_EQ(port().Write(&b, 1), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x18, 0x2B}, {0x1B, 0x2B}}));

    // The same device opens again at once.
    OpenAt(115200);
    EXPECT_EQ(port().Close(), 0);
}

TEST_F(SerialPortTest, OpenSetsTheRateOnTheLine) {
    OpenAt(230400);
    termios t{};
    ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B230400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(SerialPortTest, DelayLetsAtLeastTheTicksPass) {
    const std::uint32_t start = port().Now();
    port().Delay(18);
    EXPECT_EQ(port().Elapsed(start), 18u);
}

TEST_F(SerialPortTest, SyncBaudRateSucceedsOnTheThirdAttemptAfterTwelveZeros) {
    OpenAt(115200);
    peer.script = [](PtyPeer& p) {
        // One answer per attempt of four bytes: 0x55 twice, then 0xAA.
        while (p.received.size() - p.consumed >= 4) {
            p.consumed += 4;
            p.Send({p.consumed >= 12 ? std::uint8_t{0xAA} : std::uint8_t{0x55}});
        }
    };
    EXPECT_EQ(port().SyncBaudRate(), 0);
    EXPECT_EQ(peer.received, Bytes(12, 0x00));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(SerialPortTest, SyncBaudRateFailsAfterTwentyAttemptsWithoutTheAnswer) {
    OpenAt(115200);
    peer.script = [](PtyPeer& p) {
        while (p.received.size() - p.consumed >= 4) {
            p.consumed += 4;
            p.Send({0x55});
        }
    };
    EXPECT_EQ(port().SyncBaudRate(), 1);
    EXPECT_EQ(peer.received, Bytes(80, 0x00));
    EXPECT_EQ(Errors(), (ErrorList{{0x1D, 0x25}}));
    EXPECT_EQ(ShownMessage(), "Fehler bei der Erkennung der Baudrate");
}

TEST_F(SerialPortTest, SyncBaudRateAgainstASilentPanelFailsTheSameWay) {
    OpenAt(38400);
    EXPECT_EQ(port().SyncBaudRate(), 1);
    EXPECT_EQ(Errors(), (ErrorList{{0x1D, 0x25}}));
}

}  // namespace
}  // namespace tarnwick::testing
