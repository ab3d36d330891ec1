#pragma once
// The transfer commands run for real against panelsim over its
// pseudo-terminal: a TransferView with scripted ports, a document built part
// by part, and the panel's flash dump and report read afterwards. Time-outs
// pass at once (SkippingClock), everything else runs at line speed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/tarnwick_app.h"
#include "codec/crc16.h"
#include "document/tarnwick_doc.h"
#include "link/device_info.h"
#include "link/error_state.h"
#include "link/flash_programming.h"
#include "link/panelsim_process.h"
#include "link/serial_port.h"
#include "link/skipping_clock.h"
#include "osimage/image_header.h"
#include "support/fakes.h"
#include "support/nb0_builder.h"
#include "support/status_dialog_fake.h"
#include "transfer/transfer_view.h"

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::string PanelFile(const std::string& name) {
    return std::string(TARNWICK_SOURCE_DIR) + "/sim/panels/" + name;
}

// The memory layouts of the sample panels, as their files describe them.
struct PanelLayout {
    const char* file;          // in sim/panels, empty for the built-in panel
    std::uint32_t flashStart;
    std::uint32_t areaStart;
    std::uint32_t hardwareType;
};
inline constexpr PanelLayout kKv40{"kv40.cfg", 0xBFC00000, 0xBFC10000, 0x40};
inline constexpr PanelLayout kKv60{"kv60.cfg", 0xBFC00000, 0xBFC50000, 0x200};
inline constexpr PanelLayout kKv70{"kv70.cfg", 0xBF800000, 0xBFC80000, 0x400};
inline constexpr PanelLayout kKv10{"kv10.cfg", 0x03E00000, 0x03E00000, 0x10};

// One image for a test document: its type, stored bytes and, when already
// placed, its header's addresses.
struct TestImage {
    std::uint32_t type = 1;
    Bytes stored;
    std::uint32_t storageAddress = 0;
    std::uint32_t nextHeader = 0xFFFFFFFF;
    std::uint32_t headerAddress = 0;  // part addresses of a placed image
};

inline ImageHeaderRecord RecordFor(const TestImage& image, std::uint32_t ceMajor, std::uint32_t hw) {
    ImportHeader h;
    h.ImageType = image.type;
    h.CeVersionMajor = ceMajor;
    h.CeVersionMinor = 20;
    h.CeImageVersion = 0x01020304;
    h.AppVersion = 0x81000002;
    h.HardwareType = hw;
    h.HardwareSubtype = 0;
    h.StartAddress = 0x80001000;
    h.AuxValue = 0xC0FFEE;
    h.DataSize = static_cast<std::uint32_t>(image.stored.size());
    h.ImageAreaSize = 0x003E0000;
    h.Attributes = 0x00010001;
    const std::uint16_t crc = Crc16(image.stored.data(), image.stored.size(), kCrcInit);
    ImageHeaderRecord record =
        MakeImageHeaderRecord(h, static_cast<std::uint32_t>(image.stored.size()), crc, crc);
    record.StorageAddress = image.storageAddress;
    record.NextHeaderAddress = image.nextHeader;
    return record;
}

// A part's bytes, read from its file.
inline Bytes PartBytes(ImagePart& part) {
    Bytes b(part.Size());
    part.GetFile().Seek(0);
    if (!b.empty()) part.GetFile().Read(b.data(), b.size());
    return b;
}

struct PartSnapshot {
    std::uint32_t id, size, address;
    std::uint16_t checksum;
    Bytes bytes;
    bool operator==(const PartSnapshot&) const = default;
};

