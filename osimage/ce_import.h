#pragma once
// Import of a Windows CE image file (*.NB0) into a new image document: the
// file is chosen (or taken from the command line), its type-1 image split
// when it would not fit the panel, its headers read and checked, every
// section stored through the compression job, and the stored size checked
// against the panel's image area.
#include <cstdint>
#include <optional>
#include <string>

#include "app/path_value.h"
#include "osimage/ce_image_view.h"
#include "osimage/image_header.h"

namespace tarnwick {

class File;

// The command handler. batchFile is the command line's file in batch mode
// (nothing when a person chooses the file). On failure it shows the first
// recorded error, writes "Import abgebrochen" and marks the document unusable
// and unmodified; in batch mode a successful import is saved beside the
// import file with the extension "img" (a failed one saves nothing).
// Returns true when the import (and, in batch mode, the save) succeeded or
// when nothing was done.
bool OnImportCe(CeImageView& view, const std::optional<std::string>& batchFile);

// The import proper. False: it failed and the failure is recorded. True: it
// succeeded, or nothing was done (the save question or the file dialog was
// cancelled); imported tells which.
bool ImportCeImage(CeImageView& view, const std::optional<std::string>& batchFile,
                   bool* imported = nullptr);

// Reads the section headers from the file's current position: a header, then
// a jump over its data, until the file ends. A final fragment shorter than a
// header is not a header.
void ReadImportHeaders(File& file, ImportHeaderList& list);

// When the type-1 image does not fit the panel, writes a temporary split file
// (prefix "exp" in the temporary folder) and puts its path into path. False,
// with the failure recorded, when the file cannot be opened or the split file
// cannot be written whole.
bool PrepareImportFile(PathValue& path, std::uint32_t panelFlashSize);

// How many leading bytes of a section of size bytes, read from the file's
// position in pieces of 16384 and encoded as blocks, fit into limit bytes:
// 0, a multiple of 16384, or size. 0 also when the file ends early.
std::uint32_t FindSplitPoint(File& file, std::uint32_t size, std::uint32_t limit);

// Copies the import file into a new temporary file in which the type-1
// section at headerOffset keeps its first firstSize bytes and the rest follows
// as a section of type 0x40 whose start address is firstSize higher. Puts the
// temporary file's path into path. False, with the failure recorded and no
// temporary file left, when a read comes up short or a write is refused.
bool WriteSplitFile(File& file, PathValue& path, std::uint32_t headerOffset,
                    std::uint32_t firstSize);

}  // namespace tarnwick
