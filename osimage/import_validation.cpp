#include "osimage/import_validation.h"

#include <array>

#include "app/string_table.h"
#include "osimage/message_format.h"
#include "ports/log.h"

namespace tarnwick {
namespace {

constexpr std::array<std::uint32_t, 5> kValidFirstTypes{0x00000001, 0x00000002, 0x00010000,
                                                        0x00010001, 0x80000000};
constexpr std::array<std::uint32_t, 4> kValidCombinations{0x00010001, 0x00020001, 0x00020002,
                                                          0x80010004};

// Walks the entries from 0 and stops at the first that fails. A list without
// entries fails with image 0: there is nothing that could pass.
template <typename Pred>
HeaderCheck FirstFailing(const ImportHeaderList& list, Pred ok) {
    const auto& entries = list.Entries();
    if (entries.empty()) return {false, 0, 0};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!ok(entries[i].header)) return {false, static_cast<int>(i), 0};
    }
    return {};
}

// Compares neighbours only and stops at the first pair that differs.
template <typename Same>
HeaderCheck FirstDifferentPair(const ImportHeaderList& list, Same same) {
    const auto& entries = list.Entries();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (!same(entries[i].header, entries[i - 1].header))
            return {false, static_cast<int>(i), static_cast<int>(i - 1)};
    }
    return {};
}

}  // namespace

bool IsValidFirstType(std::uint32_t type) {
    for (auto t : kValidFirstTypes)
        if (t == type) return true;
    return false;
}

bool IsValidAttributeCombination(std::uint32_t attributes) {
    for (auto a : kValidCombinations)
        if (a == attributes) return true;
    return false;
}

HeaderCheck CheckFirstType(ImportHeaderList& list) {
    HeaderCheck r;
    if (list.Count() > 0 && !IsValidFirstType(list.Entries()[0].header.ImageType)) r = {false, 0, 0};
    list.firstTypeValid = r.passed;
    return r;
}

HeaderCheck CheckSignatures(ImportHeaderList& list) {
    auto r = FirstFailing(list, [](const ImportHeader& h) { return h.signature == kImportSignature; });
    list.signaturesValid = r.passed;
    return r;
}

HeaderCheck CheckStartAddresses(ImportHeaderList& list) {
    auto r = FirstFailing(list, [](const ImportHeader& h) { return h.StartAddress != 0; });
    list.startAddressesValid = r.passed;
    return r;
}

HeaderCheck CheckAttributesDefined(ImportHeaderList& list) {
    auto r = FirstFailing(list,
                          [](const ImportHeader& h) { return (h.Attributes & kAttrUndefinedMask) == 0; });
    list.attributesDefined = r.passed;
    return r;
}

HeaderCheck CheckAttributeCombinations(ImportHeaderList& list) {
    auto r = FirstFailing(list,
                          [](const ImportHeader& h) { return IsValidAttributeCombination(h.Attributes); });
    list.attributeCombinationsValid = r.passed;
    return r;
}

HeaderCheck CheckHardware(ImportHeaderList& list) {
    auto r = FirstDifferentPair(list, [](const ImportHeader& a, const ImportHeader& b) {
        return a.HardwareType == b.HardwareType && a.HardwareSubtype == b.HardwareSubtype;
    });
    list.hardwareConsistent = r.passed;
    return r;
}

HeaderCheck CheckImageAreas(ImportHeaderList& list) {
    auto r = FirstDifferentPair(list, [](const ImportHeader& a, const ImportHeader& b) {
        return a.ImageAreaSize == b.ImageAreaSize;
    });
    list.imageAreasConsistent = r.passed;
    return r;
}

bool ValidateImportHeaders(ImportHeaderList& list, Log& log) {
    struct Step {
        HeaderCheck (*check)(ImportHeaderList&);
        unsigned message;
        bool pair;
    };
    static constexpr Step kSteps[] = {
        {CheckFirstType, 11024, false},            // "Image %d hat falsche Typangabe"
        {CheckSignatures, 11001, false},           // "Image %d hat falsche Signatur"
        {CheckStartAddresses, 11002, false},       // "... ungültige Ausführungs-Adresse"
        {CheckAttributesDefined, 11003, false},    // "... nicht definierte Attribute"
        {CheckAttributeCombinations, 11004, false},// "... ungültige Kombination von Attributen"
        {CheckHardware, 11005, true},              // "Image %d hat anderen Hardwaretyp als Image %d"
        {CheckImageAreas, 11006, true},            // "Image %d hat anderen Imagebereich als Image %d"
    };
    bool ok = true;
    for (const auto& step : kSteps) {
        const HeaderCheck r = step.check(list);
        if (r.passed) continue;
        ok = false;
        const std::string text =
            step.pair ? FormatText(Text(step.message), {std::int64_t{r.image}, std::int64_t{r.other}})
                      : FormatText(Text(step.message), {std::int64_t{r.image}});
        AppendErrorLine(log, text);
    }
    return ok;
}

}  // namespace tarnwick
