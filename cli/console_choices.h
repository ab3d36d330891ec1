#pragma once
// The choices of a transfer on a terminal: nobody is asked. The components
// come from the command line; the target variant of a transfer into a file
// is the one named with -VARIANT=KEY, or the only one there is. When the
// program INI offers several and none was named (or the named one is not
// among them), the variants are listed on stderr and the choice is refused.
#include <cstdio>
#include <string>

#include "ports/choices.h"

namespace tarnwick::cli {

class ConsoleChoices : public Choices {
public:
    explicit ConsoleChoices(std::string variantKey, std::FILE* err = stderr)
        : variantKey_(std::move(variantKey)), err_(err) {}

    std::optional<InterfaceChoice> ChooseInterface(const InterfaceChoice& current,
                                                   bool impexMode) override;
    std::optional<std::uint32_t> ChooseComponents(std::uint32_t offered,
                                                  std::uint32_t preselected) override;
    std::optional<std::size_t> ChooseVariant(const std::vector<VariantEntry>& variants) override;

    // A variant was asked for and could not be chosen from the command line:
    // the call was incomplete rather than failed.
    bool VariantUnresolved() const { return variantUnresolved_; }

    // "KV70-1  KV70, 8 MB flash" lines, one per variant.
    static std::string VariantList(const std::vector<VariantEntry>& variants);

private:
    std::string variantKey_;
    std::FILE* err_;
    bool variantUnresolved_ = false;
};

}  // namespace tarnwick::cli
