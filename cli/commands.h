#pragma once
// The batch commands of the console front end. Each command that can run
// without a window has one entry in the table in commands.cpp; a command
// without an entry (or without a handler yet) ends with "not available yet".
#include <cstdint>

namespace tarnwick {

class CTarnwickApp;
class Log;
class Prompter;

// Exit status of tarnwick-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOtherCopy = 3;

struct CliContext {
    CTarnwickApp& app;  // batchFile, batchComponents, TransferSettings, impexMode
    Log& log;
    Prompter& prompter;
    bool quiet = false;  // --quiet: no progress display
};

struct CliCommand {
    std::uint32_t id;     // the command id (batchCommand)
    const char* keyword;  // as it is typed, for messages
    // Runs the command; returns one of the exit statuses above.
    int (*run)(CliContext& context);
};

// The entry of command id, or nullptr.
const CliCommand* FindCliCommand(std::uint32_t id);

}  // namespace tarnwick
