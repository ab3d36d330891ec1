#include "sim/image_doc.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "codec/crc16.h"
#include "codec/lz_codec.h"

namespace panelsim {

namespace {

constexpr std::uint32_t kDocumentMagic = 0x03031998;
constexpr std::uint32_t kHeaderMagic = 0x19101998;
constexpr std::size_t kTrailerSize = 64;
constexpr std::size_t kRecordSize = 42;
constexpr std::size_t kHeaderRecordSize = 64;

std::uint32_t Get16(const std::uint8_t* p) { return p[0] | (static_cast<std::uint32_t>(p[1]) << 8); }
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

bool IsHeaderId(std::uint32_t id) {
    switch (id) {
    case 0x20000000: case 0x400: case 0x8: case 0x20: case 0x80: case 0x40000000: return true;
    default: return false;
    }
}

bool DecodePartStream(const std::uint8_t* stream, std::size_t length, DocumentPart& part,
                      std::uint16_t& packedChecksum, std::string& error) {
    std::uint16_t blockCrc = 0xFFFF;
    std::vector<std::uint8_t> piece(tarnwick::kBlockPiece);
    std::size_t at = 0;
    while (at < length) {
        tarnwick::CodecContext ctx;
        ctx.runningChecksums = 0;
        tarnwick::DecodeBlock(piece.data(), piece.size(), stream + at, length - at, ctx);
        if (ctx.status != tarnwick::kCodecOk) {
            error = "block at stream offset " + std::to_string(at) + " does not decode (status " +
                    std::to_string(ctx.status) + ")";
            return false;
        }
        blockCrc = tarnwick::Crc16(stream + at, ctx.blockLength, blockCrc);
        part.data.insert(part.data.end(), piece.begin(), piece.begin() + ctx.dataLength);
        at += ctx.blockLength;
    }
    packedChecksum = blockCrc;
    return true;
}

}  // namespace

bool ParseImageDocument(const std::vector<std::uint8_t>& file, ImageDocument& doc, std::string& error) {
    if (file.size() < kTrailerSize || Get32(file.data() + file.size() - 4) != kDocumentMagic) {
        error = "not an image document (no trailer 98 19 03 03)";
        return false;
    }
    const std::uint8_t* header = file.data() + file.size() - kTrailerSize;
    const std::uint32_t count = Get16(header);
    const std::uint32_t table = Get32(header + 2);
    doc.ceVersionMajor = Get32(header + 14);
    doc.hardwareType = Get32(header + 22);
    doc.imageAreaSize = Get32(header + 34);
    if (static_cast<std::uint64_t>(table) + static_cast<std::uint64_t>(count) * kRecordSize > file.size()) {
        error = "the record table runs past the end of the file";
        return false;
    }
    doc.parts.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* r = file.data() + table + i * kRecordSize;
        DocumentPart part;
        part.id = Get32(r);
        const std::uint32_t dataOffset = Get32(r + 4);
        const std::uint32_t size = Get32(r + 8);
        part.address = Get32(r + 12);
        part.checksum = static_cast<std::uint16_t>(Get16(r + 16));
        const std::uint32_t packedSize = Get32(r + 18);
        const std::uint16_t packedChecksum = static_cast<std::uint16_t>(Get16(r + 22));
        const std::string name = "part " + std::to_string(i) + " (id " + Hex(part.id) + ")";
        if (static_cast<std::uint64_t>(dataOffset) + packedSize > file.size()) {
            error = name + ": its stream runs past the end of the file";
            return false;
        }
        std::uint16_t blockCrc = 0;
        if (!DecodePartStream(file.data() + dataOffset, packedSize, part, blockCrc, error)) {
            error = name + ": " + error;
            return false;
        }
        const std::uint16_t dataCrc = tarnwick::Crc16(part.data.data(), part.data.size(), 0xFFFF);
        if (part.data.size() != size || dataCrc != part.checksum || blockCrc != packedChecksum) {
            error = name + ": size or checksums differ from its record";
            return false;
        }
        doc.parts.push_back(std::move(part));
    }
    return true;
}

