#include "document/image_part.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "document/checked_file.h"
#include "document/le_bytes.h"
#include "link/error_codes.h"
#include "link/error_state.h"

namespace tarnwick {
namespace {

// Crc16 takes at most 32768 bytes at a time; longer data runs on in pieces.
std::uint16_t ChecksumOf(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint16_t crc = kCrcInit;
    while (n > 0) {
        const std::size_t piece = n < 32768 ? n : 32768;
        crc = Crc16(p, piece, crc);
        p += piece;
        n -= piece;
    }
    return crc;
}

}  // namespace

std::string ImagePart::TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') return "/tmp";
    return dir;
}

ImagePart::ImagePart() {
    std::string name = TempFolder();
    if (name.back() != '/') name += '/';
    name += "expXXXXXX";
    int fd;
    do {
        fd = ::mkostemp(name.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) file_.Adopt(fd, name);
}

ImagePart::~ImagePart() { Release(); }

void ImagePart::Release() {
    if (file_.IsOpen()) {
        const std::string path = file_.Path();
        file_.Close();
        ::unlink(path.c_str());  // a leftover temporary file is not worth a message
    }
}

ImagePart::ImagePart(ImagePart&& other) noexcept
    : id_(other.id_),
      dataOffset_(other.dataOffset_),
      size_(other.size_),
      address_(other.address_),
      checksum_(other.checksum_),
      packedSize_(other.packedSize_),
      packedChecksum_(other.packedChecksum_),
      file_(std::move(other.file_)) {}

ImagePart& ImagePart::operator=(ImagePart&& other) noexcept {
    if (this != &other) {
        Release();
        id_ = other.id_;
        dataOffset_ = other.dataOffset_;
        size_ = other.size_;
        address_ = other.address_;
        checksum_ = other.checksum_;
        packedSize_ = other.packedSize_;
        packedChecksum_ = other.packedChecksum_;
        file_ = std::move(other.file_);
    }
    return *this;
}

bool ImagePart::Assign(const void* data, std::size_t n) {
    if (!HasFile() || n > 0xFFFFFFFFu) return false;
    if (file_.Seek(0) != 0 || !file_.Write(data, n)) return false;
    size_ = static_cast<std::uint32_t>(n);
    checksum_ = ChecksumOf(data, n);
    return true;
}

bool ImagePart::SerializeRecord(Archive& archive) {
    File& doc = archive.GetFile();
    std::uint8_t record[kPartRecordSize] = {};
    if (archive.IsStoring()) {
        le::Put32(record + 0, id_);
        le::Put32(record + 4, dataOffset_);
        le::Put32(record + 8, size_);
        le::Put32(record + 12, address_);
        le::Put16(record + 16, checksum_);
        le::Put32(record + 18, packedSize_);
        le::Put16(record + 22, packedChecksum_);
        // The 18 reserved bytes stay zero.
        return doc.Write(record, sizeof record);
    }
    const std::int64_t pos = doc.Position();
    if (pos < 0 || pos + static_cast<std::int64_t>(kPartRecordSize) > archive.LoadLimit()) {
        return false;
    }
    if (doc.Read(record, sizeof record) != static_cast<std::int64_t>(sizeof record)) return false;
    id_ = le::Get32(record + 0);
    dataOffset_ = le::Get32(record + 4);
    size_ = le::Get32(record + 8);
    address_ = le::Get32(record + 12);
    checksum_ = le::Get16(record + 16);
    packedSize_ = le::Get32(record + 18);
    packedChecksum_ = le::Get16(record + 22);
    return true;
}

bool ImagePart::SerializeData(Archive& archive) {
    File& doc = archive.GetFile();
    if (archive.IsStoring()) {
        // The part's bytes must come back whole: a stream cut short would be
        // a damaged image in a file that looks fine.
        if (!HasFile() || file_.Seek(0) != 0) {
            ReportError(kFnSavePartData, kErrorFileRead);
            return false;
        }
        const std::int64_t start = doc.Position();
        if (start < 0) {
            ReportError(kFnSavePartData, kErrorFileWrite);
            return false;
        }
        CheckedFile source(file_);
        CheckedFile destination(doc);
        CodecContext context = RunningChecksumContext();
        context.dataLength = size_;
        EncodeStream(destination, source, context);
        if (context.status == kCodecShortInput || source.ReadFailed()) {
            ReportError(kFnSavePartData, kErrorFileRead);
            return false;
        }
        const std::int64_t end = start + static_cast<std::int64_t>(context.blockLength);
        // Offsets in the file are 32-bit: a document must stay below 4 GiB.
        if (context.status != kCodecOk || destination.WriteFailed() || doc.Position() != end ||
            end > static_cast<std::int64_t>(0xFFFFFFFFu)) {
            ReportError(kFnSavePartData, kErrorFileWrite);
            return false;
        }
        dataOffset_ = static_cast<std::uint32_t>(start);
        checksum_ = context.dataChecksum;
        packedChecksum_ = context.blockChecksum;
        packedSize_ = context.blockLength;
        return true;
    }

    // Loading: the stream must lie whole in front of the document's header.
    const std::int64_t streamEnd =
        static_cast<std::int64_t>(dataOffset_) + static_cast<std::int64_t>(packedSize_);
    if (streamEnd > archive.LoadLimit()) {
        ReportError(kFnLoadPartData, kErrorFileDataUnreadable);
        return false;
    }
    if (!HasFile() || file_.Seek(0) != 0) {
        ReportError(kFnLoadPartData, kErrorFileWrite);
        return false;
    }
    if (doc.Seek(dataOffset_) != static_cast<std::int64_t>(dataOffset_)) {
        ReportError(kFnLoadPartData, kErrorFileDataUnreadable);
        return false;
    }
    CheckedFile source(doc);
    source.SetReadEnd(streamEnd);
    CheckedFile destination(file_);
    CodecContext context = RunningChecksumContext();
    context.blockLength = packedSize_;
    DecodeStream(destination, source, context);
    if (destination.WriteFailed()) {
        ReportError(kFnLoadPartData, kErrorFileWrite);
        return false;
    }
    if (context.status == kCodecOk && context.dataChecksum == checksum_ &&
        context.blockChecksum == packedChecksum_ && context.dataLength == size_) {
        return true;
    }
    ReportError(kFnLoadPartData, kErrorFileDataUnreadable);
    return false;
}

}  // namespace tarnwick
