#pragma once
// The process's port, link and device record on a virtual clock, with a
// scripted peer on a pseudo-terminal behind "COM1".
#include <gtest/gtest.h>

#include <memory>

#include "link/bootloader.h"
#include "link/device_info.h"
#include "link/error_state.h"
#include "link/flash_programming.h"
#include "link/serial_port.h"
#include "scripted_panel.h"
#include "support/fakes.h"

namespace tarnwick::testing {

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ClearErrors();
        port().SetClock(clock);
        const std::string path = peer.Path();
        port().SetPathResolver([path](int) { return path; });
        peer.Attach(clock, port());
        TheDeviceInfo().Reset();
        TheLink().ResetSequence();
    }
    void TearDown() override {
        port().Close();
        port().SetClock(SystemClock());
        port().SetPathResolver(nullptr);
        clock.SetSettleHook(nullptr);
        TheDeviceInfo().Reset();
        SetToFileMode(false);
        SetTransferFile(nullptr);
        ClearErrors();
    }

    static SerialPort& port() { return ThePort(); }

    // Opens COM1 at the rate, as the link does.
    void OpenAt(std::uint32_t rate) {
        port().Configure(0, rate, kLinkQueueSize);
        ASSERT_EQ(port().Open(), 0);
    }

    // The recorded (function, error) pairs.
    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Errors() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& e : PendingErrors()) out.emplace_back(e.function, e.code);
        return out;
    }
    // The message ShowError would show for the first recorded failure.
    static std::string ShownMessage() {
        const auto pending = PendingErrors();
        return FormatError(pending.empty() ? ErrorEntry{} : pending.front(), ErrorSourceText());
    }

    VirtualClock clock;
    PtyPeer peer;
};

using ErrorList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

}  // namespace tarnwick::testing
