#pragma once
// Storing the sections of a checked import file in the document: each
// section's data becomes a data part (unchanged, or as an LZ block stream
// when its attributes ask for compression) and a 64-byte header record a
// header part. The work runs in a worker thread behind the status dialog,
// whose bar follows the bytes being compressed and whose Cancel stops it.
#include <cstdint>

#include "app/path_value.h"
#include "codec/lz_codec.h"
#include "osimage/ce_image_view.h"
#include "osimage/image_header.h"

namespace tarnwick {

class File;
class ImagePart;
class StatusDialog;

// The parameter block of the worker; lives on the launcher's stack.
struct CompressionJob {
    PathValue path;                 // the import file or the temporary split file
    const ImportHeaderList* list;   // checked, data offsets computed
    CeImageView* view;
};

// Runs the job behind a status dialog. False when it failed: its errors are
// recorded (the launcher's 0x6E of 0x38 last) and the document holds no parts.
bool RunCompressionJob(CeImageView& view, const PathValue& path, const ImportHeaderList& list);

// The worker body: stores every section, or on any failure removes every
// part again. Returns the result flag.
bool CompressionWorker(CompressionJob& job, StatusDialog& dialog);

// Fills part with the data of entry read from file; context is prepared by
// the caller and afterwards holds the stored size and both checksums.
bool StoreImageData(CodecContext& context, const ImportHeaderEntry& entry, File& file,
                    ImagePart& part);

// Appends the header part of entry built from context, and keeps the
// document's StoredTotal.
bool AddImageHeaderPart(CeImageView& view, const CodecContext& context, ImportHeaderEntry entry);

// StoredTotal rounded up to a multiple of 4, in 32-bit arithmetic.
constexpr std::uint32_t RoundUp4(std::uint32_t v) { return (v + 3u) & ~3u; }

}  // namespace tarnwick
