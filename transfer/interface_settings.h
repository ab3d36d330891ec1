#pragma once
// The logic of the interface settings dialog: the value tables of its radio
// groups, what a stored value checks, what OK gives back, and which serial
// devices a person can choose from on this machine.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// Port values (0 = COM1 … 3 = COM4) and baud rates in radio-button order.
// The normal form offers the first two ports and the first four rates.
const std::vector<std::uint16_t>& InterfacePortTable();
const std::vector<std::uint32_t>& InterfaceBaudTable();

constexpr std::uint16_t kNoPortChoice = 0xFFFF;
constexpr std::uint32_t kNoBaudChoice = 0xFFFF;

class InterfaceSettingsDialog {
public:
    // A value that is not in the table leaves the previous choice (the first
    // button after construction).
    void SetPort(std::uint16_t port);
    void SetBaud(std::uint32_t baud);
    void SetErase(bool erase) { eraseChoice = erase ? 1 : 0; }
    // kNoPortChoice / kNoBaudChoice when nothing is checked (index -1).
    std::uint16_t GetPort() const;
    std::uint32_t GetBaud() const;
    bool GetErase() const { return eraseChoice != 0; }

    int portChoice = 0;   // index of the checked port button, -1 for none
    int baudChoice = 0;   // index of the checked rate button, -1 for none
    int eraseChoice = 0;  // the erase check box
};

// The serial devices present: the stable names under /dev/serial/by-id
// first, then the ttyUSB, ttyACM and ttyS devices that exist (a ttyS node
// whose driver found no UART behind it is left out). devRoot and sysRoot
// stand for "/dev" and "/sys" (tests).
std::vector<std::string> SerialDevicesPresent(const std::string& devRoot = "/dev",
                                              const std::string& sysRoot = "/sys");

}  // namespace tarnwick
