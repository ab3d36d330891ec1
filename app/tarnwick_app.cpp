#include "app/tarnwick_app.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/ini_file.h"
#include "app/path_value.h"
#include "app/settings.h"
#include "app/string_table.h"

namespace tarnwick {
namespace {

constexpr std::size_t kIniBufferSize = 100;
constexpr const char* kIniName = "tarnwick";

}  // namespace

std::string VersionText() {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%d   Build %d.%d", 6, 0, 0, 8);
    return std::string("V ") + buffer;
}

CTarnwickApp& TheApp() {
    static CTarnwickApp app;
    return app;
}

std::string RunningProgramPath() {
    char* resolved = ::realpath("/proc/self/exe", nullptr);
    if (!resolved) return {};
    std::string path(resolved);
    std::free(resolved);
    return path;
}

InstanceLock::Result CTarnwickApp::AcquireInstance(const std::string& lockPath) {
    return instanceMutex.Acquire(lockPath);
}

void CTarnwickApp::LocateProgram(const std::string& programFile) {
    programPath_ = programFile.empty() ? RunningProgramPath() : programFile;
    PathValue program(programPath_);
    programFolder_ = program.FolderPart();
    // Both front ends read the same INI file, named after the product rather
    // than after whichever executable runs.
    PathValue ini(programFolder_ + kIniName);
    ini.SetExtension(".INI");
    iniPath = ini.full;
}

std::string CTarnwickApp::LanguageLibraryPath(const EnvLookup& env) const {
    return programFolder_ + LanguageFileName(LanguageNumber(UserDefaultUILanguage(env)));
}

bool CTarnwickApp::LoadLanguageLibrary(const std::string& path) {
    if (!LoadLanguageFile(path)) return false;
    languageLibrary = true;
    return true;
}

bool CTarnwickApp::LoadUserLanguage(const EnvLookup& env) {
    return LoadLanguageLibrary(LanguageLibraryPath(env));
}

void CTarnwickApp::TakeUpSettings() {
    port = static_cast<std::uint16_t>(GetProfileInt("SETTINGS", "DEVICE", 0) & 0xFFFF);
    baudRate = static_cast<std::uint32_t>(GetProfileInt("SETTINGS", "BAUDRATE", 115200));
    batchComponents = 0xFFFFFFFF;
    batchCommand = kNoBatchCommand;
}

int CTarnwickApp::ApplyCommandLine(const CTarnwickCommandLineInfo& info) {
    // The device behind a port is remembered like the port itself.
    for (std::size_t i = 0; i < info.portPaths.size(); ++i)
        if (info.portPaths[i]) WriteProfileString("PORTS", "COM" + std::to_string(i + 1), *info.portPaths[i]);
    if (info.port != -1) {
        port = static_cast<std::uint16_t>(info.port & 0xFFFF);
        WriteProfileInt("SETTINGS", "DEVICE", port);
    }
    if (info.baudRate != -1) {
        baudRate = static_cast<std::uint32_t>(info.baudRate);
        WriteProfileInt("SETTINGS", "BAUDRATE", info.baudRate);
    }
    if (info.command != -1 && !info.fileName.empty()) {
        batchCommand = static_cast<std::uint32_t>(info.command);
        batchComponents = info.components != -1 ? static_cast<std::uint32_t>(info.components)
                                                : kComponentsAll;
        batchFile = info.fileName;
        batchExportFile = info.exportFile;
        batchVariant = info.variantKey;
    }
    impexMode = info.impex;
    if (impexMode) eraseFlash = GetProfileInt("SETTINGS", "ERASE_FLASH", 1);
    if (info.erase == 0) eraseFlash = 0;
    return 1;
}

void CTarnwickApp::LimitToNormalInterface() {
    if (port > 1) port = 0;
    if (baudRate > 115200u) baudRate = 115200;
}

void CTarnwickApp::StartWithoutWindow(const CTarnwickCommandLineInfo& info, const EnvLookup& env) {
    LocateProgram();
    LoadUserLanguage(env);
    TakeUpSettings();
    ApplyCommandLine(info);
    if (!impexMode) LimitToNormalInterface();
}

std::string CTarnwickApp::ReadIniString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue) const {
    return ReadPrivateProfileString(iniPath, section, key, defaultValue, kIniBufferSize);
}

std::uint32_t CTarnwickApp::ReadIniHex(const std::string& section, const std::string& key,
                                       std::uint32_t defaultValue) const {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", defaultValue);
    return ScanIniHex(ReadIniString(section, key, text), defaultValue);
}

}  // namespace tarnwick