inline std::vector<PartSnapshot> Snapshot(CTarnwickDoc& doc) {
    std::vector<PartSnapshot> parts;
    for (int i = 0; i < doc.PartCount(); ++i) {
        ImagePart* p = doc.PartAt(i);
        parts.push_back({p->Id(), p->Size(), p->Address(), p->Checksum(), PartBytes(*p)});
    }
    return parts;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(PanelsimPath())) GTEST_SKIP() << "panelsim not built";
        SetSettingsFile(dir.File("settings.ini"));
        ClearErrors();
        TheDeviceInfo().Reset();
        SetToFileMode(false);
        ThePort().SetClock(clock);
        app.LocateProgram(dir.File("tarnwick"));
        app.port = 0;
        app.baudRate = 230400;
        app.eraseFlash = 1;
        doc = std::make_unique<CTarnwickDoc>(log, prompter);
        view = std::make_unique<TransferView>(TransferContext{app, *doc, choices, status});
    }
    void TearDown() override {
        ThePort().Close();
        ThePort().SetClock(SystemClock());
        ThePort().SetPathResolver(nullptr);
        sim.Stop();
        SetToFileMode(false);
        SetSettingsFile("");
        TheDeviceInfo().Reset();
        ClearErrors();
    }

    // Starts panelsim on a sample panel with extra options; its flash is
    // dumped when it stops.
    void StartPanel(const PanelLayout& panel, std::vector<std::string> options = {}) {
        std::vector<std::string> all = {"--dump", dir.File("flash.bin"), "--trace",
                                        dir.File("trace.txt")};
        if (*panel.file) {
            all.push_back("-c");
            all.push_back(PanelFile(panel.file));
        }
        all.insert(all.end(), options.begin(), options.end());
        ASSERT_TRUE(sim.Start(all, dir.Path()));
        ASSERT_FALSE(sim.Path().empty());
        const std::string path = sim.Path();
        ThePort().SetPathResolver([path](int) { return path; });
    }
    // Stops panelsim and returns its flash, from the flash start on.
    Bytes StopPanel() {
        sim.Stop();
        return ReadBytes(dir.File("flash.bin"));
    }

    // Adds an image's data part and header part to the document.
    void AddImage(const TestImage& image, std::uint32_t ceMajor = 4, std::uint32_t hw = 0x40) {
        ImagePart* data = doc->AddPart();
        ASSERT_NE(data, nullptr);
        data->SetId(CTarnwickDoc::DataPartId(image.type));
        ASSERT_TRUE(data->Assign(image.stored.data(), image.stored.size()));
        data->SetAddress(image.storageAddress);
        ImagePart* header = doc->AddPart();
        ASSERT_NE(header, nullptr);
        header->SetId(CTarnwickDoc::HeaderPartId(image.type));
        ASSERT_TRUE(WriteHeaderRecord(*header, RecordFor(image, ceMajor, hw)));
        header->SetAddress(image.headerAddress);
        doc->SetHardwareType(hw);
        doc->SetCeVersionMajor(ceMajor);
        doc->SetCeVersionMinor(20);
        doc->SetCeImageVersion(0x01020304);
        doc->SetAppVersion(0x81000002);
    }
    void AddConfig(const Bytes& bytes, std::uint32_t address) {
        ImagePart* config = doc->AddPart();
        ASSERT_NE(config, nullptr);
        config->SetId(kConfigPartId);
        ASSERT_TRUE(config->Assign(bytes.data(), bytes.size()));
        config->SetAddress(address);
    }

    // The flash bytes at address, from a dump that starts at flashStart.
    static Bytes At(const Bytes& flash, std::uint32_t flashStart, std::uint32_t address,
                    std::size_t n) {
        const std::size_t offset = address - flashStart;
        if (offset + n > flash.size()) return {};
        return Bytes(flash.begin() + static_cast<std::ptrdiff_t>(offset),
                     flash.begin() + static_cast<std::ptrdiff_t>(offset + n));
    }

    std::string LogText() const { return log.Text(); }
    // The message of the first recorded error, as ShowError showed it.
    std::string Shown() const {
        return prompter.shown.empty() ? std::string() : prompter.shown.front().text;
    }
    bool LastLineIsRedBold(const std::string& text) const {
        const auto lines = log.Lines();
        return !lines.empty() && lines.back().text == text && lines.back().colour == kLogRed &&
               (lines.back().effects & kLogBold) != 0;
    }

    TempFolder dir;
    SkippingClock clock;
    Panelsim sim;
    CTarnwickApp app;
    RecordingLog log;
    ScriptedPrompter prompter;
    ScriptedChoices choices;
    ScriptedStatusHost status;
    std::unique_ptr<CTarnwickDoc> doc;
    std::unique_ptr<TransferView> view;
};

}  // namespace tarnwick::testing
