#include <gtest/gtest.h>

#include "import_fixture.h"
#include "osimage/ce_export.h"
#include "osimage/ce_import.h"

namespace tarnwick {
namespace {

using testing::CodeLikeData;
using testing::ImportFixture;
using testing::Nb0Section;
using testing::RandomData;

class ExportTest : public ImportFixture {
protected:
    void ImportSections(const std::vector<Nb0Section>& sections) {
        prompter.openPaths.push_back(WriteNb0("in.NB0", sections));
        ASSERT_TRUE(OnImportCe(*view, std::nullopt));
        log.ClearLog();
    }
};

TEST_F(ExportTest, WritesTheRecordAndTheStoredBytesOfTheTypeOneImage) {
    struct Case {
        const char* name;
        std::uint32_t attributes;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {"stored unchanged, two pieces", testing::kAttrStoredA, RandomData(20000)},
        {"compressed", testing::kAttrCompressed, CodeLikeData(50000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Nb0Section main;
        main.Attributes(c.attributes).Data(c.data);
        Nb0Section other;
        other.Type(0x40).Data(RandomData(50, 4));
        if (doc->IsModified()) prompter.answers.push_back(MessageAnswer::No);
        ImportSections({main, other});

        const std::string out = folder.File("image.bin");
        prompter.savePaths.push_back(out);
        EXPECT_TRUE(OnExportCe(*doc));
        ASSERT_EQ(prompter.saveRequests.size() >= 1, true);
        const auto& request = prompter.saveRequests.back();
        EXPECT_TRUE(request.filter.empty());
        EXPECT_TRUE(request.defaultExtension.empty());
        EXPECT_TRUE(request.initialName.empty());
        EXPECT_TRUE(request.overwritePrompt);

        const std::vector<std::uint8_t> stored =
            c.attributes == testing::kAttrCompressed ? BlockStream(c.data) : c.data;
        auto expected = ExpectedRecord(main, static_cast<std::uint32_t>(c.data.size()), c.data, stored);
        expected.insert(expected.end(), stored.begin(), stored.end());
        EXPECT_EQ(testing::ReadBytes(out), expected);  // only the type-1 image
        EXPECT_EQ(LogTexts(), std::vector<std::string>{"Ok\r\n"});
    }
}

TEST_F(ExportTest, CancelWritesNothingAndSaysNothing) {
    Nb0Section main;
    main.Data(RandomData(10));
    ImportSections({main});
    EXPECT_TRUE(OnExportCe(*doc));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(ExportTest, ADocumentWithoutTheTypeOneImageFailsClearly) {
    const std::string out = folder.File("image.bin");
    prompter.savePaths.push_back(out);
    EXPECT_FALSE(OnExportCe(*doc));
    EXPECT_FALSE(std::filesystem::exists(out));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Ungültige Image-Kombination");
    // The closing line stands before the message.
    const std::vector<std::string> expected{"Export abgebrochen \r\n", "Ungültige Image-Kombination\r\n"};
    EXPECT_EQ(LogTexts(), expected);
    EXPECT_EQ(log.Lines()[0].colour, kLogRed);
}

TEST_F(ExportTest, AFileThatCannotBeCreatedIsNamed) {
    Nb0Section main;
    main.Data(RandomData(10));
    ImportSections({main});
    const std::string out = folder.File("no/such/folder/image.bin");
    EXPECT_FALSE(OnExportCe(*doc, out));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Datei  " + out + " kann nicht erzeugt werden");
}

TEST_F(ExportTest, AShortPartRemovesThePartlyWrittenFile) {
    Nb0Section main;
    main.Data(RandomData(20000));
    ImportSections({main});
    // The part claims more bytes than its file holds.
    doc->FindPart(0x1)->SetSize(30000);
    const std::string out = folder.File("image.bin");
    EXPECT_FALSE(OnExportCe(*doc, out));
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(prompter.shown.back().text, "Lesefehler beim Dateizugriff");
}

TEST_F(ExportTest, AFullDiskIsAWriteErrorAndLeavesNoPartialFile) {
    Nb0Section main;
    main.Data(RandomData(40000));
    ImportSections({main});
    const std::string out = folder.File("image.bin");
    bool ok;
    {
        testing::FileSizeLimit full(20000);
        ok = OnExportCe(*doc, out);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(prompter.shown.back().text, "Schreibfehler beim Dateizugriff");
}

}  // namespace
}  // namespace tarnwick
