// The image description: import headers and their list, the 64-byte header
// record, version words and the version lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "codec/crc16.h"
#include "document/image_part.h"
#include "osimage/image_header.h"
#include "support/fakes.h"

namespace tarnwick {
namespace {

ImportHeader Header(std::uint32_t type, std::uint32_t dataSize, std::uint32_t attributes) {
    ImportHeader h;
    h.signature = kImportSignature;
    h.ImageType = type;
    h.CeVersionMajor = 4;
    h.CeVersionMinor = 20;
    h.CeImageVersion = 0x81020304;
    h.AppVersion = 0x01000007;
    h.HardwareType = 0x00012345;
    h.HardwareSubtype = 2;
    h.StartAddress = 0x80001000;
    h.AuxValue = 0xCAFE;
    h.DataSize = dataSize;
    h.ImageAreaSize = 0x02000000;
    h.Attributes = attributes;
    return h;
}

TEST(ImportHeaderTest, FieldsSitAtTheirOffsets) {
    const ImportHeader h = Header(0x00010001, 0x1234, 0x80010004);
    const auto b = h.Bytes();
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "CE00");
    auto at = [&b](std::size_t o) {
        return static_cast<std::uint32_t>(b[o] | (b[o + 1] << 8) | (b[o + 2] << 16)) |
               (static_cast<std::uint32_t>(b[o + 3]) << 24);
    };
    EXPECT_EQ(at(4), 0x00010001u);
    EXPECT_EQ(at(16), 0x81020304u);
    EXPECT_EQ(at(36), 0x80001000u);
    EXPECT_EQ(at(44), 0x1234u);
    EXPECT_EQ(at(52), 0x80010004u);
    EXPECT_EQ(ImportHeader::Decode(b.data()).Bytes(), b);
}

TEST(ImportHeaderTest, FreshHeaderIsAllOnes) {
    const auto b = ImportHeader().Bytes();
    for (auto byte : b) EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(ImportHeaderEntry().DataOffset, 0u);
}

TEST(ImportHeaderListTest, DataOffsets) {
    ImportHeaderList list;
    list.Append(Header(1, 0x100, 0x00010001));
    list.Append(Header(2, 0x2000, 0x00010001));
    list.Append(Header(0x00010000, 0, 0x00010001));
    list.Append(Header(0x80000000, 5, 0x00010001));
    list.ComputeDataOffsets();
    EXPECT_TRUE(list.dataOffsetsDone);
    EXPECT_EQ(list.At(0).DataOffset, 128u);
    EXPECT_EQ(list.At(1).DataOffset, 512u);
    EXPECT_EQ(list.At(2).DataOffset, 8832u);
    EXPECT_EQ(list.At(3).DataOffset, 8832u + 128u) << "an empty section: the next header follows at once";
}

TEST(ImportHeaderListTest, CompressTotalCountsOnlyCompressedSections) {
    ImportHeaderList list;
    list.Append(Header(1, 1000, 0x80010004));
    list.Append(Header(2, 300, 0x00020001));
    list.Append(Header(0x00010000, 20, 0x80010004));
    list.ComputeCompressTotal();
    EXPECT_EQ(list.compressTotal, 1020u);
    EXPECT_TRUE(list.compressTotalDone);

    ImportHeaderList plain;
    plain.Append(Header(1, 1000, 0x00010001));
    plain.ComputeCompressTotal();
    EXPECT_EQ(plain.compressTotal, 0u);
}

TEST(ImportHeaderListTest, AppendClearsEverythingDerived) {
    ImportHeaderList list;
    list.Append(Header(1, 10, 0x80010004));
    list.ComputeCompressTotal();
    list.ComputeDataOffsets();
    list.signaturesValid = list.startAddressesValid = list.attributesDefined = true;
    list.attributeCombinationsValid = list.hardwareConsistent = list.imageAreasConsistent = true;
    list.firstTypeValid = true;
    EXPECT_TRUE(list.AllValid());
    list.Append(Header(2, 10, 0x00010001));
    EXPECT_EQ(list.compressTotal, 0u);
    for (bool flag : {list.allValid, list.signaturesValid, list.startAddressesValid,
                      list.attributesDefined, list.attributeCombinationsValid,
                      list.compressTotalDone, list.dataOffsetsDone, list.hardwareConsistent,
                      list.imageAreasConsistent, list.firstTypeValid})
        EXPECT_FALSE(flag);
}

TEST(ImportHeaderListTest, AllValidLeavesOutFirstTypeAndOffsets) {
    ImportHeaderList list;
    list.Append(Header(1, 10, 0x00010001));
    list.signaturesValid = list.startAddressesValid = list.attributesDefined = true;
    list.attributeCombinationsValid = list.hardwareConsistent = list.imageAreasConsistent = true;
    EXPECT_FALSE(list.AllValid()) << "the compress total must have been computed";
    list.ComputeCompressTotal();
    EXPECT_TRUE(list.AllValid());
    EXPECT_FALSE(list.firstTypeValid);
    list.imageAreasConsistent = false;
    EXPECT_FALSE(list.AllValid());
    EXPECT_FALSE(list.allValid);
}

TEST(ImportHeaderListTest, FindType) {
    ImportHeaderList list;
    list.Append(Header(1, 10, 0x00010001));
    list.Append(Header(2, 10, 0x00010001));
    list.Append(Header(2, 10, 0x00010001));
    EXPECT_EQ(list.FindType(2), 1);
    EXPECT_EQ(list.FindType(0x40), -1);
}

TEST(ImageHeaderRecordTest, CreatedFromAnImportHeader) {
    ImportHeader h = Header(1, 0x30000, 0x80010004);
    h.CeVersionMajor = 0x00050004;  // enters the record cut to 16 bits
    h.HardwareType = 0xABCD1234;
    const ImageHeaderRecord r = MakeImageHeaderRecord(h, 0x12000, 0x1111, 0x2222);
    const auto b = r.Bytes();
    const std::array<std::uint8_t, 64> expected = {
        0x98, 0x19, 0x10, 0x19,  0x01, 0x00,              // magic, version
        0x00, 0x10, 0x00, 0x80,                           // StartAddress
        0x00, 0x00, 0x00, 0x00,                           // StorageAddress
        0x00, 0x00, 0x03, 0x00,                           // SourceSize
        0x00, 0x20, 0x01, 0x00,                           // StoredSize
        0x11, 0x11, 0x22, 0x22,                           // SourceCrc, StoredCrc
        0x04, 0x00, 0x14, 0x00,                           // CeVersionMajor, CeVersionMinor
        0x04, 0x03, 0x02, 0x81,                           // CeImageVersion
        0x07, 0x00, 0x00, 0x01,                           // AppVersion
        0xFE, 0xCA, 0x00, 0x00,                           // AuxValue
        0x03, 0x00,                                       // Flags: compressed, attribute bit 2
        0xFF, 0xFF, 0xFF, 0xFF,                           // NextHeaderAddress
        0x00, 0x00, 0x00, 0x02,                           // ImageAreaSize
        0x01, 0x00, 0x00, 0x00,                           // ImageType
        0x34, 0x12,                                       // HardwareType, low 16 bits
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};              // fill
    EXPECT_EQ(b, expected);
    EXPECT_EQ(ImageHeaderRecord::Decode(b.data()).Bytes(), b);
    EXPECT_EQ(r.Checksum(), Crc16(b.data(), b.size(), 0xFFFF));
}

TEST(ImageHeaderRecordTest, FlagsFollowTheAttributes) {
    EXPECT_EQ(MakeImageHeaderRecord(Header(1, 1, 0x00010001), 1, 0, 0).Flags, 0);
    EXPECT_EQ(MakeImageHeaderRecord(Header(1, 1, 0x00020002), 1, 0, 0).Flags, 0);
    EXPECT_EQ(MakeImageHeaderRecord(Header(1, 1, 0x80010004), 1, 0, 0).Flags, 3);
}

TEST(ImageHeaderRecordTest, WrittenIntoAHeaderPart) {
    char dir[] = "/tmp/tarnwick-record-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("TMPDIR", dir, 1);
    {
        ImagePart part;
        ImageHeaderRecord r = MakeImageHeaderRecord(Header(2, 77, 0x00010001), 77, 5, 5);
        ASSERT_TRUE(WriteHeaderRecord(part, r));
        EXPECT_EQ(part.Size(), 64u);
        EXPECT_EQ(part.Checksum(), r.Checksum());
        r.StorageAddress = 0x00400000;
        r.NextHeaderAddress = 0x00500000;
        ASSERT_TRUE(WriteHeaderRecord(part, r));
        EXPECT_EQ(part.Checksum(), r.Checksum());
        const auto back = ReadHeaderRecord(part);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->Bytes(), r.Bytes());
        part.SetSize(63);
        EXPECT_FALSE(ReadHeaderRecord(part).has_value());
    }
    ::unsetenv("TMPDIR");
    std::filesystem::remove_all(dir);
}

