#pragma once
// One piece of data for the panel's flash: an image's stored bytes, its
// 64-byte header record, or the panel's configuration data. The bytes live in
// a temporary file that the part owns, so images of any size never have to be
// held in memory; the part itself carries identifier, size, checksum and
// flash address of those bytes.
#include <cstdint>
#include <string>

#include "app/file.h"

namespace tarnwick {

// Part identifiers: one bit each. The unknown kind counts as bit 31.
constexpr std::uint32_t kUnknownPartId = 0x80000000;
constexpr std::uint32_t kConfigPartId = 0x00000100;

constexpr std::size_t kPartRecordSize = 42;

// Function codes of the document's failure records.
constexpr std::uint32_t kFnLoadPartData = 0x45;    // 0x3A part fails its check, 0x38 temp file full
constexpr std::uint32_t kFnLoadDocument = 0x46;    // 0x3C not a document of this kind
constexpr std::uint32_t kFnCreatePart = 0x60;      // 0x38 temporary file cannot be created
constexpr std::uint32_t kFnSavePartData = 0x61;    // 0x33 part bytes unreadable, 0x38 write failed
constexpr std::uint32_t kFnSaveDocument = 0x62;    // 0x3B target cannot be created, 0x38 write failed
constexpr std::uint32_t kFnOpenDocument = 0x63;    // 0x36 file missing, 0x33 file unreadable

// The document file as Serialize and the parts see it while storing or
// loading. While loading it also knows where the records and streams may lie
// (everything before the 64-byte header), so nothing is read from beyond it.
class Archive {
public:
    enum class Mode { Store, Load };

    Archive(File& file, Mode mode) : file_(file), mode_(mode) {}

    File& GetFile() { return file_; }
    bool IsStoring() const { return mode_ == Mode::Store; }
    bool IsLoading() const { return mode_ == Mode::Load; }

    // Loading: offsets at or beyond this limit lie outside the readable area.
    std::int64_t LoadLimit() const { return loadLimit_; }
    void SetLoadLimit(std::int64_t limit) { loadLimit_ = limit; }

private:
    File& file_;
    Mode mode_;
    std::int64_t loadLimit_ = 0;
};

class ImagePart {
public:
    // Creates the part's temporary file ("exp" in $TMPDIR, default /tmp).
    // When that fails the part has no file: HasFile() tells.
    ImagePart();
    // Closes and deletes the temporary file.
    virtual ~ImagePart();

    ImagePart(ImagePart&& other) noexcept;
    ImagePart& operator=(ImagePart&& other) noexcept;
    ImagePart(const ImagePart&) = delete;
    ImagePart& operator=(const ImagePart&) = delete;

    bool HasFile() const { return file_.IsOpen(); }

    std::uint32_t Id() const { return id_; }
    void SetId(std::uint32_t id) { id_ = id; }
    // Number of valid bytes at the start of the file.
    std::uint32_t Size() const { return size_; }
    void SetSize(std::uint32_t size) { size_ = size; }
    // Address in the panel's flash; 0 while not placed.
    std::uint32_t Address() const { return address_; }
    void SetAddress(std::uint32_t address) { address_ = address; }
    // Crc16 (initial 0xFFFF) over the Size() bytes.
    std::uint16_t Checksum() const { return checksum_; }
    void SetChecksum(std::uint16_t checksum) { checksum_ = checksum; }

    // Meaningful only while a document is stored or loaded.
    std::uint32_t DataOffset() const { return dataOffset_; }
    std::uint32_t PackedSize() const { return packedSize_; }
    std::uint16_t PackedChecksum() const { return packedChecksum_; }

    // The temporary file: read, write, seek, length, path.
    File& GetFile() { return file_; }
    const File& GetFile() const { return file_; }
    const std::string& FilePath() const { return file_.Path(); }

    // Replaces the part's bytes with n bytes of data, from the start of the
    // file, and sets size and checksum. False when the file refused them.
    bool Assign(const void* data, std::size_t n);

    // Store: writes the 42-byte record at the archive's position; false when
    // the file refused it. Load: reads the record at the archive's position;
    // false (fields untouched) when the record does not lie whole inside the
    // readable area or cannot be read.
    bool SerializeRecord(Archive& archive);
    // Store: appends the part's bytes as a block stream and records offset,
    // packed size and both checksums; false (failure recorded) when the part's
    // bytes cannot be read back or the document file refuses the stream.
    // Load: decodes the stream into the part's file; false (failure recorded)
    // when it lies outside the file, is damaged, or differs from the record.
    bool SerializeData(Archive& archive);

    // The folder temporary files go to: $TMPDIR, or /tmp when unset or empty.
    static std::string TempFolder();

private:
    void Release();

    std::uint32_t id_ = kUnknownPartId;
    std::uint32_t dataOffset_ = 0;
    std::uint32_t size_ = 0;
    std::uint32_t address_ = 0;
    std::uint16_t checksum_ = 0;
    std::uint32_t packedSize_ = 0;
    std::uint16_t packedChecksum_ = 0;
    File file_;
};

}  // namespace tarnwick
