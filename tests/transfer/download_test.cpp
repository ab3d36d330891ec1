// The download against panelsim: placement, what the flash holds afterwards,
// erasing, components, the checks against the panel, and injected faults.
#include "transfer_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr char kTransferAborted[] = "Transfer abgebrochen \r\n";
constexpr char kBootAfterwards[] = "Bitte das Bediengerät booten ...\r\n";

Bytes Data(std::size_t n, std::uint32_t seed) { return CodeLikeData(n, seed); }

// One placement case: the images of the document (unplaced), and where the
// panel must hold each header and its data afterwards.
struct PlacedImage {
    std::uint32_t type;
    std::size_t size;
    std::uint32_t headerAddress;
    std::uint32_t storageAddress;
    std::uint32_t nextHeader;
};
struct PlacementCase {
    const char* name;
    PanelLayout panel;
    std::vector<PlacedImage> images;
};

class PlacementTest : public TransferTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementTest, FlashHoldsEveryPartAtItsPlaceAndTheDocumentComesBackUnchanged) {
    const PlacementCase& c = GetParam();
    std::vector<TestImage> images;
    std::uint32_t seed = 3;
    for (const auto& p : c.images) {
        images.push_back(TestImage{p.type, Data(p.size, seed++)});
        AddImage(images.back(), 4, c.panel.hardwareType);
    }
    doc->SetModifiedFlag(false);
    const auto before = Snapshot(*doc);
    StartPanel(c.panel);

    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown() << LogText();
    EXPECT_TRUE(LastLineIsRedBold(kBootAfterwards));
    const Bytes flash = StopPanel();
    ASSERT_FALSE(flash.empty());
    EXPECT_EQ(sim.ReportNumber("violations"), 0);

