// The upload against panelsim: what was downloaded comes back part by part,
// the configuration area on request, the batch save only after success, and
// the ways an upload ends early.
#include "transfer_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr char kUploadAborted[] = "Rücktransfer abgebrochen\r\n";

struct ExpectedPart {
    std::uint32_t id;
    std::uint32_t address;
    Bytes bytes;
};

class UploadTest : public TransferTest {
protected:
    void ExpectParts(const std::vector<ExpectedPart>& expected) {
        ASSERT_EQ(doc->PartCount(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            ImagePart* part = doc->PartAt(static_cast<int>(i));
            const Bytes bytes = PartBytes(*part);
            EXPECT_EQ(part->Id(), expected[i].id);
            EXPECT_EQ(part->Address(), expected[i].address);
            EXPECT_EQ(bytes, expected[i].bytes);
            EXPECT_EQ(part->Checksum(), Crc16(bytes.data(), bytes.size(), kCrcInit));
        }
    }
};

// The header record as the panel holds it after a download.
Bytes PlacedHeader(const TestImage& image, std::uint32_t hw, std::uint32_t storage,
                   std::uint32_t next) {
    ImageHeaderRecord record = RecordFor(image, 4, hw);
    record.StorageAddress = storage;
    record.NextHeaderAddress = next;
    const auto b = record.Bytes();
    return Bytes(b.begin(), b.end());
}

struct UploadCase {
    const char* name;
    bool twoImages;   // the split set on a type-0x400 panel, else one image on 0x40
    bool withConfig;
};
class UploadRoundTrip : public UploadTest, public ::testing::WithParamInterface<UploadCase> {};

TEST_P(UploadRoundTrip, DocumentEqualsWhatWasDownloaded) {
    const UploadCase& c = GetParam();
    const PanelLayout panel = c.twoImages ? kKv70 : kKv40;
    std::vector<TestImage> images{TestImage{1, CodeLikeData(30000, 21)}};
    if (c.twoImages) images.push_back(TestImage{0x40, CodeLikeData(9000, 22)});
    for (const auto& image : images) AddImage(image, 4, panel.hardwareType);
    StartPanel(panel);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();

    std::vector<ExpectedPart> expected;
    if (c.withConfig) {
        // The rest of the flash behind the first image area, still erased.
        expected.push_back({kConfigPartId, 0xBFFF0000, Bytes(0x10000, 0xFF)});
    }
    if (!c.twoImages) {
        expected.push_back({0x20000000, 0xBFC10000, PlacedHeader(images[0], 0x40, 0xBFC10040, 0)});
        expected.push_back({0x1, 0xBFC10040, images[0].stored});
    } else {
        const std::uint32_t data = 0xBFC80000 + 1088;
        expected.push_back({0x20000000, 0xBFC80000, PlacedHeader(images[0], 0x400, data, 0xBF800000)});
        expected.push_back({0x1, data, images[0].stored});
        expected.push_back({0x400, 0xBF800000, PlacedHeader(images[1], 0x400, 0xBF800040, 0)});
        expected.push_back({0x200, 0xBF800040, images[1].stored});
    }

    choices.components.push_back(c.withConfig ? kConfigPartId : 0u);
    log.ClearLog();
    ASSERT_EQ(view->OnUpload(), TransferOutcome::Done) << Shown();
    ExpectParts(expected);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(doc->HardwareType(), panel.hardwareType);
    EXPECT_EQ(doc->CeVersionMajor(), 4u);
    EXPECT_EQ(doc->ImageAreaSize(), 0x003E0000u);
    EXPECT_EQ(doc->StoredTotal(), 0x003E0000u);
    EXPECT_FALSE(ThePort().IsOpen());
    ASSERT_EQ(choices.componentRequests.size(), 1u);
    EXPECT_EQ(choices.componentRequests[0].first, kConfigPartId);

    // The stored form survives a save and an open.
    ASSERT_TRUE(doc->OnSaveDocument(dir.File("up.img")));
    ASSERT_TRUE(doc->OnOpenDocument(dir.File("up.img")));
    ExpectParts(expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, UploadRoundTrip,
    ::testing::Values(UploadCase{"OneImage", false, false},
                      UploadCase{"OneImageWithConfiguration", false, true},
                      UploadCase{"TwoImages", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UploadTest, LogShowsThePanelItsChecksumAndTheVersions) {
    TestImage image{1, CodeLikeData(3000, 23)};
    AddImage(image);
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    choices.components.push_back(0u);
    ASSERT_EQ(view->OnUpload(), TransferOutcome::Done) << Shown();
    char checksum[64];
    std::snprintf(checksum, sizeof checksum, "Checksumme:\t0x%04x\r\n",
                  Crc16(image.stored.data(), image.stored.size(), kCrcInit));
    EXPECT_EQ(LogText(), std::string("Rücktransfer läuft ...\r\n"
                                     "Operator Panel Typ:\tKV40\r\nBootloader Version:\t1.05\r\n"
                                     "Bootloader Datum:\t15.03.2004\r\n") +
                             checksum +
                             "Windows CE:\t4.20\r\n"
                             "Ausgabestand Windows CE:\tV 1.2.3.4\r\n"
                             "Ausgabestand Applikation:\tB 1.0.0.2\r\n"
                             "Ok\r\n");
}

struct BatchCase {
    const char* name;
    std::uint32_t components;
    std::size_t parts;  // with the configuration part when the mask is exactly ALL
};
class BatchUploadTest : public UploadTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(BatchUploadTest, ComponentsFromTheCommandLineAndSavedOnSuccess) {
    AddImage(TestImage{1, CodeLikeData(3000, 24)});
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    app.batchCommand = kCommandUpload;
    app.batchComponents = GetParam().components;
    app.batchFile = dir.File("batch.img");
    ASSERT_EQ(view->OnUpload(), TransferOutcome::Done) << Shown();
    EXPECT_TRUE(choices.componentRequests.empty());
    EXPECT_EQ(doc->PartCount(), GetParam().parts);
    EXPECT_TRUE(std::filesystem::exists(app.batchFile));
    EXPECT_FALSE(doc->IsModified());
}

INSTANTIATE_TEST_SUITE_P(
    Masks, BatchUploadTest,
    ::testing::Values(BatchCase{"All", kComponentsAll, 3}, BatchCase{"Ce", kComponentsCe, 2},
                      BatchCase{"Hwt", kComponentsHwt, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UploadTest, FailedBatchUploadLeavesTheFileAsItWas) {
    AddImage(TestImage{1, CodeLikeData(3000, 25)});
    const std::string target = dir.File("keep.img");
    WriteBytes(target, Bytes{1, 2, 3, 4});
    // Checksums 1 and 2 verify the download; 3 is the panel's directory,
    // 4 the uploaded header, 5 the uploaded image data.
    StartPanel(kKv40, {"--fault", "sum@checksum:5"});
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    app.batchCommand = kCommandUpload;
    app.batchComponents = kComponentsCe;
    app.batchFile = target;
    prompter.shown.clear();
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Die Checksumme der Daten im Gerät ist falsch");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
    EXPECT_EQ(ReadBytes(target), (Bytes{1, 2, 3, 4}));
    EXPECT_FALSE(ThePort().IsOpen());
}

TEST_F(UploadTest, EmptyPanelHasNoValidDataForAnInteractiveUpload) {
    StartPanel(kKv40);
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Keine gültigen Daten im Bediengerät gefunden");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
    EXPECT_TRUE(choices.componentRequests.empty());
}

TEST_F(UploadTest, CancelledComponentChoice) {
    AddImage(TestImage{1, CodeLikeData(3000, 26)});
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
}

TEST_F(UploadTest, SaveQuestionCancelledStartsNothing) {
    AddImage(TestImage{1, CodeLikeData(300, 27)});
    doc->SetModifiedFlag(true);
    prompter.answers.push_back(MessageAnswer::Cancel);
    log.ClearLog();
    EXPECT_EQ(view->OnUpload(), TransferOutcome::NotStarted);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(doc->PartCount(), 2);
}

// A chain of headers that comes back to itself ends the upload instead of
// reading for ever.
TEST_F(UploadTest, HeaderChainThatLoopsEndsTheUpload) {
    TestImage image{1, CodeLikeData(1000, 28), 0xBFC10040, 0xBFC10000};
    const Bytes header = PlacedHeader(image, 0x40, 0xBFC10040, 0xBFC10000);
    WriteBytes(dir.File("header.bin"), header);
    WriteBytes(dir.File("data.bin"), image.stored);
    StartPanel(kKv40, {"--load", "0xBFC10000:" + dir.File("header.bin"), "--load",
                       "0xBFC10040:" + dir.File("data.bin")});
    app.batchCommand = kCommandUpload;
    app.batchComponents = kComponentsCe;
    app.batchFile = dir.File("never.img");
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Es ist ein Fehler aufgetreten \nCode: 0x7b Funktion: 0x43 ");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
    EXPECT_FALSE(std::filesystem::exists(app.batchFile));
    StopPanel();
    // Read once, not again and again.
    EXPECT_LT(sim.ReportNumber("requests_read"), 20);
}

TEST_F(UploadTest, CancelDuringTheUpload) {
    AddImage(TestImage{1, CodeLikeData(60000, 29)});
    StartPanel(kKv40);
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    choices.components.push_back(0u);
    status.cancelAfterBytes = 20000;
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
    EXPECT_FALSE(ThePort().IsOpen());
}

TEST_F(UploadTest, DroppedReadReplyEndsWithTheTimeout) {
    AddImage(TestImage{1, CodeLikeData(3000, 30)});
    StartPanel(kKv40, {"--fault", "drop@read:8"});
    ASSERT_EQ(view->OnTransfer(), TransferOutcome::Done) << Shown();
    choices.components.push_back(0u);
    EXPECT_EQ(view->OnUpload(), TransferOutcome::Failed);
    EXPECT_EQ(Shown(), "Zeitüberwachungsfehler beim Empfang der Daten");
    EXPECT_TRUE(LastLineIsRedBold(kUploadAborted));
}

}  // namespace
}  // namespace tarnwick::testing
