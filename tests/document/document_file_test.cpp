// The *.img file: exact bytes written, and what loading makes of good,
// reordered, damaged, truncated and hostile files.
#include "doc_fixture.h"

namespace tarnwick::testing {
namespace {

const std::string kUnreadable = "Die Daten in der Datei können nicht gelesen werden";
const std::string kUnknownFormat = "Unbekanntes Dateiformat";
const std::string kNotOurFormat =
    "Daten entsprechen nicht dem Format von Tarnwick\r\nDatei öffnen abgebrochen\r\n\n";

DescriptionValues NineValues() {
    DescriptionValues v;
    v.CeImageVersion = 0x81020304;
    v.AppVersion = 0x01020305;
    v.CeVersionMajor = 4;
    v.CeVersionMinor = 20;
    v.HardwareType = 0x10;
    v.HardwareSubtype = 0x22;
    v.AuxValue = 0xA5A5;
    v.ImageAreaSize = 0x01000000;
    v.StoredTotal = 123456;
    return v;
}

using DocumentFileTest = DocTest;

TEST_F(DocumentFileTest, EmptyDocumentIsSixtyFourBytes) {
    doc_.SetValues(NineValues());
    const auto path = PathIn("empty.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    EXPECT_EQ(ReadBytes(path), HeaderOf(0, 0, NineValues()));
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 64u);
    EXPECT_EQ(Get32(file, 6), 0x81020304u);   // CeImageVersion first …
    EXPECT_EQ(Get32(file, 38), 123456u);      // … StoredTotal last
    EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{0x98, 0x19, 0x03, 0x03}));
}

TEST_F(DocumentFileTest, AbcDocumentMatchesTheWorkedExample) {
    AddPart(1, BytesOf("abc"));
    const auto path = PathIn("abc.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));

    Bytes expected = {0x03, 0x00, 0x03, 0x00, 0xDA, 0x61, 0xDA, 0x61, 0x61, 0x62, 0x63};
    Append(expected, RecordOf(1, 0, 3, 0, 0x61DA, 11, 0x28A9));
    Append(expected, HeaderOf(1, 11));
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 117u);
    EXPECT_EQ(file, expected);
}

TEST_F(DocumentFileTest, RoundTripKeepsPartsAndValues) {
    Bytes big(40000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 5));
    struct PartShape {
        std::uint32_t id;
        Bytes data;
        std::uint32_t address;
    };
    const std::vector<PartShape> shapes = {
        {0x00000001, big, 0x00200000},
        {0x20000000, Bytes(64, 0xEE), 0x001FFFC0},
        {0x00000100, {}, 0},
        {0x80000000, BytesOf("x"), 7},
    };
    for (const auto& s : shapes) AddPart(s.id, s.data, s.address);
    doc_.SetValues(NineValues());
    const auto path = PathIn("round.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));

    CTarnwickDoc loaded(log_, prompter_);
    ASSERT_TRUE(loaded.OnOpenDocument(path));
    EXPECT_TRUE(prompter_.shown.empty());
    EXPECT_EQ(loaded.Values(), NineValues());
    ASSERT_EQ(loaded.PartCount(), shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        ImagePart* part = loaded.PartAt(static_cast<int>(i));
        SCOPED_TRACE(i);
        EXPECT_EQ(part->Id(), shapes[i].id);
        EXPECT_EQ(part->Size(), shapes[i].data.size());
        EXPECT_EQ(part->Address(), shapes[i].address);
        EXPECT_EQ(part->Checksum(), Crc(shapes[i].data));
        EXPECT_EQ(PartBytes(*part), shapes[i].data);
    }
    EXPECT_FALSE(loaded.IsModified());
    EXPECT_EQ(loaded.GetPathName(), path);
    EXPECT_EQ(loaded.GetTitle(), "round.img");
}

