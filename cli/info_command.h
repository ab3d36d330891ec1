#pragma once
// tarnwick-cli -INFO FILE.img: opens the document as the program does and
// prints its version lines and a table of its parts, for scripts.
#include <string>

namespace tarnwick {

class CTarnwickDoc;
struct CliContext;

int RunInfoCommand(CliContext& context);

// The table of the parts of an opened document, one line per part, with a
// heading line: number, id, size, address, checksum, packed size.
std::string PartTable(const CTarnwickDoc& document);

}  // namespace tarnwick
