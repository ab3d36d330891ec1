#pragma once
// How an operating-system image is described: the 128-byte header of each
// section of an import file, the 64-byte header record that travels with an
// image into the document and the panel's flash, the version words and the
// document's nine description values.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

class Log;
class ImagePart;

// ---------------------------------------------------------------------------
// Import header: 128 bytes in front of every section of an import file.

constexpr std::size_t kImportHeaderSize = 128;
constexpr std::uint32_t kImportSignature = 0x30304543;  // "CE00"

// Attribute bits of an import header.
constexpr std::uint32_t kAttrCompressed = 0x80000000;   // data stored compressed
constexpr std::uint32_t kAttrHeaderFlag = 0x00000004;   // copied into the record's flags
constexpr std::uint32_t kAttrUndefinedMask = 0x7FFCFFF8;

struct ImportHeader {
    // A fresh header reads as 128 bytes of 0xFF until one is copied in.
    std::uint32_t signature = 0xFFFFFFFF;
    std::uint32_t ImageType = 0xFFFFFFFF;
    std::uint32_t CeVersionMajor = 0xFFFFFFFF;
    std::uint32_t CeVersionMinor = 0xFFFFFFFF;
    std::uint32_t CeImageVersion = 0xFFFFFFFF;
    std::uint32_t AppVersion = 0xFFFFFFFF;
    std::uint32_t HardwareType = 0xFFFFFFFF;
    std::uint32_t HardwareSubtype = 0xFFFFFFFF;
    std::uint32_t reserved32 = 0xFFFFFFFF;        // offset 32, not read
    std::uint32_t StartAddress = 0xFFFFFFFF;
    std::uint32_t AuxValue = 0xFFFFFFFF;
    std::uint32_t DataSize = 0xFFFFFFFF;
    std::uint32_t ImageAreaSize = 0xFFFFFFFF;
    std::uint32_t Attributes = 0xFFFFFFFF;
    std::array<std::uint8_t, 72> reserved{};      // offset 56, not read

    ImportHeader() { reserved.fill(0xFF); }

    // Field by field, little-endian; the reserved bytes are kept as they were.
    static ImportHeader Decode(const std::uint8_t* bytes);  // kImportHeaderSize bytes
    void Encode(std::uint8_t* bytes) const;                  // kImportHeaderSize bytes
    std::array<std::uint8_t, kImportHeaderSize> Bytes() const;

    bool IsCompressed() const { return (Attributes & kAttrCompressed) != 0; }
};

// One entry of the list: the header as read and where its data starts.
struct ImportHeaderEntry {
    ImportHeader header;
    std::uint32_t DataOffset = 0;
};

// The headers of one import file in file order, with the values derived from
// them. Appending an entry clears every derived value, so a result always
// belongs to the whole list.
class ImportHeaderList {
public:
    void Append(const ImportHeader& header);
    std::size_t Count() const { return entries_.size(); }
    // A copy of the entry; index must be below Count().
    ImportHeaderEntry At(std::size_t index) const { return entries_.at(index); }
    const std::vector<ImportHeaderEntry>& Entries() const { return entries_; }

    // Entry 0 gets 128, entry i the end of entry i−1's data plus 128.
    void ComputeDataOffsets();
    // Sum of DataSize over the entries stored compressed.
    void ComputeCompressTotal();
    // Index of the first entry of that ImageType, or −1.
    int FindType(std::uint32_t type) const;
    // The overall verdict of the checks; firstTypeValid and dataOffsetsDone
    // are not part of it.
    bool AllValid();

    // Derived values; the checks of the validation set their flags.
    std::uint32_t compressTotal = 0;
    bool allValid = false;
    bool signaturesValid = false;
    bool startAddressesValid = false;
    bool attributesDefined = false;
    bool attributeCombinationsValid = false;
    bool compressTotalDone = false;
    bool dataOffsetsDone = false;
    bool hardwareConsistent = false;
    bool imageAreasConsistent = false;
    bool firstTypeValid = false;

private:
    void ClearDerived();
    std::vector<ImportHeaderEntry> entries_;
};

// ---------------------------------------------------------------------------
// Header record: the whole content of an image's header part, 64 bytes.

