#pragma once
// Putting images into a panel's flash: sectors erased at most once per
// connection, the complete erase, one image written in pieces and verified
// with the panel's checksum, and each image's header record made ready for
// the place it gets. In the transfer into a file the same download writes
// into the transfer file instead, behind a 128-byte header block.
#include <cstdint>

namespace tarnwick {

class File;
class ImagePart;
class Progress;

// Erases every not yet erased sector that address … address+count touches.
// 0, or 1 after recording (0x29 outside the flash, 0x56, 0x32 cancelled).
int EraseRange(std::uint32_t address, std::uint32_t count, Progress* progress);
// Erases the image region and the flash below the bootloader. 0 or 1.
int EraseFlash(Progress* progress);
// Writes one image (erasing its sectors first, unless in the transfer into a
// file) and compares the panel's checksum with the image's. 0 or 1.
int DownloadImage(ImagePart& image, Progress* progress);
// Sets StorageAddress and NextHeaderAddress of the header record held in the
// image's file and the image's checksum to that of the new record. 1 on
// success, 0 when the record cannot be read or written back.
int PrepareImageHeader(ImagePart& headerImage, std::uint32_t storageAddress,
                       std::uint32_t nextHeaderAddress);

// The transfer into a file. While the mode is on, DownloadImage writes its
// pieces with WriteToTransferFile, erases nothing and skips the checksum.
void SetToFileMode(bool on);
bool IsToFileMode();
// The transfer file the pieces go to (owned by the caller; nullptr for none).
void SetTransferFile(File* file);
File* TransferFile();
// Writes count bytes for the panel address into the transfer file, at
// 128 + (address − ImageAreaStart) from the image area on, at
// 128 + ImageRegionSize(HardwareType) + (address − FlashStart) below it.
// 0, or 1 when there is no transfer file or it refused the bytes.
int WriteToTransferFile(std::uint32_t address, std::uint32_t count, const std::uint8_t* data);
// Writes the 128-byte header block at the file's position, for the hardware
// types that have one (0x200, 0x400 and those made of bits of 0x9E0). 1, or 0
// when the file refused it.
int WriteTransferFileHeader(File& file);

}  // namespace tarnwick
