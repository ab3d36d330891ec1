#include "sim/config.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace panelsim {

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Hex(std::uint64_t v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

bool ParseBool(const std::string& text, bool& value) {
    const std::string t = Lower(text);
    if (t == "yes" || t == "true" || t == "1" || t == "on") { value = true; return true; }
    if (t == "no" || t == "false" || t == "0" || t == "off") { value = false; return true; }
    return false;
}

// "COUNT x KB" (numbers decimal or 0x hex), also "COUNTxKB" with decimal numbers.
bool ParseBank(const std::string& text, Bank& bank) {
    std::istringstream words(Lower(text));
    std::vector<std::string> parts;
    for (std::string w; words >> w;) parts.push_back(w);
    std::string count;
    std::string kb;
    if (parts.size() == 3 && parts[1] == "x") {
        count = parts[0];
        kb = parts[2];
    } else if (parts.size() == 1 && parts[0].find('x') != std::string::npos) {
        const auto x = parts[0].find('x');
        count = parts[0].substr(0, x);
        kb = parts[0].substr(x + 1);
    } else {
        return false;
    }
    std::uint64_t c = 0;
    std::uint64_t k = 0;
    if (!ParseNumber(count, c) || !ParseNumber(kb, k)) return false;
    if (c > 255 || k > 255) return false;   // one byte each in the block
    bank.sectors = static_cast<std::uint32_t>(c);
    bank.sizeKb = static_cast<std::uint32_t>(k);
    return true;
}

}  // namespace

bool ParseNumber(const std::string& text, std::uint64_t& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    int base = 10;
    std::size_t i = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        i = 2;
    }
    std::uint64_t v = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c == '_' || c == '\'') continue;
        else return false;
        if (v > (UINT64_MAX - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    value = v;
    return true;
}

bool ParseConfig(const std::string& text, PanelConfig& config, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<Bank> banks;
    bool banksGiven = false;
    while (std::getline(in, line)) {
        ++number;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = Trim(line);
        if (line.empty()) continue;
        const auto eq = line.find('=');
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (eq == std::string::npos) return fail("expected key = value");
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        std::uint64_t n = 0;
        auto number16 = [&](std::uint16_t& field) {
            if (!ParseNumber(value, n) || n > 0xFFFF) return fail("'" + key + "' needs a number up to 0xFFFF");
            field = static_cast<std::uint16_t>(n);
            return true;
        };
        auto number32 = [&](std::uint32_t& field) {
            if (!ParseNumber(value, n) || n > 0xFFFFFFFFull) return fail("'" + key + "' needs a 32-bit number");
            field = static_cast<std::uint32_t>(n);
            return true;
        };
        auto number8 = [&](std::uint8_t& field) {
            if (!ParseNumber(value, n) || n > 0xFF) return fail("'" + key + "' needs a number up to 0xFF");
            field = static_cast<std::uint8_t>(n);
            return true;
        };
        if (key == "name") {
            config.name = value;
        } else if (key == "hardware_type") {
            if (!number16(config.hardwareType)) return false;
        } else if (key == "flash_start") {
            if (!number32(config.flashStart)) return false;
            if (config.flashStart % 65536 != 0) return fail("flash_start must be a multiple of 0x10000");
        } else if (key.rfind("bank", 0) == 0 && key.size() == 5 && key[4] >= '0' && key[4] <= '3') {
            const std::size_t index = static_cast<std::size_t>(key[4] - '0');
            Bank bank;
            if (!ParseBank(value, bank)) return fail("'" + key + "' needs COUNT x KB, each 0 to 255");
            if (!banksGiven) {
                banks.clear();
                banksGiven = true;
            }
            if (banks.size() <= index) banks.resize(index + 1);
            banks[index] = bank;
        } else if (key == "loader_kb") {
            std::uint16_t v = 0;
            if (!number16(v)) return false;
            config.loaderKb = v;
        } else if (key == "version") {
            if (!number16(config.version)) return false;
        } else if (key == "date") {
            if (!number32(config.date)) return false;
        } else if (key == "date_text") {
            if (value.size() != 8) return fail("date_text must be 8 characters (dd.mm.yy)");
            config.dateText = value;
        } else if (key == "block_address") {
            if (!number32(config.blockAddress)) return false;
        } else if (key == "block_pointer") {
            std::uint32_t v = 0;
            if (!number32(v)) return false;
            config.blockPointer = v;
        } else if (key == "bank_count") {
            std::uint8_t v = 0;
            if (!number8(v)) return false;
            config.bankCount = v;
        } else if (key == "flash_size_kb") {
            std::uint16_t v = 0;
            if (!number16(v)) return false;
            config.flashSizeKb = v;
        } else if (key == "start_marker") {
            if (!number8(config.startMarker)) return false;
        } else if (key == "end_marker") {
            if (!number8(config.endMarker)) return false;
        } else if (key == "block_fill") {
            if (!number8(config.blockFill)) return false;
        } else if (key == "protect_loader") {
            if (!ParseBool(value, config.protectLoader)) return fail("protect_loader needs yes or no");
        } else {
            return fail("unknown key '" + key + "'");
        }
    }
    if (banksGiven) config.banks = banks;
    return true;
}

bool LoadConfigFile(const std::string& path, PanelConfig& config, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open panel file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseConfig(text.str(), config, error)) {
        error = path + ": " + error;
        return false;
    }
    if (config.name == "built-in") config.name = path;
    return true;
}

