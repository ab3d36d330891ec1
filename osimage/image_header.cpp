#include "osimage/image_header.h"

#include <algorithm>
#include <cstdio>

#include "app/string_table.h"
#include "codec/crc16.h"
#include "document/image_part.h"
#include "document/le_bytes.h"
#include "ports/log.h"

namespace tarnwick {

// ---------------------------------------------------------------------------
// Import header

ImportHeader ImportHeader::Decode(const std::uint8_t* b) {
    ImportHeader h;
    h.signature = le::Get32(b + 0);
    h.ImageType = le::Get32(b + 4);
    h.CeVersionMajor = le::Get32(b + 8);
    h.CeVersionMinor = le::Get32(b + 12);
    h.CeImageVersion = le::Get32(b + 16);
    h.AppVersion = le::Get32(b + 20);
    h.HardwareType = le::Get32(b + 24);
    h.HardwareSubtype = le::Get32(b + 28);
    h.reserved32 = le::Get32(b + 32);
    h.StartAddress = le::Get32(b + 36);
    h.AuxValue = le::Get32(b + 40);
    h.DataSize = le::Get32(b + 44);
    h.ImageAreaSize = le::Get32(b + 48);
    h.Attributes = le::Get32(b + 52);
    std::copy(b + 56, b + kImportHeaderSize, h.reserved.begin());
    return h;
}

void ImportHeader::Encode(std::uint8_t* b) const {
    le::Put32(b + 0, signature);
    le::Put32(b + 4, ImageType);
    le::Put32(b + 8, CeVersionMajor);
    le::Put32(b + 12, CeVersionMinor);
    le::Put32(b + 16, CeImageVersion);
    le::Put32(b + 20, AppVersion);
    le::Put32(b + 24, HardwareType);
    le::Put32(b + 28, HardwareSubtype);
    le::Put32(b + 32, reserved32);
    le::Put32(b + 36, StartAddress);
    le::Put32(b + 40, AuxValue);
    le::Put32(b + 44, DataSize);
    le::Put32(b + 48, ImageAreaSize);
    le::Put32(b + 52, Attributes);
    std::copy(reserved.begin(), reserved.end(), b + 56);
}

std::array<std::uint8_t, kImportHeaderSize> ImportHeader::Bytes() const {
    std::array<std::uint8_t, kImportHeaderSize> bytes{};
    Encode(bytes.data());
    return bytes;
}

// ---------------------------------------------------------------------------
// Import header list

void ImportHeaderList::ClearDerived() {
    compressTotal = 0;
    allValid = false;
    signaturesValid = false;
    startAddressesValid = false;
    attributesDefined = false;
    attributeCombinationsValid = false;
    compressTotalDone = false;
    dataOffsetsDone = false;
    hardwareConsistent = false;
    imageAreasConsistent = false;
    firstTypeValid = false;
}

void ImportHeaderList::Append(const ImportHeader& header) {
    entries_.push_back(ImportHeaderEntry{header, 0});
    ClearDerived();
}

void ImportHeaderList::ComputeDataOffsets() {
    // 32-bit arithmetic like the file offsets it describes; an import file
    // is smaller than 4 GiB.
    std::uint32_t offset = kImportHeaderSize;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i > 0) {
            offset = entries_[i - 1].DataOffset + entries_[i - 1].header.DataSize +
                     static_cast<std::uint32_t>(kImportHeaderSize);
        }
        entries_[i].DataOffset = offset;
    }
    dataOffsetsDone = true;
}

void ImportHeaderList::ComputeCompressTotal() {
    std::uint32_t total = 0;
    for (const auto& e : entries_) {
        if (e.header.IsCompressed()) total += e.header.DataSize;
    }
    compressTotal = total;
    compressTotalDone = true;
}

int ImportHeaderList::FindType(std::uint32_t type) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].header.ImageType == type) return static_cast<int>(i);
    }
    return -1;
}

bool ImportHeaderList::AllValid() {
    allValid = signaturesValid && startAddressesValid && attributesDefined &&
               attributeCombinationsValid && compressTotalDone && hardwareConsistent &&
               imageAreasConsistent;
    return allValid;
}

// ---------------------------------------------------------------------------
// Header record

ImageHeaderRecord ImageHeaderRecord::Decode(const std::uint8_t* b) {
    ImageHeaderRecord r;
    r.magic = le::Get32(b + 0);
    r.recordVersion = le::Get16(b + 4);
    r.StartAddress = le::Get32(b + 6);
    r.StorageAddress = le::Get32(b + 10);
    r.SourceSize = le::Get32(b + 14);
    r.StoredSize = le::Get32(b + 18);
    r.SourceCrc = le::Get16(b + 22);
    r.StoredCrc = le::Get16(b + 24);
    r.CeVersionMajor = le::Get16(b + 26);
    r.CeVersionMinor = le::Get16(b + 28);
    r.CeImageVersion = le::Get32(b + 30);
    r.AppVersion = le::Get32(b + 34);
    r.AuxValue = le::Get32(b + 38);
    r.Flags = le::Get16(b + 42);
    r.NextHeaderAddress = le::Get32(b + 44);
    r.ImageAreaSize = le::Get32(b + 48);
    r.ImageType = le::Get32(b + 52);
    r.HardwareType = le::Get16(b + 56);
    std::copy(b + 58, b + kImageHeaderRecordSize, r.fill.begin());
    return r;
}