TEST_F(DocumentFileTest, StreamsInAnotherOrderAndWithGapsAreRead) {
    const Bytes a = BytesOf("first part"), b = BytesOf("second, longer part");
    const Bytes sa = StreamOf(a), sb = StreamOf(b);
    Bytes file(5, 0x77);                         // a gap before anything
    const auto offB = static_cast<std::uint32_t>(file.size());
    Append(file, sb);
    Append(file, Bytes(13, 0x55));               // a gap between the streams
    const auto offA = static_cast<std::uint32_t>(file.size());
    Append(file, sa);
    const auto table = static_cast<std::uint32_t>(file.size());
    Append(file, RecordOf(1, offA, static_cast<std::uint32_t>(a.size()), 0, Crc(a),
                          static_cast<std::uint32_t>(sa.size()), Crc(sa)));
    Append(file, RecordOf(0x20000000, offB, static_cast<std::uint32_t>(b.size()), 0, Crc(b),
                          static_cast<std::uint32_t>(sb.size()), Crc(sb)));
    Append(file, HeaderOf(2, table));
    const auto path = PathIn("odd.img");
    WriteBytes(path, file);

    ASSERT_TRUE(doc_.OnOpenDocument(path));
    EXPECT_TRUE(prompter_.shown.empty());
    ASSERT_EQ(doc_.PartCount(), 2);
    EXPECT_EQ(PartBytes(*doc_.PartAt(0)), a);
    EXPECT_EQ(PartBytes(*doc_.PartAt(1)), b);
    EXPECT_TRUE(doc_.HasValidImageSet());
}

// Files that are not documents: nothing is read, the open fails, the
// document stays empty and no open line is written.
struct RefusedFile {
    const char* name;
    Bytes bytes;
    bool formatRefused;  // red line and "Unbekanntes Dateiformat"; else the seek error
};

class RefusedFileTest : public DocTest, public ::testing::WithParamInterface<RefusedFile> {};

TEST_P(RefusedFileTest, OpenFailsAndReadsNothing) {
    const auto& c = GetParam();
    const auto path = PathIn("refused.img");
    WriteBytes(path, c.bytes);
    AddPart(1, BytesOf("keep"));

    EXPECT_FALSE(doc_.OnOpenDocument(path));
    EXPECT_EQ(doc_.PartCount(), 0);
    EXPECT_EQ(doc_.Values(), DescriptionValues{});
    EXPECT_EQ(doc_.GetPathName(), "");
    EXPECT_FALSE(doc_.IsModified());
    ASSERT_EQ(prompter_.shown.size(), 1u);
    if (c.formatRefused) {
        EXPECT_EQ(prompter_.shown[0].text, kUnknownFormat);
        const auto lines = log_.Lines();
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, kNotOurFormat);
        EXPECT_EQ(lines[0].colour, kLogRed);
        EXPECT_EQ(lines[0].effects, kLogBold);
    } else {
        EXPECT_EQ(prompter_.shown[0].text, "Positionierungsfehler auf " + path + ".");
    }
    EXPECT_EQ(log_.Text().find("Öffnen"), std::string::npos);
    EXPECT_TRUE(PendingErrors().empty());
}

Bytes EndingInMagic(std::size_t n) {
    Bytes b(n, 0);
    Put32(b, n - 4, kDocumentMagic);
    return b;
}

Bytes WrongTrailer() {
    Bytes b = HeaderOf(0, 0);
    b[63] = 0x04;
    return b;
}

