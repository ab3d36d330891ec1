#include "launcher/launcher.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vestibule {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

struct LocaleLanguage {
    const char* language;
    const char* territory;
    std::uint16_t id;
};

// Windows language ids of the common locales. The first row of a language is
// its main id, used for that language in a territory not listed here.
constexpr LocaleLanguage kLanguages[] = {
    {"de", "DE", 0x0407}, {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007},
    {"de", "LI", 0x1407},
    {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"en", "IN", 0x4009},
    {"en", "SG", 0x4809},
    {"fr", "FR", 0x040C}, {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C},
    {"fr", "LU", 0x140C}, {"fr", "MC", 0x180C},
    {"it", "IT", 0x0410}, {"it", "CH", 0x0810},
    {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A}, {"es", "VE", 0x200A}, {"es", "CO", 0x240A},
    {"es", "PE", 0x280A}, {"es", "AR", 0x2C0A}, {"es", "CL", 0x340A}, {"es", "US", 0x540A},
    {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813},
    {"pt", "BR", 0x0416}, {"pt", "PT", 0x0816},
    {"sv", "SE", 0x041D}, {"sv", "FI", 0x081D},
    {"zh", "CN", 0x0804}, {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04}, {"zh", "SG", 0x1004},
    {"zh", "MO", 0x1404},
    {"ar", "SA", 0x0401}, {"ar", "EG", 0x0C01},
    {"nb", "NO", 0x0414}, {"no", "NO", 0x0414}, {"nn", "NO", 0x0814},
    {"bg", "BG", 0x0402}, {"ca", "ES", 0x0403}, {"cs", "CZ", 0x0405}, {"da", "DK", 0x0406},
    {"el", "GR", 0x0408}, {"fi", "FI", 0x040B}, {"he", "IL", 0x040D}, {"hu", "HU", 0x040E},
    {"is", "IS", 0x040F}, {"ja", "JP", 0x0411}, {"ko", "KR", 0x0412}, {"pl", "PL", 0x0415},
    {"ro", "RO", 0x0418}, {"ru", "RU", 0x0419}, {"hr", "HR", 0x041A}, {"sk", "SK", 0x041B},
    {"sq", "AL", 0x041C}, {"th", "TH", 0x041E}, {"tr", "TR", 0x041F}, {"ur", "PK", 0x0420},
    {"id", "ID", 0x0421}, {"uk", "UA", 0x0422}, {"be", "BY", 0x0423}, {"sl", "SI", 0x0424},
    {"et", "EE", 0x0425}, {"lv", "LV", 0x0426}, {"lt", "LT", 0x0427}, {"fa", "IR", 0x0429},
    {"vi", "VN", 0x042A}, {"hy", "AM", 0x042B}, {"az", "AZ", 0x042C}, {"eu", "ES", 0x042D},
    {"mk", "MK", 0x042F}, {"af", "ZA", 0x0436}, {"ka", "GE", 0x0437}, {"fo", "FO", 0x0438},
    {"hi", "IN", 0x0439}, {"mt", "MT", 0x043A}, {"ms", "MY", 0x043E}, {"kk", "KZ", 0x043F},
    {"sw", "KE", 0x0441}, {"cy", "GB", 0x0452}, {"gl", "ES", 0x0456}, {"lb", "LU", 0x046E},
    {"ga", "IE", 0x083C}, {"sr", "RS", 0x281A}, {"bs", "BA", 0x141A},
};

std::string FormatHex4(const char* format, std::uint16_t value) {
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::uint16_t> ReadHex16(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (IsSeparator(text[i]) || text[i] == '\r' || text[i] == '\n')) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && HexDigit(text[i + 2]) >= 0) {
        i += 2;
    }
    if (i >= text.size() || HexDigit(text[i]) < 0) return std::nullopt;
    std::uint16_t value = 0;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = static_cast<std::uint16_t>((value << 4) | HexDigit(text[i]));
    }
    return value;
}

std::string CommandTail(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) tail += ' ';
        tail += argv[i];
    }
    return tail;
}

std::vector<std::string> SplitArguments(std::string_view tail) {
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (IsSeparator(tail[i])) {
            arguments.emplace_back(tail.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < tail.size()) arguments.emplace_back(tail.substr(start));
    return arguments;
}

std::optional<std::uint16_t> LanguageIdFromLocale(std::string_view locale) {
    const std::size_t nameEnd = locale.find_first_of(".@");
    const std::string_view name = locale.substr(0, nameEnd);
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;

    const std::size_t split = name.find_first_of("_-");
    const std::string_view language = name.substr(0, split);
    const std::string_view territory =
        split == std::string_view::npos ? std::string_view{} : name.substr(split + 1);

    std::optional<std::uint16_t> mainId;
    for (const LocaleLanguage& row : kLanguages) {
        if (!EqualsNoCase(row.language, language)) continue;
        if (EqualsNoCase(row.territory, territory)) return row.id;
        if (!mainId) mainId = row.id;
    }
    return mainId.value_or(0x0000);
}

std::optional<std::uint16_t> UserUiLanguage(const GetEnv& getEnv) {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getEnv(variable);
        if (value != nullptr && *value != '\0') return LanguageIdFromLocale(value);
    }
    return std::nullopt;
}