void ImageHeaderRecord::Encode(std::uint8_t* b) const {
    le::Put32(b + 0, magic);
    le::Put16(b + 4, recordVersion);
    le::Put32(b + 6, StartAddress);
    le::Put32(b + 10, StorageAddress);
    le::Put32(b + 14, SourceSize);
    le::Put32(b + 18, StoredSize);
    le::Put16(b + 22, SourceCrc);
    le::Put16(b + 24, StoredCrc);
    le::Put16(b + 26, CeVersionMajor);
    le::Put16(b + 28, CeVersionMinor);
    le::Put32(b + 30, CeImageVersion);
    le::Put32(b + 34, AppVersion);
    le::Put32(b + 38, AuxValue);
    le::Put16(b + 42, Flags);
    le::Put32(b + 44, NextHeaderAddress);
    le::Put32(b + 48, ImageAreaSize);
    le::Put32(b + 52, ImageType);
    le::Put16(b + 56, HardwareType);
    std::copy(fill.begin(), fill.end(), b + 58);
}

std::array<std::uint8_t, kImageHeaderRecordSize> ImageHeaderRecord::Bytes() const {
    std::array<std::uint8_t, kImageHeaderRecordSize> bytes{};
    Encode(bytes.data());
    return bytes;
}

std::uint16_t ImageHeaderRecord::Checksum() const {
    const auto bytes = Bytes();
    return Crc16(bytes.data(), bytes.size(), kCrcInit);
}

ImageHeaderRecord MakeImageHeaderRecord(const ImportHeader& header, std::uint32_t storedSize,
                                        std::uint16_t sourceCrc, std::uint16_t storedCrc) {
    ImageHeaderRecord r;
    r.StartAddress = header.StartAddress;
    r.StorageAddress = 0;
    r.SourceSize = header.DataSize;
    r.StoredSize = storedSize;
    r.SourceCrc = sourceCrc;
    r.StoredCrc = storedCrc;
    r.CeVersionMajor = static_cast<std::uint16_t>(header.CeVersionMajor);
    r.CeVersionMinor = static_cast<std::uint16_t>(header.CeVersionMinor);
    r.CeImageVersion = header.CeImageVersion;
    r.AppVersion = header.AppVersion;
    r.AuxValue = header.AuxValue;
    r.Flags = 0;
    if (header.Attributes & kAttrCompressed) r.Flags |= kRecordFlagCompressed;
    if (header.Attributes & kAttrHeaderFlag) r.Flags |= kRecordFlagAttr2;
    r.NextHeaderAddress = 0xFFFFFFFF;
    r.ImageAreaSize = header.ImageAreaSize;
    r.ImageType = header.ImageType;
    r.HardwareType = static_cast<std::uint16_t>(header.HardwareType);
    return r;
}

bool WriteHeaderRecord(ImagePart& part, const ImageHeaderRecord& record) {
    const auto bytes = record.Bytes();
    return part.Assign(bytes.data(), bytes.size());
}

std::optional<ImageHeaderRecord> ReadHeaderRecord(ImagePart& part) {
    if (part.Size() < kImageHeaderRecordSize) return std::nullopt;
    std::array<std::uint8_t, kImageHeaderRecordSize> bytes{};
    File& file = part.GetFile();
    if (file.Seek(0) != 0) return std::nullopt;
    if (file.Read(bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size())) {
        return std::nullopt;
    }
    return ImageHeaderRecord::Decode(bytes.data());
}

// ---------------------------------------------------------------------------
// Version words and description values

std::string VersionPrefix(std::uint32_t word) {
    return Text((word & 0x80000000u) ? 11014 : 11015);
}

std::array<unsigned, 4> VersionNumbers(std::uint32_t word) {
    return {(word >> 24) & 0x7Fu, (word >> 16) & 0xFFu, (word >> 8) & 0xFFu, word & 0xFFu};
}

namespace {
std::string FormatNumbers(std::uint32_t word) {
    const auto n = VersionNumbers(word);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
    return buffer;
}
}  // namespace

std::string FormatVersionWord(std::uint32_t word) {
    return VersionPrefix(word) + " " + FormatNumbers(word);
}

void DescriptionValues::TakeFromImportHeader(const ImportHeader& header) {
    CeImageVersion = header.CeImageVersion;
    AppVersion = header.AppVersion;
    CeVersionMajor = header.CeVersionMajor;
    CeVersionMinor = header.CeVersionMinor;
    HardwareType = header.HardwareType;
    HardwareSubtype = header.HardwareSubtype;
    AuxValue = header.AuxValue;
    ImageAreaSize = header.ImageAreaSize;
}

std::vector<std::string> ImageVersionLines(const DescriptionValues& values) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%u.%u", values.CeVersionMajor, values.CeVersionMinor);
    return {
        "Windows CE:\t" + std::string(buffer) + "\r\n",
        "Ausgabestand Windows CE:\t" + FormatVersionWord(values.CeImageVersion) + "\r\n",
        "Ausgabestand Applikation:\t" + FormatVersionWord(values.AppVersion) + "\r\n",
    };
}

void LogImageVersions(Log& log, const DescriptionValues& values) {
    for (const auto& line : ImageVersionLines(values)) log.AppendLog(line, kLogBlack, kLogNormal);
}

}  // namespace tarnwick
