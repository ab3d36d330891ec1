// make_nb0: writes a Windows CE import file (*.NB0) of one section, for the
// demo, the transfer benchmark and the end-to-end tests.
//
//   make_nb0 OUT.NB0 [--size BYTES] [--data code|random|zero|FILE]
//            [--compressed] [--type T] [--hardware T] [--ce-major N]
//            [--ce-minor N] [--area BYTES] [--seed N]
//
// Numbers may be decimal or 0x hexadecimal. --data code (the default) makes
// bytes that compress like machine code; FILE takes the section's data from
// a file (--size then cuts or repeats it to that length).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/nb0_builder.h"

namespace {

using namespace tarnwick::testing;

bool Number(const char* text, std::uint32_t& out) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0' || v > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: make_nb0 OUT.NB0 [--size BYTES] [--data code|random|zero|FILE] [--compressed]\n"
                 "                [--type T] [--hardware T] [--ce-major N] [--ce-minor N] [--area BYTES]\n"
                 "                [--seed N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return Usage();
    const std::string out = argv[1];
    std::uint32_t size = 256 * 1024, seed = 1;
    std::string data = "code";
    Nb0Section section;
    section.Hardware(0x40).Area(0x003E0000);
    for (int i = 2; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--compressed") {
            section.Attributes(kAttrCompressed);
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        std::uint32_t n = 0;
        if (opt == "--data") {
            data = value;
            continue;
        }
        if (!Number(value, n)) return Usage();
        if (opt == "--size") size = n;
        else if (opt == "--type") section.Type(n);
        else if (opt == "--hardware") section.hardwareType = n;
        else if (opt == "--ce-major") section.ceMajor = n;
        else if (opt == "--ce-minor") section.ceMinor = n;
        else if (opt == "--area") section.Area(n);
        else if (opt == "--seed") seed = n;
        else return Usage();
    }

    std::vector<std::uint8_t> bytes;
    if (data == "code") {
        bytes = CodeLikeData(size, seed);
    } else if (data == "random") {
        bytes = RandomData(size, seed);
    } else if (data == "zero") {
        bytes.assign(size, 0);
    } else {
        const auto source = ReadBytes(data);
        if (source.empty()) {
            std::fprintf(stderr, "make_nb0: cannot read %s\n", data.c_str());
            return 1;
        }
        bytes.reserve(size);
        while (bytes.size() < size)
            bytes.insert(bytes.end(), source.begin(),
                         source.begin() + static_cast<std::ptrdiff_t>(
                                              std::min<std::size_t>(source.size(), size - bytes.size())));
    }
    section.Data(std::move(bytes));
    WriteBytes(out, BuildNb0({section}));
    if (ReadBytes(out).size() != 128u + size) {
        std::fprintf(stderr, "make_nb0: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