std::string FormatConfig(const PanelConfig& c) {
    std::ostringstream out;
    out << "# panelsim panel: " << c.name << "\n";
    out << "hardware_type = " << Hex(c.hardwareType, 4) << "\n";
    out << "flash_start = " << Hex(c.flashStart, 8) << "\n";
    for (std::size_t i = 0; i < c.banks.size(); ++i)
        out << "bank" << i << " = " << c.banks[i].sectors << " x " << c.banks[i].sizeKb << "\n";
    out << "loader_kb = " << c.loaderKb << "\n";
    out << "version = " << c.version << "\n";
    out << "date = " << Hex(c.date, 8) << "\n";
    out << "date_text = " << EffectiveDateText(c) << "\n";
    out << "block_address = " << Hex(c.blockAddress, 8) << "\n";
    out << "block_pointer = " << Hex(c.blockPointer.value_or(c.blockAddress), 8) << "\n";
    out << "bank_count = " << static_cast<unsigned>(c.bankCount.value_or(static_cast<std::uint8_t>(c.banks.size())))
        << "\n";
    out << "flash_size_kb = " << (c.flashSizeKb ? *c.flashSizeKb : FlashSizeBytes(c) / 1024) << "\n";
    out << "start_marker = " << Hex(c.startMarker, 2) << "\n";
    out << "end_marker = " << Hex(c.endMarker, 2) << "\n";
    out << "block_fill = " << Hex(c.blockFill, 2) << "\n";
    out << "protect_loader = " << (c.protectLoader ? "yes" : "no") << "\n";
    return out.str();
}

bool ValidateConfig(const PanelConfig& c, std::string& error) {
    if (c.banks.empty() || c.banks.size() > 4) {
        error = "the panel needs 1 to 4 banks (bank0 .. bank3)";
        return false;
    }
    const std::uint64_t size = FlashSizeBytes(c);
    if (size == 0) {
        error = "the panel has no flash sectors";
        return false;
    }
    if (size > 0xFFFFull * 1024) {
        error = "the flash is larger than the block can report (65535 KB)";
        return false;
    }
    if (static_cast<std::uint64_t>(c.flashStart) + size > 0x100000000ull) {
        error = "the flash runs past the end of the address space";
        return false;
    }
    if (static_cast<std::uint64_t>(c.blockAddress) + kBlockSize > 0x100000000ull) {
        error = "the hardware block runs past the end of the address space";
        return false;
    }
    return true;
}

std::uint16_t NormalisedType(std::uint16_t raw) {
    std::uint16_t t = static_cast<std::uint16_t>(raw & 0xFFF0);
    if ((t & 0xFF) == 0x10) t = 0x0010;
    else if ((t & 0xFF) == 0x20) t = 0x0020;
    return t;
}

std::uint32_t Family(std::uint16_t type) {
    if ((type & ~0x0FE0u) == 0) return 0xFE0;
    if (type == 0x0010) return 0x10;
    return 0;
}

std::uint64_t FlashSizeBytes(const PanelConfig& c) {
    std::uint64_t total = 0;
    for (const Bank& b : c.banks) total += static_cast<std::uint64_t>(b.sectors) * b.sizeKb * 1024;
    return total;
}

std::uint32_t LoaderSize(const PanelConfig& c) { return c.loaderKb * 1024; }

std::optional<std::uint32_t> LoaderStart(const PanelConfig& c) {
    switch (Family(NormalisedType(c.hardwareType))) {
    case 0x10: return 0x04000000u - LoaderSize(c);
    case 0xFE0: return 0xBFC00000u;
    default: return std::nullopt;
    }
}

std::optional<std::uint32_t> ImageAreaStart(const PanelConfig& c) {
    switch (Family(NormalisedType(c.hardwareType))) {
    case 0x10: return c.flashStart;
    case 0xFE0: return 0xBFC00000u + LoaderSize(c);
    default: return std::nullopt;
    }
}

std::string EffectiveDateText(const PanelConfig& c) {
    if (!c.dateText.empty()) return c.dateText;
    if (c.date == 0xFFFFFFFF) return "01.01.00";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02x.%02x.%02x", (c.date >> 24) & 0xFF, (c.date >> 16) & 0xFF, c.date & 0xFF);
    return buf;
}

std::array<std::uint8_t, kBlockSize> BuildHardwareBlock(const PanelConfig& c) {
    std::array<std::uint8_t, kBlockSize> b{};
    b.fill(c.blockFill);
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    b[0x00] = c.startMarker;
    b[0x01] = c.bankCount.value_or(static_cast<std::uint8_t>(c.banks.size()));
    put16(0x02, c.flashStart >> 16);
    put16(0x04, c.flashSizeKb ? *c.flashSizeKb : static_cast<std::uint32_t>(FlashSizeBytes(c) / 1024));
    for (std::size_t i = 0; i < 4; ++i) {
        const Bank bank = i < c.banks.size() ? c.banks[i] : Bank{};
        b[0x06 + i] = static_cast<std::uint8_t>(bank.sectors);
        b[0x0A + i] = static_cast<std::uint8_t>(bank.sizeKb);
    }
    put16(0x0E, c.loaderKb);
    put16(0x10, c.hardwareType);
    put16(0x16, c.version);
    put32(0x18, c.date);
    b[0x7F] = c.endMarker;
    return b;
}

}  // namespace panelsim
