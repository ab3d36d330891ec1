#pragma once
// Makes Windows CE import files (*.NB0) for tests: sections of a 128-byte
// header and their data, with chosen types, attributes, sizes and hardware
// values. Written from the file layout alone, field by field, so it checks
// the reader instead of sharing its code.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarnwick::testing {

constexpr std::uint32_t kNb0Signature = 0x30304543;  // "CE00"

// Attribute combinations an import accepts.
constexpr std::uint32_t kAttrStoredA = 0x00010001;
constexpr std::uint32_t kAttrStoredB = 0x00020001;
constexpr std::uint32_t kAttrStoredC = 0x00020002;
constexpr std::uint32_t kAttrCompressed = 0x80010004;

struct Nb0Section {
    std::uint32_t signature = kNb0Signature;
    std::uint32_t type = 1;
    std::uint32_t ceMajor = 4;
    std::uint32_t ceMinor = 20;
    std::uint32_t ceImageVersion = 0x01020304;
    std::uint32_t appVersion = 0x81000002;
    std::uint32_t hardwareType = 0x0200;
    std::uint32_t hardwareSubtype = 0;
    std::uint32_t reserved = 0;
    std::uint32_t startAddress = 0x80001000;
    std::uint32_t auxValue = 0x00C0FFEE;
    std::uint32_t imageAreaSize = 0x003B0000;
    std::uint32_t attributes = kAttrStoredA;
    std::vector<std::uint8_t> data;
    // A header that claims another size than the data that follows.
    std::optional<std::uint32_t> dataSizeInHeader;

    Nb0Section& Type(std::uint32_t v) { type = v; return *this; }
    Nb0Section& Attributes(std::uint32_t v) { attributes = v; return *this; }
    Nb0Section& Hardware(std::uint32_t t, std::uint32_t sub = 0) {
        hardwareType = t;
        hardwareSubtype = sub;
        return *this;
    }
    Nb0Section& Area(std::uint32_t v) { imageAreaSize = v; return *this; }
    Nb0Section& Start(std::uint32_t v) { startAddress = v; return *this; }
    Nb0Section& Data(std::vector<std::uint8_t> v) { data = std::move(v); return *this; }
    Nb0Section& Signature(std::uint32_t v) { signature = v; return *this; }
};

inline void PutLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
    out[at + 2] = static_cast<std::uint8_t>(v >> 16);
    out[at + 3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t GetLe32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return static_cast<std::uint32_t>(in.at(at)) | (static_cast<std::uint32_t>(in.at(at + 1)) << 8) |
           (static_cast<std::uint32_t>(in.at(at + 2)) << 16) |
           (static_cast<std::uint32_t>(in.at(at + 3)) << 24);
}

inline std::uint16_t GetLe16(const std::vector<std::uint8_t>& in, std::size_t at) {
    return static_cast<std::uint16_t>(in.at(at) | (in.at(at + 1) << 8));
}

// The 128 header bytes of a section; the reserved tail is filled with 0x00.
inline std::vector<std::uint8_t> Nb0Header(const Nb0Section& s) {
    std::vector<std::uint8_t> h(128, 0);
    PutLe32(h, 0, s.signature);
    PutLe32(h, 4, s.type);
    PutLe32(h, 8, s.ceMajor);
    PutLe32(h, 12, s.ceMinor);
    PutLe32(h, 16, s.ceImageVersion);
    PutLe32(h, 20, s.appVersion);
    PutLe32(h, 24, s.hardwareType);
    PutLe32(h, 28, s.hardwareSubtype);
    PutLe32(h, 32, s.reserved);
    PutLe32(h, 36, s.startAddress);
    PutLe32(h, 40, s.auxValue);
    PutLe32(h, 44, s.dataSizeInHeader.value_or(static_cast<std::uint32_t>(s.data.size())));
    PutLe32(h, 48, s.imageAreaSize);
    PutLe32(h, 52, s.attributes);
    return h;
}

inline std::vector<std::uint8_t> BuildNb0(const std::vector<Nb0Section>& sections) {
    std::vector<std::uint8_t> out;
    for (const auto& s : sections) {
        const auto h = Nb0Header(s);
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), s.data.begin(), s.data.end());
    }
    return out;
}

// Bytes that compress roughly like machine code: instruction words from a
// small vocabulary with varying register and immediate fields.
inline std::vector<std::uint8_t> CodeLikeData(std::size_t n, std::uint32_t seed = 1) {
    std::mt19937 rng(seed);
    static const std::uint32_t opcodes[] = {0xE59F0000, 0xE3A00000, 0xE1A00000, 0xEB000000,
                                            0xE5900000, 0xE5800000, 0xE2800000, 0xE12FFF1E};
    std::vector<std::uint8_t> out;
    out.reserve(n + 4);
    while (out.size() < n) {
        std::uint32_t word = opcodes[rng() % 8];
        word |= (rng() % 4) << 12;
        if (rng() % 3 == 0) word |= rng() % 256;
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    out.resize(n);
    return out;
}

// Bytes that do not compress at all.
inline std::vector<std::uint8_t> RandomData(std::size_t n, std::uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)),
                                     std::istreambuf_iterator<char>());
}

// A folder of its own for one test, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        const char* base = ::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnwick-test-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(path_, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

}  // namespace tarnwick::testing
