#include <gtest/gtest.h>

#include <functional>

#include "osimage/import_validation.h"
#include "osimage/message_format.h"
#include "support/fakes.h"

namespace tarnwick {
namespace {

using testing::RecordingLog;

ImportHeader GoodHeader(std::uint32_t type = 1) {
    ImportHeader h;
    h.signature = kImportSignature;
    h.ImageType = type;
    h.CeVersionMajor = 4;
    h.CeVersionMinor = 20;
    h.CeImageVersion = 0x01020304;
    h.AppVersion = 0x01000000;
    h.HardwareType = 0x200;
    h.HardwareSubtype = 3;
    h.StartAddress = 0x80001000;
    h.AuxValue = 0;
    h.DataSize = 0x100;
    h.ImageAreaSize = 0x3B0000;
    h.Attributes = 0x00010001;
    return h;
}

struct ValidationCase {
    const char* name;
    int entries;                                        // good headers to start from
    std::function<void(std::vector<ImportHeader>&)> spoil;
    std::vector<std::string> lines;                     // expected error lines, in order
};

std::vector<ValidationCase> Cases() {
    return {
        {"one good image", 1, [](auto&) {}, {}},
        {"three good images, later types free", 3,
         [](auto& h) {
             h[1].ImageType = 0x40;
             h[2].ImageType = 0x12345678;
         },
         {}},
        {"first type 0x40", 3, [](auto& h) { h[0].ImageType = 0x40; },
         {"\r\nImage 0 hat falsche Typangabe\r\n"}},
        {"signature of image 1", 3, [](auto& h) { h[1].signature = 0x31304543; },
         {"\r\nImage 1 hat falsche Signatur\r\n"}},
        {"start address 0 in images 1 and 2: the first is named", 3,
         [](auto& h) { h[1].StartAddress = h[2].StartAddress = 0; },
         {"\r\nImage 1 hat ungültige Ausführungs-Adresse\r\n"}},
        {"valid bits, invalid combination", 2, [](auto& h) { h[1].Attributes = 0x00000001; },
         {"\r\nImage 1 verwendet ungültige Kombination von Attributen\r\n"}},
        {"undefined bit fails both attribute checks", 1,
         [](auto& h) { h[0].Attributes = 0x00040001; },
         {"\r\nImage 0 verwendet nicht definierte Attribute\r\n",
          "\r\nImage 0 verwendet ungültige Kombination von Attributen\r\n"}},
        {"compressed combination passes", 1, [](auto& h) { h[0].Attributes = 0x80010004; }, {}},
        {"hardware subtype differs", 2, [](auto& h) { h[1].HardwareSubtype = 4; },
         {"\r\nImage 1 hat anderen Hardwaretyp als Image 0\r\n"}},
        {"areas A A B", 3, [](auto& h) { h[2].ImageAreaSize = 0x100000; },
         {"\r\nImage 2 hat anderen Imagebereich als Image 1\r\n"}},
        {"signature and hardware, in table order", 3,
         [](auto& h) {
             h[2].HardwareType = 0x400;
             h[1].signature = 0;
         },
         {"\r\nImage 1 hat falsche Signatur\r\n",
          "\r\nImage 2 hat anderen Hardwaretyp als Image 1\r\n"}},
        {"everything wrong at once", 2,
         [](auto& h) {
             h[0].ImageType = 0x40;
             h[0].signature = 0;
             h[0].StartAddress = 0;
             h[1].Attributes = 0x7FFFFFFF;
             h[1].HardwareType = 0x10;
             h[1].ImageAreaSize = 1;
         },
         {"\r\nImage 0 hat falsche Typangabe\r\n", "\r\nImage 0 hat falsche Signatur\r\n",
          "\r\nImage 0 hat ungültige Ausführungs-Adresse\r\n",
          "\r\nImage 1 verwendet nicht definierte Attribute\r\n",
          "\r\nImage 1 verwendet ungültige Kombination von Attributen\r\n",
          "\r\nImage 1 hat anderen Hardwaretyp als Image 0\r\n",
          "\r\nImage 1 hat anderen Imagebereich als Image 0\r\n"}},
        {"no entries: checks 2 to 5 fail for image 0", 0, [](auto&) {},
         {"\r\nImage 0 hat falsche Signatur\r\n", "\r\nImage 0 hat ungültige Ausführungs-Adresse\r\n",
          "\r\nImage 0 verwendet nicht definierte Attribute\r\n",
          "\r\nImage 0 verwendet ungültige Kombination von Attributen\r\n"}},
    };
}

TEST(ValidateImportHeaders, RunsEveryCheckAndNamesTheFirstFailingImage) {
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.name);
        std::vector<ImportHeader> headers;
        for (int i = 0; i < c.entries; ++i) headers.push_back(GoodHeader());
        c.spoil(headers);
        ImportHeaderList list;
        for (const auto& h : headers) list.Append(h);

        RecordingLog log;
        const bool ok = ValidateImportHeaders(list, log);
        EXPECT_EQ(ok, c.lines.empty());
        std::vector<std::string> texts;
        for (const auto& line : log.Lines()) {
            texts.push_back(line.text);
            EXPECT_EQ(line.colour, kLogRed);
            EXPECT_EQ(line.effects, kLogBold);
        }
        EXPECT_EQ(texts, c.lines);

        // The overall test agrees once the compress total is in.
        list.ComputeCompressTotal();
        if (c.entries > 0) list.ComputeDataOffsets();
        const bool typeOnly = c.lines.size() == 1 && c.lines[0].find("Typangabe") != std::string::npos;
        EXPECT_EQ(list.AllValid(), c.lines.empty() || typeOnly);
    }
}

TEST(ValidateImportHeaders, FlagsTellWhichChecksPassed) {
    ImportHeaderList list;
    ImportHeader bad = GoodHeader(0x40);
    bad.signature = 0;
    list.Append(bad);
    RecordingLog log;
    EXPECT_FALSE(ValidateImportHeaders(list, log));
    EXPECT_FALSE(list.firstTypeValid);
    EXPECT_FALSE(list.signaturesValid);
    EXPECT_TRUE(list.startAddressesValid);
    EXPECT_TRUE(list.attributesDefined);
    EXPECT_TRUE(list.attributeCombinationsValid);
    EXPECT_TRUE(list.hardwareConsistent);
    EXPECT_TRUE(list.imageAreasConsistent);
}

TEST(FormatText, FillsDirectivesSafely) {
    EXPECT_EQ(FormatText("Image %d hat anderen Hardwaretyp als Image %d", {2, 1}),
              "Image 2 hat anderen Hardwaretyp als Image 1");
    EXPECT_EQ(FormatText("0x%08X Bytes", {std::int64_t{0x44}}), "0x00000044 Bytes");
    EXPECT_EQ(FormatText("0x%08X", {std::int64_t{0xFFFFFFFF}}), "0xFFFFFFFF");
    EXPECT_EQ(FormatText("Importiere %s...", {std::string("/a/b.NB0")}), "Importiere /a/b.NB0...");
    EXPECT_EQ(FormatText("%d.%02d %x %%", {1, 5, 255}), "1.05 ff %");
    // A language file that got its directives wrong gives an odd line, not a crash.
    EXPECT_EQ(FormatText("%s und %s und %n", {7}), "7 und  und %n");
    EXPECT_EQ(FormatText("%d", {std::string("x")}), "x");
    EXPECT_EQ(FormatText("%-4d|%4d|%-3s|", {-1, -12, std::string("a")}), "-1  | -12|a  |");
}

}  // namespace
}  // namespace tarnwick