Bytes TableBeyondHeader() {
    Bytes b(10, 0);
    Append(b, HeaderOf(1, 11));  // the table would start inside the header
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFileTest,
    ::testing::Values(RefusedFile{"empty", {}, false},
                      RefusedFile{"three bytes", {0x98, 0x19, 0x03}, false},
                      RefusedFile{"only the magic", EndingInMagic(4), false},
                      RefusedFile{"63 bytes with magic", EndingInMagic(63), false},
                      RefusedFile{"short, wrong trailer", Bytes(10, 0x41), true},
                      RefusedFile{"wrong trailer", WrongTrailer(), true},
                      RefusedFile{"table offset beyond the file", TableBeyondHeader(), true}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(DocumentFileTest, DamagedStreamFailsOnlyItsPart) {
    AddPart(1, BytesOf("alpha alpha alpha"));
    AddPart(0x20000000, Bytes(64, 0x11));
    const auto path = PathIn("damaged.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    Bytes file = ReadBytes(path);
    file[9] ^= 0xFF;  // a payload byte of the first stream
    WriteBytes(path, file);
    log_.ClearLog();

    ASSERT_TRUE(doc_.OnOpenDocument(path));
    EXPECT_EQ(MessagesShown(), std::vector<std::string>{kUnreadable});
    ASSERT_EQ(doc_.PartCount(), 2);
    EXPECT_EQ(doc_.PartAt(0)->Id(), 1u);
    EXPECT_EQ(PartBytes(*doc_.PartAt(1)), Bytes(64, 0x11));
    // The part's message stands above the open lines.
    const auto lines = log_.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, kUnreadable + "\r\n");
    EXPECT_EQ(lines[1].text, "Öffnen " + path + "...\r\n");
}

// Records and streams that point outside the file are never followed.
struct HostileTable {
    const char* name;
    std::uint16_t count;
    std::uint32_t dataOffsetShift;  // added to the good part's data offset
    std::uint32_t packedSizeShift;
    std::size_t expectParts;
    std::size_t expectMessages;
};

class HostileTableTest : public DocTest, public ::testing::WithParamInterface<HostileTable> {};

TEST_P(HostileTableTest, PartFailsItsCheckAndTheRestLoads) {
    const auto& c = GetParam();
    const Bytes data = BytesOf("payload");
    const Bytes stream = StreamOf(data);
    Bytes file = stream;
    Append(file, RecordOf(1, c.dataOffsetShift, static_cast<std::uint32_t>(data.size()), 0,
                          Crc(data), static_cast<std::uint32_t>(stream.size()) + c.packedSizeShift,
                          Crc(stream)));
    Append(file, HeaderOf(c.count, static_cast<std::uint32_t>(stream.size())));
    const auto path = PathIn("hostile.img");
    WriteBytes(path, file);

    ASSERT_TRUE(doc_.OnOpenDocument(path));
    EXPECT_EQ(doc_.PartCount(), c.expectParts);
    EXPECT_EQ(MessagesShown(), std::vector<std::string>(c.expectMessages, kUnreadable));
    EXPECT_LE(TempFileCount(), c.expectParts);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HostileTableTest,
    ::testing::Values(HostileTable{"intact", 1, 0, 0, 1, 0},
                      HostileTable{"table_ends_early", 3, 0, 0, 1, 1},
                      HostileTable{"count_65535", 65535, 0, 0, 1, 1},
                      HostileTable{"data_offset_outside", 1, 0x7FFFFFF0, 0, 1, 1},
                      HostileTable{"packed_size_outside", 1, 0, 0xFFFFFF00, 1, 1},
                      HostileTable{"packed_size_into_table", 1, 0, 8, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DocumentFileTest, StaleChecksumIsCorrectedOnSave) {
    ImagePart& part = AddPart(1, BytesOf("abc"));
    part.SetChecksum(0x1234);
    const auto path = PathIn("stale.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    EXPECT_EQ(doc_.PartAt(0)->Checksum(), 0x61DA);
    EXPECT_EQ(Get16(ReadBytes(path), 11 + 16), 0x61DA);

    CTarnwickDoc loaded(log_, prompter_);
    ASSERT_TRUE(loaded.OnOpenDocument(path));
    EXPECT_TRUE(prompter_.shown.empty());
}

TEST_F(DocumentFileTest, OpenWritesItsLinesAfterLoading) {
    doc_.SetValues(NineValues());
    AddPart(1, BytesOf("abc"));
    const auto path = PathIn("lines.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    log_.AppendLog("earlier line\r\n", kLogBlack, kLogNormal);

    ASSERT_TRUE(doc_.OnOpenDocument(path));
    const std::vector<std::string> expected = {
        "Öffnen " + path + "...\r\n",
        "Windows CE:\t4.20\r\n",
        "Ausgabestand Windows CE:\tB 1.2.3.4\r\n",
        "Ausgabestand Applikation:\tV 1.2.3.5\r\n",
        "Ok\r\n",
    };
    const auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i]);
        EXPECT_EQ(lines[i].colour, kLogBlack);
        EXPECT_EQ(lines[i].effects, kLogNormal);
    }
}

TEST_F(DocumentFileTest, MissingFileLeavesTheDocumentAlone) {
    AddPart(1, BytesOf("keep"));
    doc_.SetPathName(PathIn("mine.img"));
    EXPECT_FALSE(doc_.OnOpenDocument(PathIn("nothing-here.img")));
    EXPECT_EQ(MessagesShown(), std::vector<std::string>{"Datei nicht gefunden"});
    EXPECT_EQ(doc_.PartCount(), 1);
    EXPECT_EQ(doc_.GetPathName(), PathIn("mine.img"));
}

}  // namespace
}  // namespace tarnwick::testing
