#pragma once
// A document with recording ports, a scratch folder of its own and a temp
// folder of its own, so that every test can see which files it left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "document/tarnwick_doc.h"
#include "link/error_state.h"
#include "support/fakes.h"

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b[at + i];
    return v;
}

// The block stream of data (at most one block), as the document stores it.
inline Bytes StreamOf(const Bytes& data) {
    if (data.empty()) return {};
    Bytes block(kBlockHeaderSize + data.size());
    CodecContext context;
    context.dataLength = static_cast<std::uint32_t>(data.size());
    EncodeBlock(block.data(), data.data(), context);
    block.resize(context.blockLength);
    return block;
}

inline std::uint16_t Crc(const Bytes& data) { return Crc16(data.data(), data.size(), kCrcInit); }

// One 42-byte record of the document file.
inline Bytes RecordOf(std::uint32_t id, std::uint32_t dataOffset, std::uint32_t size,
                      std::uint32_t address, std::uint16_t checksum, std::uint32_t packedSize,
                      std::uint16_t packedChecksum) {
    Bytes r(kPartRecordSize, 0);
    Put32(r, 0, id);
    Put32(r, 4, dataOffset);
    Put32(r, 8, size);
    Put32(r, 12, address);
    Put16(r, 16, checksum);
    Put32(r, 18, packedSize);
    Put16(r, 22, packedChecksum);
    return r;
}

inline Bytes HeaderOf(std::uint16_t count, std::uint32_t tableOffset,
                      const DescriptionValues& v = {}) {
    Bytes h(kDocumentHeaderSize, 0);
    Put16(h, 0, count);
    Put32(h, 2, tableOffset);
    const std::uint32_t values[] = {v.CeImageVersion, v.AppVersion,      v.CeVersionMajor,
                                    v.CeVersionMinor, v.HardwareType,    v.HardwareSubtype,
                                    v.AuxValue,       v.ImageAreaSize,   v.StoredTotal};
    for (std::size_t i = 0; i < 9; ++i) Put32(h, 6 + 4 * i, values[i]);
    Put32(h, 60, kDocumentMagic);
    return h;
}

inline void Append(Bytes& to, const Bytes& what) { to.insert(to.end(), what.begin(), what.end()); }

// A file object whose disk takes only `budget` bytes, and may refuse to flush.
class FailingFile : public File {
public:
    explicit FailingFile(std::size_t budget, bool flushFails = false)
        : budget_(budget), flushFails_(flushFails) {}
    bool Write(const void* buffer, std::size_t n) override {
        if (n > budget_) {
            File::Write(buffer, budget_);  // half the block reaches the disk
            budget_ = 0;
            return false;
        }
        budget_ -= n;
        return File::Write(buffer, n);
    }
    bool Flush() override { return flushFails_ ? false : File::Flush(); }

private:
    std::size_t budget_;
    bool flushFails_;
};

class DocTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-doc-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        tempDir_ = root_ + "/tmp";
        std::filesystem::create_directory(tempDir_);
        const char* old = std::getenv("TMPDIR");
        if (old) oldTmp_ = old;
        hadTmp_ = old != nullptr;
        ::setenv("TMPDIR", tempDir_.c_str(), 1);
        ClearErrors();
    }
    void TearDown() override {
        doc_.RemoveAllParts();
        if (hadTmp_) ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        else ::unsetenv("TMPDIR");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        ClearErrors();
    }

    std::string PathIn(const std::string& name) const { return root_ + "/" + name; }

    // Names of the files in a folder.
    static std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::size_t TempFileCount() const { return FilesIn(tempDir_).size(); }

    ImagePart& AddPart(std::uint32_t id, const Bytes& data, std::uint32_t address = 0) {
        ImagePart* part = doc_.AddPart();
        EXPECT_NE(part, nullptr);
        EXPECT_TRUE(part->Assign(data.data(), data.size()));
        part->SetId(id);
        part->SetAddress(address);
        return *part;
    }

    Bytes PartBytes(ImagePart& part) {
        Bytes data(part.Size());
        part.GetFile().Seek(0);
        const auto got = part.GetFile().Read(data.data(), data.size());
        data.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        return data;
    }

    std::vector<std::string> MessagesShown() const {
        std::vector<std::string> texts;
        for (const auto& m : prompter_.shown) texts.push_back(m.text);
        return texts;
    }

    std::string root_;
    std::string tempDir_;
    std::string oldTmp_;
    bool hadTmp_ = false;
    RecordingLog log_;
    ScriptedPrompter prompter_;
    CTarnwickDoc doc_{log_, prompter_};
};

}  // namespace tarnwick::testing