struct VersionCase {
    std::uint32_t word;
    const char* text;
};

TEST(VersionWordTest, PrefixAndNumbers) {
    const VersionCase cases[] = {
        {0x81020304, "B 1.2.3.4"}, {0x01020304, "V 1.2.3.4"},
        {0x80000000, "B 0.0.0.0"}, {0x7FFFFFFF, "V 127.255.255.255"},
        {0x00000000, "V 0.0.0.0"}, {0xFFFFFFFF, "B 127.255.255.255"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatVersionWord(c.word), c.text) << std::hex << c.word;
}

TEST(VersionWordTest, LogImageVersionsWritesThreeNormalLines) {
    DescriptionValues v;
    v.CeVersionMajor = 0x00050004;  // printed in full from the document
    v.CeVersionMinor = 0;
    v.CeImageVersion = 0x81020304;
    v.AppVersion = 0x7FFFFFFF;
    testing::RecordingLog log;
    LogImageVersions(log, v);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "Windows CE:\t327684.0\r\n");
    EXPECT_EQ(lines[1].text, "Ausgabestand Windows CE:\tB 1.2.3.4\r\n");
    EXPECT_EQ(lines[2].text, "Ausgabestand Applikation:\tV 127.255.255.255\r\n");
    for (const auto& l : lines) {
        EXPECT_EQ(l.colour, kLogBlack);
        EXPECT_EQ(l.effects, kLogNormal);
    }
}

TEST(DescriptionValuesTest, TakenFromTheFirstHeader) {
    DescriptionValues v;
    v.StoredTotal = 42;
    v.TakeFromImportHeader(Header(1, 10, 0x00010001));
    EXPECT_EQ(v.CeImageVersion, 0x81020304u);
    EXPECT_EQ(v.AppVersion, 0x01000007u);
    EXPECT_EQ(v.CeVersionMajor, 4u);
    EXPECT_EQ(v.CeVersionMinor, 20u);
    EXPECT_EQ(v.HardwareType, 0x00012345u);
    EXPECT_EQ(v.HardwareSubtype, 2u);
    EXPECT_EQ(v.AuxValue, 0xCAFEu);
    EXPECT_EQ(v.ImageAreaSize, 0x02000000u);
    EXPECT_EQ(v.StoredTotal, 42u) << "accumulated by the import, not taken";
}

}  // namespace
}  // namespace tarnwick
