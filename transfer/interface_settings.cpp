#include "transfer/interface_settings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

template <typename T>
int IndexOf(const std::vector<T>& table, T value) {
    const auto it = std::find(table.begin(), table.end(), value);
    return it == table.end() ? -1 : static_cast<int>(it - table.begin());
}

// "ttyUSB10" sorts after "ttyUSB9": by prefix, then by number.
bool DeviceOrder(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t i = name.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
        const long number = i < name.size() ? std::stol(name.substr(i)) : -1;
        return std::make_pair(name.substr(0, i), number);
    };
    return split(a) < split(b);
}

// A ttyS node exists for every port the driver could have; the type file
// says 0 (no UART) for those without hardware behind them.
bool HasUart(const std::string& sysRoot, const std::string& name) {
    std::ifstream in(sysRoot + "/class/tty/" + name + "/type");
    if (!in) return true;  // nothing to tell: keep it
    int type = 0;
    in >> type;
    return !in || type != 0;
}

}  // namespace

const std::vector<std::uint16_t>& InterfacePortTable() {
    static const std::vector<std::uint16_t> table{0, 1, 2, 3};
    return table;
}

const std::vector<std::uint32_t>& InterfaceBaudTable() {
    static const std::vector<std::uint32_t> table{19200, 38400, 57600, 115200, 230400};
    return table;
}

void InterfaceSettingsDialog::SetPort(std::uint16_t port) {
    const int index = IndexOf(InterfacePortTable(), port);
    if (index >= 0) portChoice = index;
}

void InterfaceSettingsDialog::SetBaud(std::uint32_t baud) {
    const int index = IndexOf(InterfaceBaudTable(), baud);
    if (index >= 0) baudChoice = index;
}

std::uint16_t InterfaceSettingsDialog::GetPort() const {
    const auto& table = InterfacePortTable();
    if (portChoice < 0 || static_cast<std::size_t>(portChoice) >= table.size()) return kNoPortChoice;
    return table[static_cast<std::size_t>(portChoice)];
}

std::uint32_t InterfaceSettingsDialog::GetBaud() const {
    const auto& table = InterfaceBaudTable();
    if (baudChoice < 0 || static_cast<std::size_t>(baudChoice) >= table.size()) return kNoBaudChoice;
    return table[static_cast<std::size_t>(baudChoice)];
}

std::vector<std::string> SerialDevicesPresent(const std::string& devRoot, const std::string& sysRoot) {
    std::vector<std::string> devices;
    std::error_code ec;

    std::vector<std::string> stable;
    for (const auto& entry : fs::directory_iterator(devRoot + "/serial/by-id", ec))
        stable.push_back(entry.path().string());
    std::sort(stable.begin(), stable.end());
    devices.insert(devices.end(), stable.begin(), stable.end());

    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(devRoot, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) != 0 || name.size() == std::string(prefix).size()) continue;
            const std::string rest = name.substr(std::string(prefix).size());
            if (!std::all_of(rest.begin(), rest.end(),
                             [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
                continue;
            if (std::string(prefix) == "ttyS" && !HasUart(sysRoot, name)) continue;
            names.push_back(name);
        }
        std::sort(names.begin(), names.end(), DeviceOrder);
        for (const auto& name : names) devices.push_back(devRoot + "/" + name);
    }
    return devices;
}

}  // namespace tarnwick
