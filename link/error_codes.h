#pragma once
// The error codes that have a message text of their own (the second argument
// of ReportError). A panel's error reply carries codes of the same table, so
// the values are fixed. Several codes share one text; each still has its own
// name after the failure it is reported for.
#include <cstdint>

namespace tarnwick {

constexpr std::uint32_t kErrorDeviceChecksum = 0x20;          // data in the panel has a wrong checksum
constexpr std::uint32_t kErrorSendTimeout = 0x21;             // sending did not finish in time
constexpr std::uint32_t kErrorProtocol = 0x22;                // a reply that is neither the expected one nor an error reply
constexpr std::uint32_t kErrorProtocolErrorReplyChecksum = 0x23;  // an error reply with a damaged checksum
constexpr std::uint32_t kErrorProtocolReplyChecksum = 0x24;   // a reply with a damaged checksum
constexpr std::uint32_t kErrorBaudRateDetection = 0x25;       // the panel never answered the rate sync
constexpr std::uint32_t kErrorDriverOutputQueue = 0x26;       // no room in, or no draining of, the output queue
constexpr std::uint32_t kErrorReceiveTimeout = 0x27;          // the bytes asked for did not arrive in time
constexpr std::uint32_t kErrorHardwareFlashSize = 0x28;       // flash size disagrees with the sector tables
constexpr std::uint32_t kErrorInvalidAddress = 0x29;          // an address the panel does not have
constexpr std::uint32_t kErrorDriverCall = 0x2A;              // the port driver refused a call
constexpr std::uint32_t kErrorDriverPortStopped = 0x2B;       // the port's line watcher is not running
constexpr std::uint32_t kErrorHardwareMarkers = 0x2C;         // hardware block without its start/end markers
constexpr std::uint32_t kErrorHardwareBankCount = 0x2D;       // more flash banks than a panel has
constexpr std::uint32_t kErrorHardwareSectorCount = 0x2E;     // more flash sectors than a panel has
constexpr std::uint32_t kErrorProtocolShortFrame = 0x2F;      // fewer bytes left in a received frame than taken
constexpr std::uint32_t kErrorDocumentFormat = 0x30;          // the document's data has the wrong format
constexpr std::uint32_t kErrorNoValidPanelData = 0x31;        // nothing valid stored in the panel
constexpr std::uint32_t kErrorCancelled = 0x32;               // the user cancelled
constexpr std::uint32_t kErrorFileRead = 0x33;
constexpr std::uint32_t kErrorInvalidImageCombination = 0x34;
constexpr std::uint32_t kErrorPanelMismatch = 0x35;           // the panel does not suit the document
constexpr std::uint32_t kErrorFileNotFound = 0x36;
constexpr std::uint32_t kErrorImportHeader = 0x37;            // invalid import header
constexpr std::uint32_t kErrorFileWrite = 0x38;
constexpr std::uint32_t kErrorPanelMemory = 0x39;             // not enough memory in the panel
constexpr std::uint32_t kErrorFileDataUnreadable = 0x3A;      // the file's data cannot be read
constexpr std::uint32_t kErrorFileCreate = 0x3B;              // file %1 cannot be created
constexpr std::uint32_t kErrorUnknownFileFormat = 0x3C;
constexpr std::uint32_t kErrorPortSetup = 0x3D;               // setting up the port failed
constexpr std::uint32_t kErrorPortUnavailable = 0x3E;
constexpr std::uint32_t kErrorUnknownPanel = 0x3F;
constexpr std::uint32_t kErrorUpgradeNotPossible = 0x40;      // the panel cannot be raised to the higher system version
constexpr std::uint32_t kErrorDownloadTimeout = 0x41;

// Codes from kErrorFirstWithText to kErrorLastWithText are shown with their
// own text; every other code in the generic form with its number.
constexpr std::uint32_t kErrorFirstWithText = kErrorDeviceChecksum;
constexpr std::uint32_t kErrorLastWithText = kErrorDownloadTimeout;

}  // namespace tarnwick
