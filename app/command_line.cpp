#include "app/command_line.h"

#include <cstring>

namespace tarnwick {
namespace {

std::string Upper(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// "COMn=PATH" with n = 1 … 4 and a path that is not empty: the port index.
std::optional<int> PortMapping(const std::string& upper) {
    if (upper.size() > 5 && upper.compare(0, 3, "COM") == 0 && upper[3] >= '1' &&
        upper[3] <= '4' && upper[4] == '=')
        return upper[3] - '1';
    return std::nullopt;
}

struct Keyword {
    const char* text;
    enum class Field { Command, Components, Port, Baud, Impex, NoErase } field;
    std::int32_t value;
};

// The first matching row applies.
constexpr Keyword kKeywords[] = {
    {"UPLOAD", Keyword::Field::Command, static_cast<std::int32_t>(kCommandUpload)},
    {"DOWNLOAD", Keyword::Field::Command, static_cast<std::int32_t>(kCommandDownload)},
    {"IMPORT", Keyword::Field::Command, static_cast<std::int32_t>(kCommandImport)},
    {"INFO", Keyword::Field::Command, static_cast<std::int32_t>(kCommandInfo)},
    {"CE", Keyword::Field::Components, static_cast<std::int32_t>(kComponentsCe)},
    {"ALL", Keyword::Field::Components, static_cast<std::int32_t>(kComponentsAll)},
    {"HWT", Keyword::Field::Components, static_cast<std::int32_t>(kComponentsHwt)},
    {"COM1", Keyword::Field::Port, 0},
    {"COM2", Keyword::Field::Port, 1},
    {"COM3", Keyword::Field::Port, 2},
    {"COM4", Keyword::Field::Port, 3},
    {"19200", Keyword::Field::Baud, 19200},
    {"38400", Keyword::Field::Baud, 38400},
    {"57600", Keyword::Field::Baud, 57600},
    {"115200", Keyword::Field::Baud, 115200},
    {"230400", Keyword::Field::Baud, 230400},
    {"IMPEX", Keyword::Field::Impex, 1},
    {"NOERASE", Keyword::Field::NoErase, 0},
};

const Keyword* FindKeyword(const std::string& upper) {
    for (const auto& k : kKeywords)
        if (upper == k.text) return &k;
    return nullptr;
}

// "VARIANT=KEY" with a key that is not empty.
bool IsVariantKeyword(const std::string& upper) {
    return upper.size() > 8 && upper.compare(0, 8, "VARIANT=") == 0;
}

// "EXPORTCE=OUT" with a file name that is not empty.
bool IsExportKeyword(const std::string& upper) {
    return upper.size() > 9 && upper.compare(0, 9, "EXPORTCE=") == 0;
}

}  // namespace

bool IsCommandLineKeyword(const std::string& text) {
    const std::string upper = Upper(text);
    return FindKeyword(upper) != nullptr || PortMapping(upper).has_value() ||
           IsExportKeyword(upper) || IsVariantKeyword(upper) || upper == "TOFILE";
}

void CTarnwickCommandLineInfo::ParseParam(const std::string& text, bool isKeyword, bool /*isLast*/) {
    if (!isKeyword) {
        if (command != -1 && fileName.empty()) fileName = text;
        return;
    }
    const std::string upper = Upper(text);
    if (const Keyword* k = FindKeyword(upper)) {
        switch (k->field) {
        case Keyword::Field::Command:
            commandKeywordSeen = true;
            // IMPORT belongs to the extended command set: without IMPEX before
            // it, it is not a command at all.
            if (k->value == static_cast<std::int32_t>(kCommandImport) && impex == 0) return;
            command = k->value;
            return;
        case Keyword::Field::Components: components = k->value; return;
        case Keyword::Field::Port: port = k->value; return;
        case Keyword::Field::Baud: baudRate = k->value; return;
        case Keyword::Field::Impex: impex = 1; return;
        case Keyword::Field::NoErase: erase = 0; return;
        }
        return;
    }
    if (upper == "TOFILE") {
        commandKeywordSeen = true;
        // Like IMPORT, a command of the extended set only.
        if (impex == 0) return;
        command = static_cast<std::int32_t>(kCommandTransferToFile);
        return;
    }
    if (IsVariantKeyword(upper)) {
        variantKey = text.substr(8);  // the key as it was typed
        return;
    }
    if (IsExportKeyword(upper)) {
        commandKeywordSeen = true;
        // Like IMPORT, a command of the extended set only.
        if (impex == 0) return;
        command = static_cast<std::int32_t>(kCommandExportCe);
        exportFile = text.substr(9);  // the name keeps its case
        return;
    }
    if (const auto index = PortMapping(upper)) {
        // The path keeps its case: only the keyword part was compared in capitals.
        portPaths[static_cast<std::size_t>(*index)] = text.substr(5);
        port = *index;
    }
}

void ParseCommandLine(CTarnwickCommandLineInfo& info, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == args.size();
        if (!arg.empty() && arg[0] == '-') {
            info.ParseParam(arg.substr(1), true, last);
        } else if (!arg.empty() && arg[0] == '/' && IsCommandLineKeyword(arg.substr(1))) {
            info.ParseParam(arg.substr(1), true, last);
        } else {
            info.ParseParam(arg, false, last);
        }
    }
}

}  // namespace tarnwick
