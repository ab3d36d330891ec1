// The parts of a document: pairing table, list operations, valid image sets
// and the temporary files that live exactly as long as their parts.
#include "doc_fixture.h"

namespace tarnwick::testing {
namespace {

using ImageListTest = DocTest;

TEST(PairingTable, RowsAndMisses) {
    EXPECT_EQ(CTarnwickDoc::DataPartId(0x40), 0x200u);
    EXPECT_EQ(CTarnwickDoc::DataPartId(0x1), 0x1u);
    EXPECT_EQ(CTarnwickDoc::DataPartId(0x00010001), 0x2u);
    EXPECT_EQ(CTarnwickDoc::DataPartId(0x3), 0x80000000u);
    EXPECT_EQ(CTarnwickDoc::HeaderPartId(0x80000000), 0x80u);
    EXPECT_EQ(CTarnwickDoc::HeaderPartId(0x2), 0x8u);
    EXPECT_EQ(CTarnwickDoc::HeaderPartId(0x7), 0x80000000u);
    EXPECT_EQ(CTarnwickDoc::DataPartOfHeader(0x40000000), 0x2u);
    EXPECT_EQ(CTarnwickDoc::DataPartOfHeader(0x20), 0x10u);
    EXPECT_EQ(CTarnwickDoc::DataPartOfHeader(0x1), 0x80000000u);
    for (std::uint32_t id : {0x20000000u, 0x400u, 0x8u, 0x20u, 0x80u, 0x40000000u})
        EXPECT_TRUE(CTarnwickDoc::IsHeaderPartId(id)) << std::hex << id;
    for (std::uint32_t id : {0x100u, 0x1u, 0x80000000u, 0u}) EXPECT_FALSE(CTarnwickDoc::IsHeaderPartId(id));
}

struct ImageSet {
    std::vector<std::uint32_t> ids;
    bool usable;
    bool valid;
};

class ValidImageSetTest : public DocTest, public ::testing::WithParamInterface<ImageSet> {};

TEST_P(ValidImageSetTest, Decides) {
    for (auto id : GetParam().ids) AddPart(id, {});
    doc_.SetUsable(GetParam().usable);
    EXPECT_EQ(doc_.HasValidImageSet(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, ValidImageSetTest,
    ::testing::Values(ImageSet{{0x1, 0x20000000}, true, true},
                      ImageSet{{0x1, 0x20000000, 0x100}, true, true},
                      ImageSet{{0x1}, true, false},
                      ImageSet{{0x1, 0x200, 0x400, 0x20000000}, true, true},
                      ImageSet{{0x1, 0x400, 0x20000000}, true, false},
                      ImageSet{{0x1, 0x20000000, 0x80000000}, true, false},
                      ImageSet{{0x40, 0x80}, true, true},
                      ImageSet{{0x2, 0x40000000, 0x100}, true, true},
                      ImageSet{{}, true, false},
                      ImageSet{{0x100}, true, false},
                      ImageSet{{0x1, 0x20000000}, false, false}));

TEST_F(ImageListTest, DuplicatesAreSeenOnlyOnce) {
    AddPart(0x1, Bytes(10));
    AddPart(0x20000000, Bytes(64));
    AddPart(0x1, Bytes(99));
    EXPECT_EQ(doc_.IndexOfPart(0x1), 0);
    EXPECT_EQ(doc_.FindPart(0x1), doc_.PartAt(0));
    EXPECT_EQ(doc_.PresentMask(), 0x20000001u);
    EXPECT_EQ(doc_.TotalSize(0x1), 10u);
    EXPECT_EQ(doc_.IndexOfPart(0x4), -1);
    EXPECT_EQ(doc_.FindPart(0x4), nullptr);
}

TEST_F(ImageListTest, TotalSizeAndHeaderMask) {
    AddPart(0x1, Bytes(1000));
    AddPart(0x20000000, Bytes(64));
    AddPart(0x100, Bytes(500));
    AddPart(0x400, Bytes(64));
    EXPECT_EQ(doc_.TotalSize(0x20000101), 1564u);
    std::uint16_t n = 0;
    EXPECT_EQ(doc_.PresentHeaderMask(n), 0x20000400u);
    EXPECT_EQ(n, 2);
}

TEST_F(ImageListTest, RemovePartAtDeletesOnlyThatPartsFile) {
    std::vector<std::string> files;
    for (std::uint32_t id : {0x1u, 0x2u, 0x4u}) files.push_back(AddPart(id, BytesOf("x")).FilePath());
    EXPECT_EQ(TempFileCount(), 3u);
    for (const auto& f : files) EXPECT_EQ(f.rfind(tempDir_ + "/exp", 0), 0u) << f;

    EXPECT_EQ(doc_.RemovePartAt(0), 1);
    EXPECT_EQ(doc_.PartCount(), 2);
    EXPECT_EQ(doc_.PartAt(0)->Id(), 0x2u);
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_TRUE(std::filesystem::exists(files[1]));
    EXPECT_TRUE(std::filesystem::exists(files[2]));

    EXPECT_EQ(doc_.RemovePartAt(2), 0);
    EXPECT_EQ(doc_.RemovePartAt(-1), 0);
    EXPECT_EQ(doc_.PartAt(doc_.PartCount()), nullptr);
    EXPECT_EQ(doc_.PartAt(-1), nullptr);
}

TEST_F(ImageListTest, EmptyListOperations) {
    EXPECT_EQ(doc_.RemovePartAt(0), 0);
    EXPECT_EQ(doc_.PartAt(0), nullptr);
    EXPECT_EQ(doc_.PresentMask(), 0u);
    doc_.RemoveAllParts();
    EXPECT_EQ(doc_.PartCapacity(), 0u);
}

TEST_F(ImageListTest, NewPartIsEmptyAndUnknown) {
    ImagePart* part = doc_.AddPart();
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->Id(), 0x80000000u);
    EXPECT_EQ(part->Size(), 0u);
    EXPECT_EQ(part->Address(), 0u);
    EXPECT_EQ(part->Checksum(), 0u);
    EXPECT_EQ(part->GetFile().Length(), 0);
}

TEST_F(ImageListTest, RepeatedAddAndRemoveLeavesNoTemporaryFile) {
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 7; ++i) AddPart(1u << i, Bytes(10, static_cast<std::uint8_t>(i)));
        doc_.RemovePartAt(3);
        doc_.RemovePartAt(0);
        EXPECT_EQ(TempFileCount(), 5u);
        doc_.RemoveAllParts();
        EXPECT_EQ(TempFileCount(), 0u);
    }
    AddPart(1, Bytes(3));
    doc_.DeleteContents();
    EXPECT_EQ(TempFileCount(), 0u);
    {
        CTarnwickDoc other(log_, prompter_);
        other.AddPart();
        other.AddPart();
        EXPECT_EQ(TempFileCount(), 2u);
    }
    EXPECT_EQ(TempFileCount(), 0u) << "the document takes its parts' files with it";
}

TEST_F(ImageListTest, ArrayGrowsByAnEighthButAtLeastFour) {
    std::vector<std::size_t> capacities;
    std::size_t last = 0;
    for (int i = 0; i < 60; ++i) {
        ASSERT_NE(doc_.AddPart(), nullptr);
        if (doc_.PartCapacity() != last) {
            last = doc_.PartCapacity();
            capacities.push_back(last);
        }
    }
    // 0→4→8→12→16→20→24→28→32→36 (an eighth is below 4), then +4 (36/8), +5 …
    EXPECT_EQ(capacities, (std::vector<std::size_t>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63}));
}

