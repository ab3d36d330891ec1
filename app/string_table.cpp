#include "app/string_table.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>

#include "app/strings_de.h"

namespace tarnwick {
namespace {

using Table = std::map<unsigned, std::string>;

// The loaded table never changes once published; readers take a reference
// under the lock and look up without it, so a worker thread may load texts
// while the front end does the same.
struct ActiveTable {
    std::mutex mutex;
    std::shared_ptr<const Table> table;
};

ActiveTable& Active() {
    static ActiveTable active;
    return active;
}

std::shared_ptr<const Table> CurrentTable() {
    auto& active = Active();
    std::lock_guard lock(active.mutex);
    return active.table;
}

bool ParseNumber(const std::string& text, unsigned* out) {
    if (text.empty() || text.size() > 9) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    *out = value;
    return true;
}

bool Unescape(const std::string& text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case '\\': *out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> BuiltinString(unsigned id) {
    const auto* begin = kGermanStrings;
    const auto* end = kGermanStrings + kGermanStringCount;
    const auto* it = std::lower_bound(begin, end, id,
                                      [](const StringEntry& e, unsigned v) { return e.id < v; });
    if (it == end || it->id != id) return std::nullopt;
    return std::string(it->text);
}

std::optional<std::string> LoadString(unsigned id) {
    if (const auto table = CurrentTable()) {
        if (const auto it = table->find(id); it != table->end()) return it->second;
    }
    return BuiltinString(id);
}

std::string Text(unsigned id) { return LoadString(id).value_or(std::string{}); }

std::map<unsigned, std::string> ParseLanguageText(const std::string& text) {
    Table table;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        first = false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        unsigned id = 0;
        std::string value;
        if (!ParseNumber(line.substr(0, tab), &id)) continue;
        if (!Unescape(line.substr(tab + 1), &value)) continue;
        table.emplace(id, std::move(value));  // the first entry of a number wins
    }
    return table;
}

std::string EscapeLanguageText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

bool LoadLanguageFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return false;
    auto table = std::make_shared<const Table>(ParseLanguageText(content.str()));
    auto& active = Active();
    std::lock_guard lock(active.mutex);
    active.table = std::move(table);
    return true;
}

void UnloadLanguageFile() {
    auto& active = Active();
    std::lock_guard lock(active.mutex);
    active.table.reset();
}

bool LanguageFileLoaded() { return CurrentTable() != nullptr; }

}  // namespace tarnwick