    for (std::size_t i = 0; i < images.size(); ++i) {
        const PlacedImage& p = c.images[i];
        SCOPED_TRACE(i);
        ImageHeaderRecord expected = RecordFor(images[i], 4, c.panel.hardwareType);
        expected.StorageAddress = p.storageAddress;
        expected.NextHeaderAddress = p.nextHeader;
        const auto expectedBytes = expected.Bytes();
        const Bytes header = At(flash, c.panel.flashStart, p.headerAddress, 64);
        EXPECT_EQ(header, Bytes(expectedBytes.begin(), expectedBytes.end()));
        ASSERT_EQ(header.size(), 64u);
        const ImageHeaderRecord placed = ImageHeaderRecord::Decode(header.data());
        EXPECT_EQ(placed.StorageAddress, p.storageAddress);
        EXPECT_EQ(placed.NextHeaderAddress, p.nextHeader);
        EXPECT_EQ(At(flash, c.panel.flashStart, p.storageAddress, p.size), images[i].stored);
    }
    // Placement taken back: addresses 0, header records as after the import.
    EXPECT_EQ(Snapshot(*doc), before);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(view->IsPlaced());
    EXPECT_FALSE(ThePort().IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Panels, PlacementTest,
    ::testing::Values(
        PlacementCase{"CeImageOnType40", kKv40, {{1, 40000, 0xBFC10000, 0xBFC10040, 0}}},
        // The 1 KB gap behind the header of a type-0x400 panel.
        PlacementCase{"CeImageOnType400", kKv70, {{1, 20000, 0xBFC80000, 0xBFC80000 + 1088, 0}}},
        PlacementCase{"ImagePairC0", kKv40, {{0x80000000, 5000, 0xBFC10000, 0xBFC10040, 0}}},
        PlacementCase{"FamilyTen", kKv10, {{0x10001, 9000, 0x03E00000, 0x03E00040, 0}}},
        // A split image: the first part in the image area, linked to the
        // overflow at the start of the flash, below the bootloader.
        PlacementCase{"FourPartSet", kKv70,
                      {{1, 30000, 0xBFC80000, 0xBFC80000 + 1088, 0xBF800000},
                       {0x40, 12000, 0xBF800000, 0xBF800040, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, PlacedDocumentIsSentAsItIsWithoutPlacement) {
    // A header already placed elsewhere in the image area keeps its place.
    TestImage image{1, Data(3000, 9), 0xBFC20040, 0, 0xBFC20000};
    AddImage(image);
    const auto before = Snapshot(*doc);
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    const Bytes flash = StopPanel();
    const auto record = RecordFor(image, 4, 0x40).Bytes();
    EXPECT_EQ(At(flash, kKv40.flashStart, 0xBFC20000, 64), Bytes(record.begin(), record.end()));
    EXPECT_EQ(At(flash, kKv40.flashStart, 0xBFC20040, 3000), image.stored);
    EXPECT_EQ(Snapshot(*doc), before);
}

struct EraseCase {
    const char* name;
    int eraseFlash;
    long erases;  // sectors the panel erased
};
class EraseTest : public TransferTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, ErasesTheWholeFlashOrOnlyTheSectorsTouched) {
    app.eraseFlash = GetParam().eraseFlash;
    // 70000 bytes from 0xBFC10040 reach into the second 64 KB sector.
    AddImage(TestImage{1, Data(70000, 4)});
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    StopPanel();
    EXPECT_EQ(sim.ReportNumber("erases"), GetParam().erases);
    EXPECT_EQ(sim.ReportNumber("erase_repeats"), 0);
    EXPECT_EQ(sim.ReportNumber("violations"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Erase, EraseTest,
    // The built-in panel's image region is 63 sectors of 64 KB.
    ::testing::Values(EraseCase{"Whole", 1, 63}, EraseCase{"NoErase", 0, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// A document whose image is placed and that holds the configuration data.
class ComponentTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        if (IsSkipped()) return;
        AddImage(TestImage{1, Data(2000, 5), 0xBFC10040, 0, 0xBFC10000});
        AddConfig(Bytes(3000, 0x5A), 0xBFFF0000);
    }
    // Which of the image data and the configuration the panel holds.
    std::pair<bool, bool> Written() {
        const Bytes flash = StopPanel();
        return {At(flash, kKv40.flashStart, 0xBFC10040, 2000) == PartBytes(*doc->FindPart(1)),
                At(flash, kKv40.flashStart, 0xBFFF0000, 3000) == Bytes(3000, 0x5A)};
    }
};

TEST_F(ComponentTest, CommandLineComponentsLimitWhatIsSent) {
    app.batchCommand = kCommandDownload;
    app.batchComponents = kComponentsCe;
    StartPanel(kKv40);
    ASSERT_TRUE(view->DoTransfer(true)) << Shown();
    EXPECT_TRUE(choices.componentRequests.empty());
    EXPECT_EQ(Written(), std::make_pair(true, false));
}

TEST_F(TransferTest, CommandLineComponentsTakeTheOverflowOfASplitImageAlong) {
    TestImage first{1, Data(6000, 40)}, overflow{0x40, Data(3000, 41)};
    AddImage(first, 4, 0x400);
    AddImage(overflow, 4, 0x400);
    app.batchCommand = kCommandDownload;
    app.batchComponents = kComponentsAll;  // the default: 0x20000101
    StartPanel(kKv70);
    ASSERT_TRUE(view->DoTransfer(true)) << Shown();
    const Bytes flash = StopPanel();
    // The first header links to the overflow, which is there.
    EXPECT_EQ(At(flash, kKv70.flashStart, 0xBF800040, 3000), overflow.stored);
    const Bytes header = At(flash, kKv70.flashStart, 0xBF800000, 64);
    ASSERT_EQ(header.size(), 64u);
    EXPECT_EQ(ImageHeaderRecord::Decode(header.data()).NextHeaderAddress, 0u);
}

TEST_F(TransferTest, CommandLineComponentsWithoutAnImageOfTheDocumentEraseNothing) {
    AddImage(TestImage{1, Data(2000, 5)});
    app.batchCommand = kCommandDownload;
    app.batchComponents = kComponentsHwt;  // the pair 0x40/0x80, not in this document
    StartPanel(kKv40);
    EXPECT_FALSE(view->DoTransfer(true));
    ShowError(log, prompter);
    EXPECT_EQ(Shown(), "Ungültige Image-Kombination");
    EXPECT_FALSE(view->IsPlaced());
    StopPanel();
    EXPECT_EQ(sim.ReportNumber("erases"), 0);
    EXPECT_EQ(sim.ReportNumber("requests_write"), 0);
}

TEST_F(ComponentTest, FirmwareLeavesTheConfigurationOut) {
    choices.components.push_back(ComponentMask(doc->PresentMask(), 0));
    StartPanel(kKv40);
    ASSERT_TRUE(view->DoTransfer(false)) << Shown();
    ASSERT_EQ(choices.componentRequests.size(), 1u);
    EXPECT_EQ(choices.componentRequests[0].first, 0x20000101u);
    EXPECT_EQ(choices.componentRequests[0].second, 0x20000001u);
    EXPECT_EQ(Written(), std::make_pair(true, false));
}

TEST_F(ComponentTest, FirmwareWithConfigurationSendsAll) {
    choices.components.push_back(ComponentMask(doc->PresentMask(), 1));
    StartPanel(kKv40);
    ASSERT_TRUE(view->DoTransfer(false)) << Shown();
    EXPECT_EQ(Written(), std::make_pair(true, true));
}

TEST_F(ComponentTest, CancelledChoiceEndsTheTransferBeforeAnythingIsWritten) {
    StartPanel(kKv40);
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    StopPanel();
    EXPECT_EQ(sim.ReportNumber("requests_write"), 0);
}

TEST_F(TransferTest, NoComponentQuestionWithoutConfiguration) {
    AddImage(TestImage{1, Data(500, 6)});
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    EXPECT_TRUE(choices.componentRequests.empty());
}

TEST_F(TransferTest, EmptyDocumentDoesNothingAndLogsNothing) {
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::NotStarted);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(status.record->dialogsMade, 0);
}

TEST_F(TransferTest, PanelOfAnotherTypeIsRefused) {
    AddImage(TestImage{1, Data(500, 6)}, 4, 0x200);
    const auto before = Snapshot(*doc);
    StartPanel(kKv40);
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Das angeschlossene Gerät paßt nicht zum Dokument");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    EXPECT_EQ(Snapshot(*doc), before);
    EXPECT_FALSE(ThePort().IsOpen());
    StopPanel();
    EXPECT_EQ(sim.ReportNumber("requests_write"), 0);
}

TEST_F(TransferTest, UnknownImageCombinationIsNotPlaced) {
    AddImage(TestImage{1, Data(500, 6)});
    AddImage(TestImage{0x80000000, Data(300, 7)});  // two image sets at once
    const auto before = Snapshot(*doc);
    StartPanel(kKv40);
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Ungültige Image-Kombination");
    EXPECT_EQ(Snapshot(*doc), before);
    EXPECT_FALSE(ThePort().IsOpen());
}

// The panel's first image has Windows CE major version panel; the document
// brings version document.
struct UpgradeCase {
    const char* name;
    std::uint32_t panel;
    std::uint32_t document;
    int impex;
    bool allowed;
};
class UpgradeTest : public TransferTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeTest, WindowsCeUpgradeRule) {
    const UpgradeCase& c = GetParam();
    // The panel's image comes from a document of its own, preloaded.
    TestImage onPanel{1, Data(800, 11)};
    AddImage(onPanel, c.panel);
    ASSERT_TRUE(doc->OnSaveDocument(dir.File("panel.img")));
    doc->OnNewDocument();
    AddImage(TestImage{1, Data(900, 12)}, c.document);
    app.impexMode = c.impex;

    StartPanel(kKv40, {"--preload", dir.File("panel.img")});
    const TransferOutcome outcome = view->OnTransfer();
    if (c.allowed) {
        EXPECT_EQ(outcome, TransferOutcome::Done) << Shown();
    } else {
        EXPECT_EQ(outcome, TransferOutcome::Failed);
        EXPECT_EQ(Shown(),
                  "Upgrade des Bediengeräts auf die höhere Windows CE-Version ist nicht möglich");
        EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
        StopPanel();
        EXPECT_EQ(sim.ReportNumber("requests_write"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UpgradeTest,
    ::testing::Values(UpgradeCase{"TwoToThree", 2, 3, 0, true},
                      UpgradeCase{"TwoToFour", 2, 4, 0, false},
                      UpgradeCase{"ThreeToFour", 3, 4, 0, false},
                      UpgradeCase{"FourToFour", 4, 4, 0, true},
                      UpgradeCase{"FourToThree", 4, 3, 0, true},
                      UpgradeCase{"ThreeToFourInImpexMode", 3, 4, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

// An injected fault and the message the person sees for it.
struct FaultCase {
    const char* name;
    std::vector<std::string> options;
    const char* shown;
};
class DownloadFaultTest : public TransferTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaultTest, EndsWithItsMessageAndTheClosingLineNeverWithSuccess) {
    AddImage(TestImage{1, Data(20000, 13)});
    const auto before = Snapshot(*doc);
    StartPanel(kKv40, GetParam().options);
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), GetParam().shown);
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    const std::string text = LogText();
    EXPECT_EQ(text.find("Ok\r\n", text.find("Transfer läuft...")), std::string::npos);
    EXPECT_EQ(text.find(kBootAfterwards), std::string::npos);
    // The message is in the log too, and the document is as it was.
    EXPECT_NE(text.find(std::string(GetParam().shown) + "\r\n"), std::string::npos);
    EXPECT_EQ(Snapshot(*doc), before);
    EXPECT_FALSE(ThePort().IsOpen());
    EXPECT_TRUE(PendingErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadFaultTest,
    ::testing::Values(
        FaultCase{"DroppedReply", {"--fault", "drop@write:2"},
                  "Zeitüberwachungsfehler beim Empfang der Daten"},
        FaultCase{"ErrorReply", {"--fault", "error@write:1"},
                  "Zugriff auf eine im Gerät ungültige Adresse"},
        FaultCase{"WrongPacketChecksum", {"--fault", "crc@write:1"}, "Protokollfehler"},
        FaultCase{"WrongSequence", {"--fault", "seq@erase:1"}, "Protokollfehler"},
        FaultCase{"WrongMemoryChecksum", {"--fault", "sum@checksum:1"},
                  "Die Checksumme der Daten im Gerät ist falsch"},
        FaultCase{"CutReply", {"--fault", "short@write:1"},
                  "Zeitüberwachungsfehler beim Empfang der Daten"},
        FaultCase{"NoSynchronisation", {"--sync-after", "never"},
                  "Fehler bei der Erkennung der Baudrate"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, CorruptedReplyIsNeverTakenAsSuccess) {
    AddImage(TestImage{1, Data(20000, 13)});
    StartPanel(kKv40, {"--fault", "corrupt@write:1"});
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_FALSE(Shown().empty());
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    EXPECT_EQ(LogText().find(kBootAfterwards), std::string::npos);
}

TEST_F(TransferTest, PanelThatNeverBootsTimesOut) {
    clock.SetSleepGrace(0);  // the five minutes of the handshake pass at once
    AddImage(TestImage{1, Data(500, 6)});
    StartPanel(kKv40, {"--boot-delay", "never"});
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Zeitüberschreitungsfehler beim Download");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
}

TEST_F(TransferTest, CancelWhileWaitingForTheBootloader) {
    status.cancelAtOnce = true;
    AddImage(TestImage{1, Data(500, 6)});
    StartPanel(kKv40, {"--boot-delay", "never"});
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
    // The boot prompt with its warning was shown, in bold from the top.
    const auto texts = status.record->texts;
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front().rfind("Bitte das Bediengerät booten ...\n\nAchtung !", 0), 0u);
}

TEST_F(TransferTest, CancelDuringTheTransferStopsAtTheNextPiece) {
    AddImage(TestImage{1, Data(100000, 14)});
    const auto before = Snapshot(*doc);
    status.cancelAfterBytes = 16385;
    StartPanel(kKv40);
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_EQ(Snapshot(*doc), before);
    StopPanel();
    // The first piece went out, the cancel stopped the second before writing.
    EXPECT_EQ(sim.ReportNumber("bytes_written"), 16384);
}

TEST_F(TransferTest, PortThatCannotBeOpenedIsShownAsNotAvailable) {
    AddImage(TestImage{1, Data(500, 6)});
    ThePort().SetPathResolver([this](int) { return dir.File("no-such-device"); });
    EXPECT_EQ(view->OnTransfer(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Ausgewählte Schnittstelle ist nicht verfügbar");
    EXPECT_TRUE(LastLineIsRedBold(kTransferAborted));
}

TEST_F(TransferTest, LogShowsThePanelAndTheOutcomeInOrder) {
    AddImage(TestImage{1, Data(500, 6)}, 4, 0x10);
    StartPanel(kKv10);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    // Version 0xFFFF of a type-0x10 panel reads 1.00; its date comes as text.
    EXPECT_EQ(LogText(),
              "Transfer läuft...\r\n"
              "Operator Panel Typ:\tKV10\r\nBootloader Version:\t1.00\r\n"
              "Bootloader Datum:\t24.12.1999\r\n"
              "Ok\r\n"
              "Bitte das Bediengerät booten ...\r\n");
}

}  // namespace
}  // namespace tarnwick::testing
