#include "cli/console_choices.h"

#include "app/ini_file.h"

namespace tarnwick::cli {

std::optional<InterfaceChoice> ConsoleChoices::ChooseInterface(const InterfaceChoice&, bool) {
    // The interface is set with -COMn, -COMn=DEVICE and the rate keywords.
    return std::nullopt;
}

std::optional<std::uint32_t> ConsoleChoices::ChooseComponents(std::uint32_t, std::uint32_t) {
    // A batch command takes its components from -CE, -ALL or -HWT.
    return std::nullopt;
}

std::string ConsoleChoices::VariantList(const std::vector<VariantEntry>& variants) {
    std::size_t width = 0;
    for (const auto& v : variants) width = std::max(width, v.key.size());
    std::string list;
    for (const auto& v : variants) {
        list += "  " + v.key + std::string(width - v.key.size() + 2, ' ') + v.description + "\n";
    }
    return list;
}

std::optional<std::size_t> ConsoleChoices::ChooseVariant(const std::vector<VariantEntry>& variants) {
    if (!variantKey_.empty()) {
        for (std::size_t i = 0; i < variants.size(); ++i)
            if (SameName(variants[i].key, variantKey_)) return i;
    }
    variantUnresolved_ = true;
    const std::string type = variants.empty() ? std::string() : variants.front().panelTypeName;
    std::string text;
    if (variantKey_.empty()) {
        text = "tarnwick-cli: the program INI offers several variants of " + type +
               "; choose one with -VARIANT=KEY:\n";
    } else {
        text = "tarnwick-cli: no variant " + variantKey_ + " of " + type +
               " in the program INI; choose one of these with -VARIANT=KEY:\n";
    }
    text += VariantList(variants);
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
    return std::nullopt;
}

}  // namespace tarnwick::cli
