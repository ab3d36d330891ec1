#pragma once
// The choices a transfer needs from a person: interface settings, the
// components to move and the target variant. Values in, choice or nothing out.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

struct InterfaceChoice {
    int port = 0;              // 0 = COM1 … 3 = COM4
    std::uint32_t baud = 115200;
    bool eraseAll = true;
    std::string devicePath;    // the device behind the chosen port
};

struct VariantEntry {
    std::string key;           // the INI key, e.g. "V1"
    std::string description;   // what the person sees
    // The variant's memory layout, shown beside the list (0 when not known).
    std::uint32_t flashSize = 0;
    std::uint32_t dramSize = 0;
    std::uint32_t loaderSize = 0;
    std::uint32_t flashStart = 0;
    // The panel type the variants belong to (the same in every entry).
    std::string panelTypeName;
};

class Choices {
public:
    virtual ~Choices() = default;
    // impexMode selects the smaller dialog without the erase choice.
    virtual std::optional<InterfaceChoice> ChooseInterface(const InterfaceChoice& current,
                                                           bool impexMode) = 0;
    // offered: the ids that may be chosen; preselected: those ticked at first.
    // Returns the chosen mask.
    virtual std::optional<std::uint32_t> ChooseComponents(std::uint32_t offered,
                                                           std::uint32_t preselected) = 0;
    // Returns the index into variants.
    virtual std::optional<std::size_t> ChooseVariant(const std::vector<VariantEntry>& variants) = 0;
};

}  // namespace tarnwick