bool ReadImageDocument(const std::string& path, ImageDocument& doc, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!ParseImageDocument(bytes, doc, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool PreloadDocument(const ImageDocument& doc, Memory& memory, std::vector<std::string>& log,
                     std::string& error) {
    const PanelConfig& cfg = memory.Config();
    std::map<std::uint32_t, const DocumentPart*> byId;
    std::uint32_t ids = 0;
    std::uint32_t headerIds = 0;
    for (const DocumentPart& p : doc.parts) {
        byId[p.id] = &p;
        ids |= p.id;
        if (IsHeaderId(p.id)) headerIds |= p.id;
    }

    // address of each part, and the header records as they go into flash
    std::map<std::uint32_t, std::uint32_t> address;
    std::map<std::uint32_t, std::vector<std::uint8_t>> headers;
    bool unplaced = false;
    for (const DocumentPart& p : doc.parts) {
        address[p.id] = p.address;
        if (IsHeaderId(p.id)) {
            if (p.data.size() != kHeaderRecordSize || Get32(p.data.data()) != kHeaderMagic) {
                error = "header part " + Hex(p.id) + " is not a 64-byte image header record";
                return false;
            }
            headers[p.id] = p.data;
            if (Get32(p.data.data() + 0x0A) == 0) unplaced = true;
        }
    }

    if (unplaced) {
        const auto areaStart = ImageAreaStart(cfg);
        if (!areaStart) {
            error = "the panel's hardware type has no image area; the images cannot be placed";
            return false;
        }
        const std::uint32_t base = *areaStart;
        const std::uint32_t gap = NormalisedType(cfg.hardwareType) == 0x400 ? 1024 : 0;
        const std::uint32_t imageIds = ids & ~0x100u;
        auto patch = [&](std::uint32_t headerId, std::uint32_t storage, std::uint32_t next) {
            Put32(headers[headerId].data() + 0x0A, storage);
            Put32(headers[headerId].data() + 0x2C, next);
        };
        if (imageIds == 0x20000601) {
            const std::uint32_t s = base + gap + 64;
            address[0x20000000] = base;
            patch(0x20000000, s, cfg.flashStart);
            address[0x1] = s;
            address[0x400] = cfg.flashStart;
            patch(0x400, cfg.flashStart + 64, 0);
            address[0x200] = cfg.flashStart + 64;
        } else if (imageIds == 0xC0 || imageIds == 0x20000001 || imageIds == 0x40000002) {
            const std::uint32_t h = headerIds;
            const std::uint32_t s = base + gap + 64;
            address[h] = base;
            patch(h, s, 0);
            address[imageIds & ~h] = s;
        } else {
            error = "unplaced images of the combination " + Hex(imageIds) + " cannot be placed";
            return false;
        }
    }

    // The configuration data goes behind the first image area when it has no place.
    if (byId.count(0x100) && address[0x100] == 0) {
        const auto areaStart = ImageAreaStart(cfg);
        std::uint32_t areaSize = doc.imageAreaSize;
        for (const auto& [id, h] : headers) {
            if (address[id] == areaStart.value_or(0)) areaSize = Get32(h.data() + 0x30);
        }
        address[0x100] = areaStart.value_or(cfg.flashStart) + areaSize;
    }

    for (const DocumentPart& p : doc.parts) {
        const std::vector<std::uint8_t>& bytes = IsHeaderId(p.id) ? headers[p.id] : p.data;
        const std::uint32_t a = address[p.id];
        if (!memory.Store(a, bytes.data(), bytes.size())) {
            error = "part " + Hex(p.id) + " (" + std::to_string(bytes.size()) + " bytes at " + Hex(a) +
                    ") does not fit the flash";
            return false;
        }
        log.push_back("preload part " + Hex(p.id) + " size=" + std::to_string(bytes.size()) + " at " + Hex(a));
    }
    return true;
}

}  // namespace panelsim