std::uint16_t LanguageCode(const PrivateProfile& ini, std::uint16_t ui) {
    std::uint16_t fallback = kFallbackLanguageCode;
    if (auto value = ini.Find("Languages", "Default")) {
        if (auto code = ReadHex16(*value)) fallback = *code;
    }
    if (auto value = ini.Find("Languages", FormatHex4("%.4x", ui))) {
        if (auto code = ReadHex16(*value)) return *code;
    }
    return fallback;
}

std::string BuildCommand(std::string_view begin, std::string_view tail,
                         const PrivateProfile& ini, std::optional<std::uint16_t> ui) {
    std::string command(begin);
    bool languageCheck = true;
    for (const std::string& argument : SplitArguments(tail)) {
        const std::size_t mark = argument.find_first_of("-/");
        if (mark != std::string::npos) {
            const std::string_view rest = std::string_view(argument).substr(mark + 1);
            if (EqualsNoCase(rest, "NOLANGCHECK")) {
                languageCheck = false;
                continue;
            }
            if (EqualsNoCase(rest.substr(0, 2), "L0")) languageCheck = false;
        }
        command += ' ';
        command += argument;
    }
    if (languageCheck && ui) command += FormatHex4(" -L%.4x ", LanguageCode(ini, *ui));
    return command;
}

std::string ToPosixPath(std::string_view path) {
    std::string converted(path);
    for (char& c : converted) {
        if (c == '\\') c = '/';
    }
    return converted;
}

std::string FirstWord(std::string_view command) {
    std::size_t i = 0;
    while (i < command.size() && IsSeparator(command[i])) ++i;
    command.remove_prefix(i);
    if (!command.empty() && (command.front() == '"' || command.front() == '\'')) {
        const std::size_t close = command.find(command.front(), 1);
        if (close != std::string_view::npos) return std::string(command.substr(1, close - 1));
    }
    std::size_t end = 0;
    while (end < command.size() && !IsSeparator(command[end])) ++end;
    return std::string(command.substr(0, end));
}

bool NamesExecutable(const std::string& word, const char* pathVariable) {
    if (word.empty()) return false;
    if (word.find('/') != std::string::npos) return IsExecutableFile(word);
    // The shell's own default search path when PATH is not set.
    std::string_view path = pathVariable != nullptr ? pathVariable : "/bin:/usr/bin";
    while (true) {
        const std::size_t colon = path.find(':');
        // An empty entry stands for the current folder.
        const std::string_view folder = path.substr(0, colon);
        std::string candidate = folder.empty() ? std::string(".") : std::string(folder);
        candidate += '/';
        candidate += word;
        if (IsExecutableFile(candidate)) return true;
        if (colon == std::string_view::npos) return false;
        path.remove_prefix(colon + 1);
    }
}

std::size_t CommandLengthLimit(const char* const* environment) {
    // The kernel takes one argument string of at most 32 pages, and all
    // arguments and environment strings with their pointers within ARG_MAX.
    const long page = sysconf(_SC_PAGESIZE);
    long argMax = sysconf(_SC_ARG_MAX);
    if (argMax <= 0) argMax = 131072;
    std::size_t used = 3 * sizeof(char*) + sizeof("/bin/sh") + sizeof("-c");
    for (const char* const* entry = environment; entry != nullptr && *entry != nullptr; ++entry) {
        used += std::strlen(*entry) + 1 + sizeof(char*);
    }
    // Room for what the kernel itself puts on the new stack (file name, auxiliary vector).
    used += 4096;
    std::size_t limit =
        static_cast<std::size_t>(argMax) > used ? static_cast<std::size_t>(argMax) - used - 1 : 0;
#ifdef __linux__
    const std::size_t oneArgument = static_cast<std::size_t>(page > 0 ? page : 4096) * 32 - 1;
    if (oneArgument < limit) limit = oneArgument;
#else
    (void)page;
#endif
    return limit;
}

ExitStatus StartCommand(const std::string& command) {
    if (command.size() > CommandLengthLimit(environ)) return kCommandTooLong;
    if (!NamesExecutable(FirstWord(command), std::getenv("PATH"))) return kNotExecutable;

    pid_t child = 0;
    const char* const arguments[] = {"sh", "-c", command.c_str(), nullptr};
    const int result = posix_spawn(&child, "/bin/sh", nullptr, nullptr,
                                   const_cast<char* const*>(arguments), environ);
    if (result == E2BIG) return kCommandTooLong;
    if (result != 0) return kStartFailed;
    // The setup runs on by itself; the launcher's work ends once it started.
    return kStarted;
}

ExitStatus RunVestibule(int argc, const char* const* argv, const GetEnv& getEnv) {
    const PrivateProfile ini = PrivateProfile::Load(kSetupIni);
    const std::string begin = ToPosixPath(ini.GetString("StartUp", "Begin", kDefaultBegin));
    const std::string command =
        BuildCommand(begin, CommandTail(argc, argv), ini, UserUiLanguage(getEnv));
    return StartCommand(command);
}

}  // namespace vestibule
