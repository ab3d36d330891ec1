#include "link/error_state.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <optional>

#include "app/string_table.h"
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
    {0x20, 10000}, {0x21, 10001}, {0x22, 10002}, {0x23, 10002}, {0x24, 10002},
    {0x2F, 10002}, {0x25, 10003}, {0x26, 10004}, {0x2A, 10004}, {0x2B, 10004},
    {0x27, 10005}, {0x28, 10006}, {0x2C, 10006}, {0x2D, 10006}, {0x2E, 10006},
    {0x29, 10007}, {0x30, 10008}, {0x31, 10011}, {0x32, 10010}, {0x33, 10013},
    {0x34, 10014}, {0x35, 10012}, {0x36, 10015}, {0x37, 10016}, {0x38, 10017},
    {0x39, 10018}, {0x3A, 10019}, {0x3B, 10020}, {0x3C, 10021}, {0x3D, 10022},
    {0x3E, 10023}, {0x3F, 10024}, {0x40, 10025}, {0x41, 10026},
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
    if (c >= 0x20 && c <= 0x41) {
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
