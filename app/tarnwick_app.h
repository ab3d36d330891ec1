#pragma once
// The application object's core, shared by the desktop and the console front
// ends: transfer settings, batch state, where the program and its files live,
// the language file and the single-copy lock. No toolkit in here: a front end
// owns the window (or the terminal) and calls these steps in start-up order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/instance_lock.h"
#include "app/language.h"

namespace tarnwick {

// The interface values every transfer uses.
struct TransferSettings {
    std::uint16_t port = 0xFFFF;          // 0 = COM1 … 3 = COM4
    std::uint32_t baudRate = 0xFFFFFFFF;  // bits per second
    std::int32_t eraseFlash = 1;          // erase the whole flash before a download
};

constexpr std::uint32_t kNoBatchCommand = 0xFFFFFFFF;

// "V 6.0   Build 0.8", as the About box shows it.
std::string VersionText();

class CTarnwickApp : public TransferSettings {
public:
    CTarnwickApp() = default;
    virtual ~CTarnwickApp() = default;

    // Batch state: batch mode is on while batchCommand is not kNoBatchCommand.
    std::string batchFile;
    std::string batchExportFile;  // the export command's output file
    std::string batchVariant;     // the target variant key of the transfer into a file
    std::uint32_t batchComponents = 0xFFFFFFFF;
    std::uint32_t batchCommand = kNoBatchCommand;
    std::int32_t impexMode = 0;
    bool languageLibrary = false;  // a language file is in use
    InstanceLock instanceMutex;
    std::string iniPath;

    bool IsBatchMode() const { return batchCommand != kNoBatchCommand; }

    // Start-up, step by step, in the order a front end calls them.
    // 1. The single-copy lock.
    InstanceLock::Result AcquireInstance(const std::string& lockPath = InstanceLock::DefaultPath());
    // 2. Where the program lives: programPath, programFolder and iniPath
    //    (tarnwick.INI beside the programs). programFile empty: the running
    //    executable's real path.
    void LocateProgram(const std::string& programFile = {});
    // 3. The language file of the user's language from the programs' folder.
    //    Silent when it is missing: the built-in German texts stay.
    bool LoadUserLanguage(const EnvLookup& env = SystemEnv);
    bool LoadLanguageLibrary(const std::string& path);
    std::string LanguageLibraryPath(const EnvLookup& env = SystemEnv) const;
    // 4. The stored interface values, as the log view takes them up when it
    //    is created; the batch state returns to interactive.
    void TakeUpSettings();
    // 5. The command line, copied into the application object (always 1).
    int ApplyCommandLine(const CTarnwickCommandLineInfo& info);
    // 6. Outside IMPEX mode only what the normal interface dialog offers:
    //    COM1 or COM2, at most 115200 baud. For this run only.
    void LimitToNormalInterface();

    // The start-up of a front end without a window: steps 2 to 6 on the
    // parsed arguments. The lock (step 1) comes first and is the caller's.
    void StartWithoutWindow(const CTarnwickCommandLineInfo& info, const EnvLookup& env = SystemEnv);

    // The program's INI file.
    std::string ReadIniString(const std::string& section, const std::string& key,
                              const std::string& defaultValue = {}) const;
    std::uint32_t ReadIniHex(const std::string& section, const std::string& key,
                             std::uint32_t defaultValue) const;

    TransferSettings& Transfer() { return *this; }
    const TransferSettings& Transfer() const { return *this; }

    const std::string& ProgramPath() const { return programPath_; }
    // The programs' folder with its closing "/".
    const std::string& ProgramFolder() const { return programFolder_; }

private:
    std::string programPath_;
    std::string programFolder_;
};

// The one application object of the process.
CTarnwickApp& TheApp();

// The real path of the running executable (empty when it cannot be found).
std::string RunningProgramPath();

}  // namespace tarnwick
