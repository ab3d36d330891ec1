#pragma once
// The checks an import file's headers must pass before any image of it
// enters the document. Every check runs, and every one that fails writes its
// own red line, so the user sees all that is wrong with the file at once.
#include <cstdint>

#include "osimage/image_header.h"

namespace tarnwick {

class Log;

// What one check found: whether it passed, and the image number(s) its
// message names when it did not (second is used by the neighbour checks).
struct HeaderCheck {
    bool passed = true;
    int image = 0;
    int other = 0;
};

// The seven checks, in the order the validation runs them. Each sets its flag
// of the list. Checks 2 to 5 fail with image 0 on a list without entries.
HeaderCheck CheckFirstType(ImportHeaderList& list);             // firstTypeValid
HeaderCheck CheckSignatures(ImportHeaderList& list);            // signaturesValid
HeaderCheck CheckStartAddresses(ImportHeaderList& list);        // startAddressesValid
HeaderCheck CheckAttributesDefined(ImportHeaderList& list);     // attributesDefined
HeaderCheck CheckAttributeCombinations(ImportHeaderList& list); // attributeCombinationsValid
HeaderCheck CheckHardware(ImportHeaderList& list);              // hardwareConsistent
HeaderCheck CheckImageAreas(ImportHeaderList& list);            // imageAreasConsistent

bool IsValidFirstType(std::uint32_t type);
bool IsValidAttributeCombination(std::uint32_t attributes);

// Runs the seven checks, appends an error line for each that fails and
// answers whether the file may be imported. Records nothing in ErrorState.
bool ValidateImportHeaders(ImportHeaderList& list, Log& log);

}  // namespace tarnwick