TEST_F(ImageListTest, PartsSurviveTheArrayMoving) {
    std::vector<std::string> files;
    for (int i = 0; i < 20; ++i) files.push_back(AddPart(1u << i, Bytes(1, static_cast<std::uint8_t>(i))).FilePath());
    for (int i = 0; i < 20; ++i) {
        ImagePart* part = doc_.PartAt(i);
        EXPECT_EQ(part->FilePath(), files[static_cast<std::size_t>(i)]);
        EXPECT_EQ(PartBytes(*part), Bytes(1, static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(TempFileCount(), 20u);
}

TEST_F(ImageListTest, NoTemporaryFolderIsAWriteError) {
    ::setenv("TMPDIR", PathIn("missing").c_str(), 1);
    EXPECT_EQ(doc_.AddPart(), nullptr);
    EXPECT_EQ(doc_.PartCount(), 0);
    ShowError(log_, prompter_);
    EXPECT_EQ(MessagesShown(), std::vector<std::string>{"Schreibfehler beim Dateizugriff"});
}

TEST_F(ImageListTest, OpenWithoutTemporaryFolderFailsWithWriteError) {
    AddPart(1, BytesOf("abc"));
    AddPart(0x20000000, Bytes(64));
    const auto path = PathIn("doc.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    ::setenv("TMPDIR", PathIn("missing").c_str(), 1);
    prompter_.shown.clear();
    EXPECT_FALSE(doc_.OnOpenDocument(path));
    EXPECT_EQ(MessagesShown(), std::vector<std::string>{"Schreibfehler beim Dateizugriff"});
    EXPECT_EQ(doc_.PartCount(), 0);
}

TEST_F(ImageListTest, PartTemporaryFileFollowsTmpdir) {
    ::unsetenv("TMPDIR");
    EXPECT_EQ(ImagePart::TempFolder(), "/tmp");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(ImagePart::TempFolder(), "/tmp");
    ::setenv("TMPDIR", tempDir_.c_str(), 1);
    EXPECT_EQ(ImagePart::TempFolder(), tempDir_);
}

}  // namespace
}  // namespace tarnwick::testing
