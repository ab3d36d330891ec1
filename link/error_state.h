#pragma once
// The one failure record of the process. The place that detects a failure
// records it, each layer that gives up adds its own pair, and the command
// that started the work shows the first (innermost) one once.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

class Log;
class Prompter;

struct ErrorEntry {
    std::uint32_t function = 0;
    std::uint32_t code = 0;
};

// Records one failure. A non-empty source text replaces the stored one; at
// most five entries are kept, later ones are dropped. Never fails, shows nothing.
void ReportError(std::uint32_t function, std::uint32_t code, const std::string& source = {});

// Shows the first recorded failure as a message box and a log line, then
// empties the list of entries (the source text stays). Returns 0.
int ShowError(Log& log, Prompter& prompter);

// The message ShowError would show for the first entry, without showing it or
// changing the record; nothing when the message text cannot be loaded.
// Used where a front end shows the error its own way.
std::string FormatError(const ErrorEntry& entry, const std::string& source);

// Inspection and reset, for the front ends and tests.
std::vector<ErrorEntry> PendingErrors();
std::string ErrorSourceText();
void ClearErrors();  // empties entries and source text

}  // namespace tarnwick
