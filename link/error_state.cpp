#include "link/error_state.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <optional>

#include "app/string_table.h"
#include "link/error_codes.h"
#include "ports/log.h"
#include "ports/prompter.h"

namespace tarnwick {
namespace {

constexpr std::size_t kMaxEntries = 5;

struct ErrorRecord {
    std::mutex mutex;  // reports may come from a worker and the line watcher
    std::vector<ErrorEntry> entries;
    std::string source;
};

ErrorRecord& Record() {
    static ErrorRecord record;
    return record;
}

struct CodeText {
    std::uint8_t code;
    unsigned stringId;
};

// Searched from the first row; codes that share a text share a number.
constexpr std::array<CodeText, 34> kCodeTable{{
    {kErrorDeviceChecksum, 10000},
    {kErrorSendTimeout, 10001},
    {kErrorProtocol, 10002},
    {kErrorProtocolErrorReplyChecksum, 10002},
    {kErrorProtocolReplyChecksum, 10002},
    {kErrorProtocolShortFrame, 10002},
    {kErrorBaudRateDetection, 10003},
    {kErrorDriverOutputQueue, 10004},
    {kErrorDriverCall, 10004},
    {kErrorDriverPortStopped, 10004},
    {kErrorReceiveTimeout, 10005},
    {kErrorHardwareFlashSize, 10006},
    {kErrorHardwareMarkers, 10006},
    {kErrorHardwareBankCount, 10006},
    {kErrorHardwareSectorCount, 10006},
    {kErrorInvalidAddress, 10007},
    {kErrorDocumentFormat, 10008},
    {kErrorNoValidPanelData, 10011},
    {kErrorCancelled, 10010},
    {kErrorFileRead, 10013},
    {kErrorInvalidImageCombination, 10014},
    {kErrorPanelMismatch, 10012},
    {kErrorFileNotFound, 10015},
    {kErrorImportHeader, 10016},
    {kErrorFileWrite, 10017},
    {kErrorPanelMemory, 10018},
    {kErrorFileDataUnreadable, 10019},
    {kErrorFileCreate, 10020},
    {kErrorUnknownFileFormat, 10021},
    {kErrorPortSetup, 10022},
    {kErrorPortUnavailable, 10023},
    {kErrorUnknownPanel, 10024},
    {kErrorUpgradeNotPossible, 10025},
    {kErrorDownloadTimeout, 10026},
}};

constexpr unsigned kGenericMessage = 10009;

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
    std::size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::string::npos) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
    return text;
}

std::string LowerHex(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", value);
    return buffer;
}

std::optional<std::string> MessageFor(const ErrorEntry& entry, const std::string& source) {
    const unsigned c = entry.code & 0xFFu;
    const unsigned f = entry.function & 0xFFu;
    if (c >= kErrorFirstWithText && c <= kErrorLastWithText) {
        for (const auto& row : kCodeTable) {
            if (row.code == c) {
                auto text = LoadString(row.stringId);
                if (!text) return std::nullopt;
                if (!source.empty()) return ReplaceAll(*text, "%1", source);
                return text;
            }
        }
        return std::nullopt;
    }
    auto text = LoadString(kGenericMessage);
    if (!text) return std::nullopt;
    // %1 first: the code's digits never contain "%2".
    std::string message = ReplaceAll(*text, "%1", LowerHex(c));
    return ReplaceAll(message, "%2", LowerHex(f));
}

}  // namespace

void ReportError(std::uint32_t function, std::uint32_t code, const std::string& source) {
    auto& record = Record();
    std::lock_guard lock(record.mutex);
    if (!source.empty()) record.source = source;
    if (record.entries.size() < kMaxEntries) record.entries.push_back({function, code});
}

std::string FormatError(const ErrorEntry& entry, const std::string& source) {
    return MessageFor(entry, source).value_or(std::string{});
}

int ShowError(Log& log, Prompter& prompter) {
    auto& record = Record();
    ErrorEntry first;
    std::string source;
    {
        std::lock_guard lock(record.mutex);
        if (!record.entries.empty()) first = record.entries.front();
        source = record.source;
        record.entries.clear();
    }
    const auto message = MessageFor(first, source);
    if (!message) return 0;
    prompter.MessageBox(*message, MessageIcon::Exclamation, MessageButtons::Ok);
    log.AppendLog(*message + "\r\n", kLogBlack, kLogNormal);
    return 0;
}

std::vector<ErrorEntry> PendingErrors() {
    auto& record = Record();
    std::lock_guard lock(record.mutex);
    return record.entries;
}

std::string ErrorSourceText() {
    auto& record = Record();
    std::lock_guard lock(record.mutex);
    return record.source;
}

void ClearErrors() {
    auto& record = Record();
    std::lock_guard lock(record.mutex);
    record.entries.clear();
    record.source.clear();
}

}  // namespace tarnwick
