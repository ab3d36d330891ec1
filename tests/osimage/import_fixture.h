#pragma once
// A document, its log and prompter, a scripted status dialog and a private
// temporary folder for import and export tests.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "document/tarnwick_doc.h"
#include "link/error_state.h"
#include "osimage/ce_image_view.h"
#include "support/fakes.h"
#include "support/nb0_builder.h"
#include "support/status_dialog_fake.h"

namespace tarnwick::testing {

// Files may grow only to the given size while it lives: a full disk, as far
// as the writer can tell.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    sighandler_t oldHandler_;
};


class ImportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ClearErrors();
        const char* old = ::getenv("TMPDIR");
        hadTmpdir_ = old != nullptr;
        oldTmpdir_ = old ? old : "";
        tempFiles_ = folder.File("tmp");
        std::filesystem::create_directory(tempFiles_);
        ::setenv("TMPDIR", tempFiles_.c_str(), 1);
        SetSettingsFile(folder.File("Tarnwick.ini"));
        doc = std::make_unique<CTarnwickDoc>(log, prompter);
        doc->OnNewDocument();
        view = std::make_unique<CeImageView>(CeImageView{*doc, host, std::nullopt});
    }
    void TearDown() override {
        view.reset();
        doc.reset();
        SetSettingsFile("");
        if (hadTmpdir_) {
            ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        ClearErrors();
    }

    std::string WriteNb0(const std::string& name, const std::vector<Nb0Section>& sections) {
        const std::string path = folder.File(name);
        WriteBytes(path, BuildNb0(sections));
        return path;
    }

    // The temporary files the run has left: the parts' files while the
    // document holds parts, nothing else.
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tempFiles_))
            names.push_back(e.path().filename().string());
        return names;
    }

    static std::vector<std::uint8_t> PartBytes(ImagePart& part) {
        std::vector<std::uint8_t> bytes(part.Size());
        part.GetFile().Seek(0);
        if (!bytes.empty()) part.GetFile().Read(bytes.data(), bytes.size());
        return bytes;
    }

    std::vector<std::uint32_t> PartIds() const {
        std::vector<std::uint32_t> ids;
        for (int i = 0; i < doc->PartCount(); ++i) ids.push_back(doc->PartAt(i)->Id());
        return ids;
    }

    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        for (const auto& l : log.Lines()) texts.push_back(l.text);
        return texts;
    }

    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Errors() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& e : PendingErrors()) out.emplace_back(e.function, e.code);
        return out;
    }

    // The block stream the import must store for data: one block per piece.
    static std::vector<std::uint8_t> BlockStream(const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> out;
        std::vector<std::uint8_t> block(kMaxBlockSize);
        for (std::size_t at = 0; at < data.size(); at += kBlockPiece) {
            CodecContext c;
            c.dataLength = static_cast<std::uint32_t>(std::min(kBlockPiece, data.size() - at));
            EncodeBlock(block.data(), data.data() + at, c);
            out.insert(out.end(), block.begin(), block.begin() + c.blockLength);
        }
        return out;
    }

    // The header record the import must make, from the layout alone.
    static std::vector<std::uint8_t> ExpectedRecord(const Nb0Section& s, std::uint32_t sourceSize,
                                                    const std::vector<std::uint8_t>& source,
                                                    const std::vector<std::uint8_t>& stored) {
        std::vector<std::uint8_t> r(64, 0xFF);
        auto put16 = [&](std::size_t at, std::uint32_t v) {
            r[at] = static_cast<std::uint8_t>(v);
            r[at + 1] = static_cast<std::uint8_t>(v >> 8);
        };
        PutLe32(r, 0, 0x19101998);
        put16(4, 1);
        PutLe32(r, 6, s.startAddress);
        PutLe32(r, 10, 0);
        PutLe32(r, 14, sourceSize);
        PutLe32(r, 18, static_cast<std::uint32_t>(stored.size()));
        put16(22, Crc16(source.data(), source.size(), 0xFFFF));
        put16(24, Crc16(stored.data(), stored.size(), 0xFFFF));
        put16(26, s.ceMajor & 0xFFFF);
        put16(28, s.ceMinor & 0xFFFF);
        PutLe32(r, 30, s.ceImageVersion);
        PutLe32(r, 34, s.appVersion);
        PutLe32(r, 38, s.auxValue);
        put16(42, ((s.attributes & 0x80000000u) ? 1u : 0u) | ((s.attributes & 4u) ? 2u : 0u));
        PutLe32(r, 44, 0xFFFFFFFF);
        PutLe32(r, 48, s.imageAreaSize);
        PutLe32(r, 52, s.type);
        put16(56, s.hardwareType & 0xFFFF);
        return r;
    }

    TempFolder folder;
    RecordingLog log;
    ScriptedPrompter prompter;
    ScriptedStatusHost host;
    std::unique_ptr<CTarnwickDoc> doc;
    std::unique_ptr<CeImageView> view;

private:
    std::string tempFiles_;
    bool hadTmpdir_ = false;
    std::string oldTmpdir_;
};

}  // namespace tarnwick::testing
