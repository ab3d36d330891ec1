#pragma once
// Reading an image document (*.img) so that the simulated panel can start
// with images in its flash, placed where a download would have put them.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/memory.h"

namespace panelsim {

struct DocumentPart {
    std::uint32_t id = 0;
    std::uint32_t address = 0;
    std::uint16_t checksum = 0;
    std::vector<std::uint8_t> data;
};

struct ImageDocument {
    std::uint32_t hardwareType = 0;
    std::uint32_t ceVersionMajor = 0;
    std::uint32_t imageAreaSize = 0;
    std::vector<DocumentPart> parts;
};

// Parses the bytes of a document file. False with a message when the file
// is not a document or a part's stream does not decode to its record.
bool ParseImageDocument(const std::vector<std::uint8_t>& file, ImageDocument& doc, std::string& error);
bool ReadImageDocument(const std::string& path, ImageDocument& doc, std::string& error);

// Writes the document's parts into the flash: parts that carry an address go
// there as they are; unplaced images get the places and header links a
// download gives them. Each line of log says what went where.
bool PreloadDocument(const ImageDocument& doc, Memory& memory, std::vector<std::string>& log,
                     std::string& error);

}  // namespace panelsim
