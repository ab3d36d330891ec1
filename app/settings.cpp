#include "app/settings.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/ini_file.h"
#include "app/string_table.h"

namespace tarnwick {
namespace {

// The key the application points its settings at; the file takes the
// application title (always the built-in one: it is fixed before any
// language file is loaded).
constexpr const char* kSettingsKey = "Valdore";
constexpr unsigned kAppTitleId = 57344;
// A settings file larger than this is not one we wrote; we leave it alone.
constexpr std::size_t kMaxFileSize = 4u << 20;

std::mutex& StoreMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& OverridePath() {
    static std::string path;
    return path;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string DefaultSettingsPath() {
    std::string config;
    // Relative values are invalid by the XDG rules and are ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        config = HomeFolder() + "/.config";
    }
    if (config.size() > 1 && config.back() == '/') config.pop_back();
    const std::string title = BuiltinString(kAppTitleId).value_or("Tarnwick");
    return config + "/" + kSettingsKey + "/" + title + ".ini";
}

std::string CurrentPath() {
    const std::string& over = OverridePath();
    return over.empty() ? DefaultSettingsPath() : over;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MakeFolders(const std::string& folder, std::string* error) {
    std::string partial;
    std::size_t pos = 0;
    while (pos <= folder.size()) {
        const auto next = folder.find('/', pos);
        partial = folder.substr(0, next == std::string::npos ? folder.size() : next);
        pos = next == std::string::npos ? folder.size() + 1 : next + 1;
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            if (error) *error = partial + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error) *error = folder + ": " + std::strerror(errno ? errno : ENOTDIR);
        return false;
    }
    return true;
}

// One line of the file as it was read. Lines we do not understand are kept
// word for word, so that writing a value never loses what someone put there.
struct Line {
    enum class Kind { Other, Section, Entry } kind = Kind::Other;
    std::string raw;
    std::string name;   // section name or key
    std::string value;  // entries: the decoded value
};

struct IniText {
    enum class State { Missing, Read, Unusable } state = State::Missing;
    std::vector<Line> lines;
};

// Values that would not survive the trip through a line are written quoted,
// with backslash escapes.
bool NeedsQuotes(const std::string& value) {
    if (value.empty()) return false;
    if (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
        value.back() == '\t' || value.front() == '"')
        return true;
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

std::string EncodeValue(const std::string& value) {
    if (!NeedsQuotes(value)) return value;
    std::string out = "\"";
    for (unsigned char c : value) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string DecodeValue(const std::string& text) {
    const std::string value = TrimBlanks(text);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
    const std::size_t last = value.size() - 2;  // index of the last character inside the quotes
    std::string out;
    for (std::size_t i = 1; i <= last; ++i) {
        const char c = value[i];
        if (c != '\\' || i == last) {
            out += c;
            continue;
        }
        const char e = value[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x':
            if (i + 2 <= last) {
                out += static_cast<char>(std::strtol(value.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            }
            break;
        default: out += e; break;
        }
    }
    return out;
}

IniText ReadIni(const std::string& path) {
    IniText ini;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        ini.state = errno == ENOENT ? IniText::State::Missing : IniText::State::Unusable;
        return ini;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        ini.state = IniText::State::Unusable;
        return ini;
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            ini.state = IniText::State::Unusable;
            return ini;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > kMaxFileSize) {
            ::close(fd);
            ini.state = IniText::State::Unusable;
            return ini;
        }
    }
    ::close(fd);
    ini.state = IniText::State::Read;

    std::size_t pos = 0;
    while (pos < content.size()) {
        auto end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        Line line;
        line.raw = content.substr(pos, end - pos);
        if (!line.raw.empty() && line.raw.back() == '\r') line.raw.pop_back();
        pos = end + 1;
        const std::string text = TrimBlanks(line.raw);
        if (text.find('\0') != std::string::npos) {
            // Binary junk: kept as it is, never taken for a value.
        } else if (!text.empty() && text[0] == '[' && text.find(']') != std::string::npos) {
            line.kind = Line::Kind::Section;
            line.name = TrimBlanks(text.substr(1, text.find(']') - 1));
        } else if (!text.empty() && text[0] != ';' && text[0] != '#' &&
                   text.find('=') != std::string::npos && text[0] != '=') {
            const auto eq = text.find('=');
            line.kind = Line::Kind::Entry;
            line.name = TrimBlanks(text.substr(0, eq));
            line.value = DecodeValue(text.substr(eq + 1));
        }
        ini.lines.push_back(std::move(line));
    }
    return ini;
}

const Line* FindEntry(const IniText& ini, const std::string& section, const std::string& key) {
    bool inSection = false;
    for (const auto& line : ini.lines) {
        if (line.kind == Line::Kind::Section) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.kind == Line::Kind::Entry && SameName(line.name, key)) {
            return &line;
        }
    }
    return nullptr;
}

void SetEntry(IniText& ini, const std::string& section, const std::string& key,
              const std::string& value) {
    const std::string raw = key + "=" + EncodeValue(value);
    bool inSection = false;
    std::size_t lastInSection = std::string::npos;  // insertion point after the section's last entry
    bool sectionFound = false;
    for (std::size_t i = 0; i < ini.lines.size(); ++i) {
        Line& line = ini.lines[i];
        if (line.kind == Line::Kind::Section) {
            if (sectionFound && inSection) break;  // the first matching section is the one
            inSection = SameName(line.name, section);
            if (inSection) {
                sectionFound = true;
                lastInSection = i;
            }
        } else if (inSection) {
            if (line.kind == Line::Kind::Entry && SameName(line.name, key)) {
                line.raw = line.name + "=" + EncodeValue(value);
                line.value = value;
                return;
            }
            if (!TrimBlanks(line.raw).empty()) lastInSection = i;
        }
    }
    Line entry{Line::Kind::Entry, raw, key, value};
    if (sectionFound) {
        ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(lastInSection + 1), entry);
        return;
    }
    if (!ini.lines.empty() && !TrimBlanks(ini.lines.back().raw).empty())
        ini.lines.push_back(Line{});
    ini.lines.push_back(Line{Line::Kind::Section, "[" + section + "]", section, {}});
    ini.lines.push_back(entry);
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the whole file beside the old one and renames it into place, so a
// reader (or a crash) sees either the old or the new file, never half of one.
bool WriteIniAtomically(const std::string& path, const IniText& ini) {
    if (!MakeFolders(FolderOf(path), nullptr)) return false;
    std::string content;
    for (const auto& line : ini.lines) content += line.raw + "\n";

    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    const std::string tempPath(name.data());
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    (void)::fchmod(fd, mode);  // mkstemp makes 0600; keep what the file had
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tempPath.c_str(), path.c_str()) == 0) return true;
    ::unlink(tempPath.c_str());
    return false;
}

bool ParseInt(const std::string& text, int* out) {
    const std::string value = TrimBlanks(text);
    if (value.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(value.c_str(), &end, 10);
    if (errno == ERANGE || end == value.c_str() || *end != '\0') return false;
    // Stored integers are 32-bit words: an unsigned value above INT_MAX reads
    // back as the int with the same bits.
    if (v < INT_MIN || v > static_cast<long long>(UINT_MAX)) return false;
    *out = static_cast<int>(static_cast<unsigned>(v & 0xFFFFFFFFll));
    return true;
}

}  // namespace

std::string SettingsFilePath() {
    std::lock_guard lock(StoreMutex());
    return CurrentPath();
}

void SetSettingsFile(const std::string& path) {
    std::lock_guard lock(StoreMutex());
    OverridePath() = path;
}

bool EnsureSettingsFolder(std::string* error) {
    std::lock_guard lock(StoreMutex());
    return MakeFolders(FolderOf(CurrentPath()), error);
}

int GetProfileInt(const std::string& section, const std::string& key, int defaultValue) {
    std::lock_guard lock(StoreMutex());
    const IniText ini = ReadIni(CurrentPath());
    const Line* line = FindEntry(ini, section, key);
    int value = defaultValue;
    if (line && ParseInt(line->value, &value)) return value;
    return defaultValue;
}

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
    std::lock_guard lock(StoreMutex());
    const IniText ini = ReadIni(CurrentPath());
    const Line* line = FindEntry(ini, section, key);
    return line ? line->value : defaultValue;
}

void WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value) {
    std::lock_guard lock(StoreMutex());
    const std::string path = CurrentPath();
    IniText ini = ReadIni(path);
    // A file we could not read is left as it is rather than replaced by one
    // that holds only this value.
    if (ini.state == IniText::State::Unusable) return;
    SetEntry(ini, section, key, value);
    WriteIniAtomically(path, ini);
}

void WriteProfileInt(const std::string& section, const std::string& key, int value) {
    WriteProfileString(section, key, std::to_string(value));
}

std::string PortDevicePath(int portIndex) {
    if (portIndex < 0) return {};
    return GetProfileString("PORTS", "COM" + std::to_string(portIndex + 1),
                            "/dev/ttyS" + std::to_string(portIndex));
}

}  // namespace tarnwick
