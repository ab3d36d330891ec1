#include <gtest/gtest.h>

#include "app/file.h"
#include "import_fixture.h"
#include "osimage/ce_import.h"
#include "osimage/compression_job.h"

namespace tarnwick {
namespace {

using testing::CodeLikeData;
using testing::FileSizeLimit;
using testing::ImportFixture;
using testing::kAttrCompressed;
using testing::kAttrStoredA;
using testing::Nb0Section;
using testing::RandomData;

class ImportTest : public ImportFixture {
protected:
    // An interactive import of path: the file dialog answers with it.
    bool Import(const std::string& path) {
        // A document from an earlier import is dropped without saving.
        if (doc->IsModified()) prompter.answers.push_back(MessageAnswer::No);
        prompter.openPaths.push_back(path);
        return OnImportCe(*view, std::nullopt);
    }
};

TEST_F(ImportTest, AGoodImportWritesItsLinesAndStoresBothParts) {
    Nb0Section s;
    s.Data(RandomData(1));
    const std::string path = WriteNb0("one.NB0", {s});
    ASSERT_TRUE(Import(path));

    const std::vector<std::string> expected{
        "Importiere " + path + "...",
        "Ok\r\n",
        "Windows CE:\t4.20\r\n",
        "Ausgabestand Windows CE:\tV 1.2.3.4\r\n",
        "Ausgabestand Applikation:\tB 1.0.0.2\r\n",
        "Größe der komprimierten Daten:\t0x00000044 Bytes\r\n",
    };
    EXPECT_EQ(LogTexts(), expected);
    for (const auto& line : log.Lines()) EXPECT_EQ(line.colour, kLogBlack);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(doc->HasValidImageSet());

    const std::vector<std::uint32_t> ids{0x1, 0x20000000};
    EXPECT_EQ(PartIds(), ids);
    EXPECT_EQ(PartBytes(*doc->FindPart(0x1)), s.data);
    ImagePart& header = *doc->FindPart(0x20000000);
    const auto record = PartBytes(header);
    EXPECT_EQ(record, ExpectedRecord(s, 1, s.data, s.data));
    EXPECT_EQ(header.Checksum(), Crc16(record.data(), record.size(), 0xFFFF));
    EXPECT_EQ(doc->FindPart(0x1)->Checksum(), Crc16(s.data.data(), 1, 0xFFFF));

    // The description values come from the first header.
    EXPECT_EQ(doc->CeImageVersion(), s.ceImageVersion);
    EXPECT_EQ(doc->AppVersion(), s.appVersion);
    EXPECT_EQ(doc->CeVersionMajor(), 4u);
    EXPECT_EQ(doc->CeVersionMinor(), 20u);
    EXPECT_EQ(doc->HardwareType(), 0x200u);
    EXPECT_EQ(doc->AuxValue(), s.auxValue);
    EXPECT_EQ(doc->ImageAreaSize(), s.imageAreaSize);
    // Remembered for the next dialog.
    EXPECT_EQ(GetProfileString("FILE_DIALOGS", "Import_Dialog", ""), path);
}

TEST_F(ImportTest, CompressedImagesAreStoredAsBlockStreams) {
    Nb0Section s;
    s.Attributes(kAttrCompressed).Data(CodeLikeData(40000));
    const std::string path = WriteNb0("code.NB0", {s});
    host.cancelAfterBytes = UINT64_MAX;
    ASSERT_TRUE(Import(path));

    const auto stream = BlockStream(s.data);
    ASSERT_LT(stream.size(), s.data.size());
    ImagePart& data = *doc->FindPart(0x1);
    EXPECT_EQ(PartBytes(data), stream);
    EXPECT_EQ(data.Checksum(), Crc16(stream.data(), stream.size(), 0xFFFF));
    EXPECT_EQ(PartBytes(*doc->FindPart(0x20000000)), ExpectedRecord(s, 40000, s.data, stream));
    EXPECT_EQ(doc->StoredTotal(), RoundUp4(static_cast<std::uint32_t>(stream.size()) + 64));
    // The bar went to 100 % over the compressed bytes.
    EXPECT_EQ(host.record->total, 40000u);
    EXPECT_EQ(host.record->lastPercent, 100u);
    EXPECT_EQ(host.record->texts, std::vector<std::string>{"Komprimiere das CE-Image ..."});
}

TEST_F(ImportTest, StoredTotalIsRoundedToFourBytes) {
    const std::pair<std::size_t, std::uint32_t> cases[] = {{1, 68}, {4, 68}, {5, 72}, {0, 64}};
    for (const auto& [size, total] : cases) {
        SCOPED_TRACE(size);
        Nb0Section s;
        s.Data(RandomData(size));
        ASSERT_TRUE(Import(WriteNb0("s.NB0", {s})));
        EXPECT_EQ(doc->StoredTotal(), total);
    }
}

TEST_F(ImportTest, StoredTotalEqualToTheAreaIsAccepted) {
    Nb0Section s;
    s.Data(RandomData(4)).Area(68);
    EXPECT_TRUE(Import(WriteNb0("s.NB0", {s})));
    s.Area(67);
    EXPECT_FALSE(Import(WriteNb0("s.NB0", {s})));
    EXPECT_EQ(prompter.shown.back().text, "Verfügbarer Speicher im Bediengerät reicht nicht aus");
    // The images stay, but the document is neither usable nor modified.
    EXPECT_EQ(doc->PartCount(), 2);
    EXPECT_FALSE(doc->IsUsable());
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(doc->HasValidImageSet());
}

TEST_F(ImportTest, ALaterSectionOfTheSameTypeReplacesTheDataButKeepsBothHeaders) {
    Nb0Section a, b;
    a.Data(RandomData(10, 1));
    b.Data(RandomData(20, 2)).Start(0x90000000);
    ASSERT_TRUE(Import(WriteNb0("twice.NB0", {a, b})));
    const std::vector<std::uint32_t> ids{0x20000000, 0x1, 0x20000000};
    EXPECT_EQ(PartIds(), ids);
    EXPECT_EQ(PartBytes(*doc->FindPart(0x1)), b.data);
    EXPECT_EQ(PartBytes(*doc->PartAt(0)), ExpectedRecord(a, 10, a.data, a.data));
    EXPECT_EQ(PartBytes(*doc->PartAt(2)), ExpectedRecord(b, 20, b.data, b.data));
    EXPECT_EQ(doc->StoredTotal(), 160u);  // R(R(10 + 64) + 20 + 64)
}

TEST_F(ImportTest, UnknownLaterTypesGetTheUnknownIdentifierForBothParts) {
    Nb0Section a, b;
    a.Data(RandomData(10));
    b.Type(0x12345).Data(RandomData(20));
    ASSERT_TRUE(Import(WriteNb0("unknown.NB0", {a, b})));
    const std::vector<std::uint32_t> ids{0x1, 0x20000000, 0x80000000, 0x80000000};
    EXPECT_EQ(PartIds(), ids);
    EXPECT_FALSE(doc->HasValidImageSet());
}

TEST_F(ImportTest, ARefusedImportLogsEveryFailedCheckAndLeavesNoImages) {
    Nb0Section a, b;
    a.Data(RandomData(10));
    b.Type(2).Data(RandomData(10)).Signature(0x12345678).Hardware(0x400);
    const std::string path = WriteNb0("bad.NB0", {a, b});
    EXPECT_FALSE(Import(path));
    const std::vector<std::string> expected{
        "Importiere " + path + "...",
        "\r\nImage 1 hat falsche Signatur\r\n",
        "\r\nImage 1 hat anderen Hardwaretyp als Image 0\r\n",
        "Ungültiger Import-Header\r\n",
        "Import abgebrochen \r\n",
    };
    EXPECT_EQ(LogTexts(), expected);
    const auto lines = log.Lines();
    EXPECT_EQ(lines.back().colour, kLogRed);
    EXPECT_EQ(lines.back().effects, kLogBold);
    EXPECT_EQ(lines[3].colour, kLogBlack);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Ungültiger Import-Header");
    EXPECT_EQ(doc->PartCount(), 0);
    EXPECT_FALSE(doc->IsUsable());
    EXPECT_EQ(host.record->dialogsMade, 0);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(ImportTest, AFileShorterThanOneHeaderHasNoEntries) {
    for (std::size_t length : {std::size_t{0}, std::size_t{100}}) {
        SCOPED_TRACE(length);
        const std::string path = folder.File("short.NB0");
        testing::WriteBytes(path, RandomData(length));
        EXPECT_FALSE(Import(path));
        const std::vector<std::string> expected{
            "Importiere " + path + "...",
            "\r\nImage 0 hat falsche Signatur\r\n",
            "\r\nImage 0 hat ungültige Ausführungs-Adresse\r\n",
            "\r\nImage 0 verwendet nicht definierte Attribute\r\n",
            "\r\nImage 0 verwendet ungültige Kombination von Attributen\r\n",
            "Ungültiger Import-Header\r\n",
            "Import abgebrochen \r\n",
        };
        EXPECT_EQ(LogTexts(), expected);
        EXPECT_EQ(prompter.shown.back().text, "Ungültiger Import-Header");
    }
}

TEST_F(ImportTest, AFinalFragmentShorterThanAHeaderIsNotReadAsOne) {
    Nb0Section s;
    s.Data(RandomData(10));
    auto bytes = testing::BuildNb0({s});
    const auto tail = testing::Nb0Header(s);
    bytes.insert(bytes.end(), tail.begin(), tail.begin() + 100);  // a header cut short
    const std::string path = folder.File("tail.NB0");
    testing::WriteBytes(path, bytes);
    EXPECT_TRUE(Import(path));
    const std::vector<std::uint32_t> ids{0x1, 0x20000000};
    EXPECT_EQ(PartIds(), ids);
}

TEST_F(ImportTest, CancelDuringCompressionEmptiesTheDocument) {
    Nb0Section s;
    s.Attributes(kAttrCompressed).Data(RandomData(3 * 16384));
    host.cancelAfterBytes = 16384;  // pressed while the first piece is read
    EXPECT_FALSE(Import(WriteNb0("cancel.NB0", {s})));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Der Vorgang wurde vom Anwender abgebrochen");
    const auto texts = LogTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "Der Vorgang wurde vom Anwender abgebrochen\r\n");
    EXPECT_EQ(texts.back(), "Import abgebrochen \r\n");
    EXPECT_EQ(doc->PartCount(), 0);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(host.record->done, 16384u);  // stopped at the first piece
}

TEST_F(ImportTest, CancelWithNothingToCompressChangesNothing) {
    Nb0Section s;
    s.Data(RandomData(20000));
    host.cancelAtOnce = true;
    EXPECT_TRUE(Import(WriteNb0("stored.NB0", {s})));
    for (const auto& e : host.record->Events()) EXPECT_EQ(e.rfind("percent:", 0), std::string::npos);
    EXPECT_EQ(doc->PartCount(), 2);
}

TEST_F(ImportTest, TheErrorChainOfACancelledJob) {
    Nb0Section s;
    s.Attributes(kAttrCompressed).Data(RandomData(2 * 16384));
    host.cancelAfterBytes = 1;
    prompter.openPaths.push_back(WriteNb0("c.NB0", {s}));
    EXPECT_FALSE(ImportCeImage(*view, std::nullopt));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {0x3B, 0x32}, {0x37, 0x6B}, {0x3D, 0x6C}, {0x38, 0x6E}, {0x38, 0x74}};
    EXPECT_EQ(Errors(), expected);
}

TEST_F(ImportTest, AHeaderRecordThatCannotBeWrittenEndsTheJob) {
    Nb0Section s;
    s.Data(RandomData(10));  // the data part fits, the 64-byte record does not
    prompter.openPaths.push_back(WriteNb0("h.NB0", {s}));
    {
        FileSizeLimit full(32);
        EXPECT_FALSE(ImportCeImage(*view, std::nullopt));
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {0x3C, 0x38}, {0x3D, 0x70}, {0x38, 0x6E}, {0x38, 0x74}};
    EXPECT_EQ(Errors(), expected);
    EXPECT_EQ(doc->PartCount(), 0);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(ImportTest, AFileThatCannotBeOpenedIsNotFound) {
    const std::string path = folder.File("missing.NB0");
    EXPECT_FALSE(Import(path));
    EXPECT_EQ(prompter.shown.back().text, "Datei nicht gefunden");
    EXPECT_EQ(ErrorSourceText(), path);
    EXPECT_EQ(LogTexts().back(), "Import abgebrochen \r\n");
}

TEST_F(ImportTest, ACancelledDialogLeavesAnEmptyDocumentAndSaysNothing) {
    Nb0Section s;
    s.Data(RandomData(10));
    ASSERT_TRUE(Import(WriteNb0("a.NB0", {s})));
    doc->SetModifiedFlag(false);
    // No path queued: the dialog is cancelled.
    EXPECT_TRUE(OnImportCe(*view, std::nullopt));
    EXPECT_EQ(doc->PartCount(), 0);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(doc->GetTitle(), "Neu");
}

TEST_F(ImportTest, CancellingTheSaveQuestionKeepsTheOldDocument) {
    Nb0Section s;
    s.Data(RandomData(10));
    ASSERT_TRUE(Import(WriteNb0("a.NB0", {s})));
    ASSERT_TRUE(doc->IsModified());
    prompter.answers.push_back(MessageAnswer::Cancel);
    const auto dialogsBefore = prompter.openRequests.size();
    EXPECT_TRUE(OnImportCe(*view, std::nullopt));
    EXPECT_EQ(doc->PartCount(), 2);
    EXPECT_EQ(prompter.openRequests.size(), dialogsBefore);
}

// ---- batch import ---------------------------------------------------------

TEST_F(ImportTest, ABatchImportSavesBesideTheFile) {
    Nb0Section s;
    s.Data(RandomData(100));
    const std::string path = WriteNb0("panel.NB0", {s});
    EXPECT_TRUE(OnImportCe(*view, path));
    EXPECT_TRUE(prompter.openRequests.empty());
    const std::string saved = folder.File("panel.img");
    EXPECT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(LogTexts().back(), "Ok\r\n");
    EXPECT_NE(log.Text().find("Speichern von  " + saved + "...\r\n"), std::string::npos);
}

TEST_F(ImportTest, AFailedBatchImportSavesNothing) {
    const std::string saved = folder.File("panel.img");
    testing::WriteBytes(saved, {1, 2, 3});
    Nb0Section s;
    s.Data(RandomData(100)).Type(0x40);
    EXPECT_FALSE(OnImportCe(*view, WriteNb0("panel.NB0", {s})));
    EXPECT_EQ(testing::ReadBytes(saved), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(log.Text().find("Speichern"), std::string::npos);
}

// ---- the split --------------------------------------------------------------

class SplitTest : public ImportFixture {
protected:
    // Flash size at which a type-0x20 panel leaves limit bytes for the image.
    static std::uint32_t FlashFor(std::uint32_t limit) { return 0x10000 + 64 + limit; }

    Nb0Section Main(std::size_t size) {
        Nb0Section s;
        s.Hardware(0x20).Data(RandomData(size)).Start(0x80040000);
        return s;
    }
};

TEST_F(SplitTest, ThreePiecesFitAndTheRestBecomesType0x40) {
    Nb0Section before;
    before.Type(0x10000).Hardware(0x20).Data(RandomData(300, 3));
    const Nb0Section main = Main(100000);
    const std::string path = WriteNb0("big.NB0", {before, main});

    PathValue p(path);
    ASSERT_TRUE(PrepareImportFile(p, FlashFor(50000)));
    ASSERT_NE(p.full, path);
    EXPECT_EQ(p.full.rfind(folder.File("tmp/exp"), 0), 0u);
    const auto split = testing::ReadBytes(p.full);
    ::unlink(p.full.c_str());

    Nb0Section first = main, rest = main;
    first.data.assign(main.data.begin(), main.data.begin() + 49152);
    rest.Type(0x40).Start(0x80040000 + 49152);
    rest.data.assign(main.data.begin() + 49152, main.data.end());
    EXPECT_EQ(split, testing::BuildNb0({before, first, rest}));
    EXPECT_EQ(testing::GetLe32(split, 428 + 44), 49152u);
    EXPECT_EQ(testing::GetLe32(split, 428 + 128 + 49152 + 44), 50848u);
}

TEST_F(SplitTest, ALimitNoPieceFitsMovesEverythingIntoType0x40) {
    const Nb0Section main = Main(100000);
    PathValue p(WriteNb0("big.NB0", {main}));
    ASSERT_TRUE(PrepareImportFile(p, FlashFor(100)));
    const auto split = testing::ReadBytes(p.full);
    ::unlink(p.full.c_str());
    Nb0Section first = main, rest = main;
    first.data.clear();
    rest.Type(0x40);
    EXPECT_EQ(split, testing::BuildNb0({first, rest}));
}

TEST_F(SplitTest, NoSplitWhenTheImageFitsOrCannotBePlaced) {
    struct Case {
        const char* name;
        std::uint32_t hardware;
        std::uint32_t flash;
        std::uint32_t type;
    };
    const Case cases[] = {
        {"fits", 0x20, FlashFor(100000), 1},
        {"hardware without an image region", 0x10, FlashFor(100), 1},
        {"no type-1 image", 0x20, FlashFor(100), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Nb0Section s = Main(100000);
        s.Hardware(c.hardware).Type(c.type);
        const std::string path = WriteNb0("x.NB0", {s});
        PathValue p(path);
        EXPECT_TRUE(PrepareImportFile(p, c.flash));
        EXPECT_EQ(p.full, path);
        EXPECT_TRUE(TempFiles().empty());
    }
}

TEST_F(SplitTest, FindSplitPointCountsWholePiecesOfEncodedBlocks) {
    const auto random = RandomData(100000);
    const std::string path = folder.File("raw");
    testing::WriteBytes(path, random);
    File f;
    ASSERT_TRUE(f.Open(path, File::Mode::Read));
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {3 * 16392, 49152},      // exactly three stored blocks
        {3 * 16392 - 1, 32768},  // one byte short of the third
        {100, 0},
        {200000, 100000},        // everything fits
    };
    for (const auto& [limit, expected] : cases) {
        SCOPED_TRACE(limit);
        f.Seek(0);
        EXPECT_EQ(FindSplitPoint(f, 100000, limit), expected);
    }
    f.Seek(50000);
    EXPECT_EQ(FindSplitPoint(f, 100000, 1000000), 0u);  // the file ends early
}

TEST_F(SplitTest, ASplitImportRestartsStoredTotalAtTheOverflowImage) {
    Nb0Section main = Main(100000);
    Nb0Section hw;
    hw.Type(0x10000).Hardware(0x20).Data(RandomData(10, 9));
    const std::string path = WriteNb0("big.NB0", {main, hw});
    view->panelFlashSize = FlashFor(50000);
    prompter.openPaths.push_back(path);
    ASSERT_TRUE(OnImportCe(*view, std::nullopt));

    const std::vector<std::uint32_t> ids{0x1, 0x20000000, 0x200, 0x400, 0x10, 0x20};
    EXPECT_EQ(PartIds(), ids);
    EXPECT_EQ(doc->FindPart(0x1)->Size(), 49152u);
    EXPECT_EQ(doc->FindPart(0x200)->Size(), 50848u);
    // R(50848 + 64) restarts the count; the later image adds to it.
    EXPECT_EQ(doc->StoredTotal(), RoundUp4(RoundUp4(50848 + 64) + 10 + 64));
    const auto overflow = PartBytes(*doc->FindPart(0x400));
    EXPECT_EQ(testing::GetLe32(overflow, 6), 0x80040000u + 49152);
    EXPECT_EQ(testing::GetLe32(overflow, 52), 0x40u);
    // The log shows the chosen file; the split file is gone.
    EXPECT_EQ(LogTexts().front(), "Importiere " + path + "...");
    EXPECT_EQ(TempFiles().size(), 6u);  // the six parts' own files
    doc->RemoveAllParts();
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(SplitTest, ASplitFileThatCannotBeWrittenStopsTheImport) {
    const std::string path = WriteNb0("big.NB0", {Main(100000)});
    view->panelFlashSize = FlashFor(50000);
    prompter.openPaths.push_back(path);
    {
        FileSizeLimit full(20000);
        EXPECT_FALSE(ImportCeImage(*view, std::nullopt));
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x00, 0x38},
                                                                         {0x38, 0x41}};
    EXPECT_EQ(Errors(), expected);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(SplitTest, AShortReadWhileCopyingStopsTheSplit) {
    // A first part longer than the data that is there: the copy comes up short.
    const std::string path = WriteNb0("short.NB0", {Main(1000)});
    File f;
    ASSERT_TRUE(f.Open(path, File::Mode::Read));
    PathValue p(path);
    EXPECT_FALSE(WriteSplitFile(f, p, 0, 5000));
    EXPECT_EQ(p.full, path);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x00, 0x33}};
    EXPECT_EQ(Errors(), expected);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(SplitTest, TruncatedDataIsAReadErrorAndLeavesNoTemporaryFile) {
    Nb0Section main = Main(60000);
    main.dataSizeInHeader = 100000;
    view->panelFlashSize = FlashFor(50000);
    prompter.openPaths.push_back(WriteNb0("cut.NB0", {main}));
    EXPECT_FALSE(OnImportCe(*view, std::nullopt));
    EXPECT_EQ(prompter.shown.back().text, "Lesefehler beim Dateizugriff");
    EXPECT_EQ(doc->PartCount(), 0);
    EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace tarnwick