constexpr std::size_t kImageHeaderRecordSize = 64;
constexpr std::uint32_t kImageHeaderMagic = 0x19101998;
constexpr std::uint16_t kImageHeaderVersion = 1;

// Flags of a header record.
constexpr std::uint16_t kRecordFlagCompressed = 0x0001;
constexpr std::uint16_t kRecordFlagAttr2 = 0x0002;

struct ImageHeaderRecord {
    std::uint32_t magic = kImageHeaderMagic;
    std::uint16_t recordVersion = kImageHeaderVersion;
    std::uint32_t StartAddress = 0;
    std::uint32_t StorageAddress = 0;
    std::uint32_t SourceSize = 0;
    std::uint32_t StoredSize = 0;
    std::uint16_t SourceCrc = 0;
    std::uint16_t StoredCrc = 0;
    std::uint16_t CeVersionMajor = 0;
    std::uint16_t CeVersionMinor = 0;
    std::uint32_t CeImageVersion = 0;
    std::uint32_t AppVersion = 0;
    std::uint32_t AuxValue = 0;
    std::uint16_t Flags = 0;
    std::uint32_t NextHeaderAddress = 0xFFFFFFFF;
    std::uint32_t ImageAreaSize = 0;
    std::uint32_t ImageType = 0;
    std::uint16_t HardwareType = 0;
    std::array<std::uint8_t, 6> fill{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

    static ImageHeaderRecord Decode(const std::uint8_t* bytes);  // kImageHeaderRecordSize bytes
    void Encode(std::uint8_t* bytes) const;                       // kImageHeaderRecordSize bytes
    std::array<std::uint8_t, kImageHeaderRecordSize> Bytes() const;
    // Crc16 (initial 0xFFFF) over the 64 encoded bytes: the header part's checksum.
    std::uint16_t Checksum() const;
};

// The record the import creates for one section: storedSize and storedCrc
// describe the bytes of the data part, sourceCrc the section's data as read.
ImageHeaderRecord MakeImageHeaderRecord(const ImportHeader& header, std::uint32_t storedSize,
                                        std::uint16_t sourceCrc, std::uint16_t storedCrc);

// Replaces the content of a header part with record: writes the 64 bytes from
// the start of its file and sets size and checksum. False when the part's
// file refused the bytes (the part is then unchanged in size and checksum).
bool WriteHeaderRecord(ImagePart& part, const ImageHeaderRecord& record);
// Reads the record from a header part; nothing when the part holds fewer
// than 64 bytes or its file cannot be read.
std::optional<ImageHeaderRecord> ReadHeaderRecord(ImagePart& part);

// ---------------------------------------------------------------------------
// Version words and the document's description values.

// Bit 31 chooses the prefix (string 11014 "B" when set, 11015 "V" when
// clear); bits 30…24, 23…16, 15…8 and 7…0 are the four numbers.
std::string VersionPrefix(std::uint32_t word);
std::array<unsigned, 4> VersionNumbers(std::uint32_t word);
// "V 1.2.3.4"
std::string FormatVersionWord(std::uint32_t word);

// The nine values a document keeps about its images; all zero when empty.
struct DescriptionValues {
    std::uint32_t CeImageVersion = 0;
    std::uint32_t AppVersion = 0;
    std::uint32_t CeVersionMajor = 0;
    std::uint32_t CeVersionMinor = 0;
    std::uint32_t HardwareType = 0;
    std::uint32_t HardwareSubtype = 0;
    std::uint32_t AuxValue = 0;
    std::uint32_t ImageAreaSize = 0;
    std::uint32_t StoredTotal = 0;

    // The values the import takes from the first header (StoredTotal stays).
    void TakeFromImportHeader(const ImportHeader& header);
    bool operator==(const DescriptionValues&) const = default;
};

// The three version lines, each appended as a normal line:
// "Windows CE:\t%d.%d\r\n", "Ausgabestand Windows CE:\t%s %d.%d.%d.%d\r\n"
// and "Ausgabestand Applikation:\t%s %d.%d.%d.%d\r\n".
std::vector<std::string> ImageVersionLines(const DescriptionValues& values);
void LogImageVersions(Log& log, const DescriptionValues& values);

}  // namespace tarnwick
