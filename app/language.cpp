#include "app/language.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnwick {
namespace {

struct LanguageCode {
    const char* code;        // ISO 639 code, lower case
    std::uint16_t primary;   // the platform's primary language id
};

// The primary language ids of the platform the language files are numbered by.
constexpr LanguageCode kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
    {"he", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12},
    {"nl", 0x13}, {"no", 0x14}, {"nb", 0x14}, {"nn", 0x14}, {"pl", 0x15}, {"pt", 0x16},
    {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sr", 0x1A}, {"bs", 0x1A},
    {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F}, {"ur", 0x20},
    {"id", 0x21}, {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26},
    {"lt", 0x27}, {"tg", 0x28}, {"fa", 0x29}, {"vi", 0x2A}, {"hy", 0x2B}, {"az", 0x2C},
    {"eu", 0x2D}, {"hsb", 0x2E}, {"mk", 0x2F}, {"st", 0x30}, {"ts", 0x31}, {"tn", 0x32},
    {"ve", 0x33}, {"xh", 0x34}, {"zu", 0x35}, {"af", 0x36}, {"ka", 0x37}, {"fo", 0x38},
    {"hi", 0x39}, {"mt", 0x3A}, {"se", 0x3B}, {"ga", 0x3C}, {"yi", 0x3D}, {"ms", 0x3E},
    {"kk", 0x3F}, {"ky", 0x40}, {"sw", 0x41}, {"tk", 0x42}, {"uz", 0x43}, {"tt", 0x44},
    {"bn", 0x45}, {"pa", 0x46}, {"gu", 0x47}, {"or", 0x48}, {"ta", 0x49}, {"te", 0x4A},
    {"kn", 0x4B}, {"ml", 0x4C}, {"as", 0x4D}, {"mr", 0x4E}, {"sa", 0x4F}, {"mn", 0x50},
    {"bo", 0x51}, {"cy", 0x52}, {"km", 0x53}, {"lo", 0x54}, {"gl", 0x56}, {"kok", 0x57},
    {"si", 0x5B}, {"am", 0x5E}, {"ne", 0x61}, {"fy", 0x62}, {"ps", 0x63}, {"fil", 0x64},
    {"dv", 0x65}, {"ha", 0x68}, {"yo", 0x6A}, {"ig", 0x70}, {"kl", 0x6F}, {"lb", 0x6E},
};

struct RegionalId {
    const char* language;
    const char* territory;
    std::uint16_t id;
};

// Territories whose language id differs from the language's default one.
constexpr RegionalId kRegions[] = {
    {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007}, {"de", "LI", 0x1407},
    {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009}, {"en", "NZ", 0x1409},
    {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"en", "IN", 0x4009},
    {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A}, {"es", "AR", 0x2C0A},
    {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C},
    {"it", "CH", 0x0810}, {"nl", "BE", 0x0813}, {"pt", "PT", 0x0816}, {"sv", "FI", 0x081D},
    {"zh", "CN", 0x0804}, {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04}, {"zh", "SG", 0x1004},
    {"nn", "NO", 0x0814}, {"sr", "RS", 0x241A},
};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace

const char* SystemEnv(const char* name) { return std::getenv(name); }

std::optional<std::uint16_t> LanguageIdFromLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    const auto cut = locale.find_first_of(".@");
    const std::string_view base = locale.substr(0, cut);
    if (base == "C" || base == "POSIX") return 0x0409;
    const auto sep = base.find_first_of("_-");
    const std::string language = Lower(base.substr(0, sep));
    const std::string territory =
        sep == std::string_view::npos ? std::string{} : Upper(base.substr(sep + 1));
    if (language.empty()) return std::nullopt;
    for (const auto& region : kRegions)
        if (language == region.language && territory == region.territory) return region.id;
    for (const auto& entry : kLanguages)
        if (language == entry.code)
            return static_cast<std::uint16_t>(0x0400u | entry.primary);  // default sublanguage
    return std::nullopt;
}

std::optional<std::uint16_t> UserDefaultUILanguage(const EnvLookup& env) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = env(name);
        if (value && *value) return LanguageIdFromLocale(value).value_or(0);
    }
    return std::nullopt;
}

unsigned LanguageNumber(std::optional<std::uint16_t> languageId) {
    if (!languageId) return 0x409;
    // The primary language is the low ten bits of the id. Masking with 0x3F
    // only would take Gujarati (0x47) for German and Telugu (0x4A) for Spanish.
    switch (*languageId & 0x3FFu) {
    case 0x07: return 0x407;
    case 0x0A: return 0x40A;
    case 0x0C: return 0x40C;
    case 0x10: return 0x410;
    default: return 0x409;
    }
}

std::string LanguageFileName(unsigned languageNumber) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "TarnwickRes%03X.DLL", languageNumber);
    return buffer;
}

}  // namespace tarnwick
