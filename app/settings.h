#pragma once
// The user's settings: an INI file under $XDG_CONFIG_HOME/Valdore/Tarnwick.ini,
// one [SECTION] per section, KEY=value, integers in decimal, written atomically.
#include <string>

namespace tarnwick {

int GetProfileInt(const std::string& section, const std::string& key, int defaultValue);
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue);
// A write that fails is not reported (the settings are a convenience).
void WriteProfileInt(const std::string& section, const std::string& key, int value);
void WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value);

// The device path behind port index 0 … 3 (COM1 … COM4): section PORTS, keys
// COM1 … COM4, defaults /dev/ttyS0 … /dev/ttyS3.
std::string PortDevicePath(int portIndex);

// Where the settings live: $XDG_CONFIG_HOME/Valdore/Tarnwick.ini, with
// ~/.config in place of an unset or relative XDG_CONFIG_HOME.
std::string SettingsFilePath();

// Points the store at another file (tests, tools); an empty path returns to
// the default place.
void SetSettingsFile(const std::string& path);

// Creates the folder of the settings file if it is missing. false, with a
// readable reason in error, when it cannot be created.
bool EnsureSettingsFolder(std::string* error = nullptr);

}  // namespace tarnwick
