#pragma once
// The command line of Tarnwick: keywords and one file name.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// Command ids of the batch commands (the same as their menu entries).
constexpr std::uint32_t kCommandDownload = 32771;
constexpr std::uint32_t kCommandUpload = 32772;
constexpr std::uint32_t kCommandImport = 32775;
// The export of the type-1 image (no menu offers it): -IMPEX -EXPORTCE=OUT DOC.img.
constexpr std::uint32_t kCommandExportCe = 32776;
// The console's look into a document for scripts (no menu offers it): -INFO DOC.img.
constexpr std::uint32_t kCommandInfo = 32900;
// The transfer into a file for scripts (the menu's "Export CE"): -IMPEX -TOFILE DOC.img.
constexpr std::uint32_t kCommandTransferToFile = 32790;

// Component masks of the component keywords.
constexpr std::uint32_t kComponentsCe = 0x20000001;
constexpr std::uint32_t kComponentsAll = 0x20000101;
constexpr std::uint32_t kComponentsHwt = 0x000000C0;

class CTarnwickCommandLineInfo {
public:
    virtual ~CTarnwickCommandLineInfo() = default;

    // One argument, in argument order. text is the argument without its
    // leading sign when isKeyword is set. isLast is not used.
    virtual void ParseParam(const std::string& text, bool isKeyword, bool isLast);

    std::int32_t command = -1;     // UPLOAD, DOWNLOAD, IMPORT
    std::int32_t components = -1;  // CE, ALL, HWT
    std::int32_t port = -1;        // COM1 … COM4 → 0 … 3
    std::int32_t baudRate = -1;    // 19200 … 230400
    std::int32_t impex = 0;        // IMPEX
    std::int32_t erase = 1;        // NOERASE → 0
    std::string fileName;          // the first plain argument after a command
    std::string exportFile;        // EXPORTCE=OUT: the file the export writes
    std::string variantKey;        // VARIANT=KEY: the target variant of TOFILE

    // COMn=PATH: the device path to remember for port n - 1.
    std::array<std::optional<std::string>, 4> portPaths;
    // A command keyword was seen, even one that was ignored (IMPORT without
    // IMPEX): lets a front end without a window tell a mistyped batch call.
    bool commandKeywordSeen = false;
};

// Whether text (the argument without its sign) is one of the keywords.
bool IsCommandLineKeyword(const std::string& text);

// Feeds the arguments (without the program name) to info.ParseParam. An
// argument that begins with "-" is a keyword. One that begins with "/" is a
// keyword only when what follows is one, so that an absolute path such as
// /home/u/x.img stays a file name.
void ParseCommandLine(CTarnwickCommandLineInfo& info, const std::vector<std::string>& args);

}  // namespace tarnwick
