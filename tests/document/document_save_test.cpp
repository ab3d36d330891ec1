// Saving replaces the file only when the new one is complete.
#include <sys/stat.h>

#include "doc_fixture.h"

namespace tarnwick::testing {
namespace {

const std::string kWriteError = "Schreibfehler beim Dateizugriff";
const std::string kReadError = "Lesefehler beim Dateizugriff";

class DocumentSaveTest : public DocTest {
protected:
    // A saved document at path_, then a change that the failing save must not
    // bring to disk.
    void SetUp() override {
        DocTest::SetUp();
        path_ = PathIn("keep.img");
        AddPart(1, BytesOf("the first version of the image"));
        AddPart(0x20000000, Bytes(64, 0x42));
        ASSERT_TRUE(doc_.OnSaveDocument(path_));
        before_ = ReadBytes(path_);
        Bytes big(100000);
        std::uint32_t seed = 12345;  // noise: stored blocks, so the file grows past every budget
        for (auto& byte : big) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<std::uint8_t>(seed >> 24);
        }
        ASSERT_TRUE(doc_.PartAt(0)->Assign(big.data(), big.size()));
        doc_.SetModifiedFlag(true);
        log_.ClearLog();
        prompter_.shown.clear();
    }

    void ExpectFailedSave(const std::string& message) {
        EXPECT_FALSE(doc_.OnSaveDocument(path_));
        EXPECT_EQ(ReadBytes(path_), before_) << "the former document must stay byte for byte";
        EXPECT_EQ(FilesIn(root_), (std::vector<std::string>{"keep.img", "tmp"}))
            << "no half-written file stays behind";
        EXPECT_EQ(MessagesShown(), std::vector<std::string>{message});
        const auto lines = log_.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text, "Speichern von  " + path_ + "...\r\n");
        EXPECT_EQ(lines[1].text, message + "\r\n");
        EXPECT_TRUE(doc_.IsModified());
    }

    std::string path_;
    Bytes before_;
};

TEST_F(DocumentSaveTest, SaveWritesItsLinesAndClearsModified) {
    ASSERT_TRUE(doc_.OnSaveDocument(path_));
    const auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "Speichern von  " + path_ + "...\r\n");
    EXPECT_EQ(lines[1].text, "Ok\r\n");
    EXPECT_FALSE(doc_.IsModified());
    EXPECT_NE(ReadBytes(path_), before_);
    EXPECT_EQ(FilesIn(root_), (std::vector<std::string>{"keep.img", "tmp"}));
}

TEST_F(DocumentSaveTest, DiskFullHalfWayKeepsTheOldFile) {
    for (std::size_t budget : {std::size_t{0}, std::size_t{100}, std::size_t{20000}}) {
        SCOPED_TRACE(budget);
        doc_.SetFileFactory([budget] { return std::make_unique<FailingFile>(budget); });
        log_.ClearLog();
        prompter_.shown.clear();
        ExpectFailedSave(kWriteError);
    }
}

TEST_F(DocumentSaveTest, FailedFlushKeepsTheOldFile) {
    doc_.SetFileFactory([] { return std::make_unique<FailingFile>(SIZE_MAX, true); });
    ExpectFailedSave(kWriteError);
}

TEST_F(DocumentSaveTest, UnreadablePartFailsTheSaveInsteadOfCuttingItsStream) {
    doc_.PartAt(1)->SetSize(65);  // one byte more than its file holds
    ExpectFailedSave(kReadError);
}

TEST_F(DocumentSaveTest, FolderThatCannotTakeTheFileIsNamed) {
    path_ = PathIn("no-such-folder/new.img");
    EXPECT_FALSE(doc_.OnSaveDocument(path_));
    EXPECT_EQ(MessagesShown(),
              std::vector<std::string>{"Datei  " + path_ + " kann nicht erzeugt werden"});
    EXPECT_EQ(log_.Text().find("Ok\r\n"), std::string::npos);
}

TEST_F(DocumentSaveTest, ReplacedFileKeepsItsPermissions) {
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    ASSERT_TRUE(doc_.OnSaveDocument(path_));
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(DocumentSaveTest, SavingThroughALinkReplacesTheFileBehindIt) {
    const auto link = PathIn("link.img");
    ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
    ASSERT_TRUE(doc_.OnSaveDocument(link));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadBytes(path_), before_);
}

}  // namespace
}  // namespace tarnwick::testing
