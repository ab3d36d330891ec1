// tarnwick-cli: the console front end. The same keywords and batch commands as
// the desktop program, without a window: log lines on stdout, message boxes as
// lines on stderr.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "app/tarnwick_app.h"
#include "cli/commands.h"
#include "cli/console_log.h"
#include "cli/console_prompter.h"
#include "cli/transfer_command.h"

namespace {

using namespace tarnwick;

constexpr const char* kProgram = "tarnwick-cli";

void Say(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

void PrintHelp() {
    std::printf(
        "Usage: %s [OPTIONS] [KEYWORDS] [FILE]\n"
        "\n"
        "Service kit for the operating-system images of operator panels, without a window.\n"
        "Keywords begin with \"-\" or \"/\" and may be written in any case; the last one given\n"
        "for a setting wins. The file name must follow the batch command.\n"
        "\n"
        "Batch commands:\n"
        "  -DOWNLOAD FILE        write the image document FILE into the panel\n"
        "  -UPLOAD FILE          read the panel's images into the document FILE\n"
        "  -IMPEX -IMPORT FILE   import the Windows CE image FILE into FILE.img\n"
        "  -IMPEX -EXPORTCE=OUT FILE\n"
        "                        write the Windows CE image of the document FILE into OUT\n"
        "  -INFO FILE            print the versions and the parts of the image document FILE\n"
        "  -IMPEX -TOFILE FILE   write what a download of FILE would put into the flash into\n"
        "                        FILE with the extension .exp, for a variant of the panel type\n"
        "  -VARIANT=KEY          the variant of -TOFILE (a key of the program INI tarnwick.INI),\n"
        "                        needed when it offers several\n"
        "\n"
        "Components of a download or upload (default: -ALL):\n"
        "  -CE                   the Windows CE image\n"
        "  -ALL                  the Windows CE image and the panel's configuration data\n"
        "  -HWT                  the image pair 0x40/0x80\n"
        "\n"
        "Interface (stored for later runs):\n"
        "  -COM1 ... -COM4       serial port (COM1 and COM2 only, unless -IMPEX is given)\n"
        "  -COMn=DEVICE          the device behind port n (for example -COM3=/dev/ttyUSB0);\n"
        "                        also selects that port\n"
        "  -19200 -38400 -57600 -115200 -230400\n"
        "                        baud rate (at most 115200, unless -IMPEX is given)\n"
        "\n"
        "For this run only:\n"
        "  -IMPEX                the extended command set and interface choices\n"
        "  -NOERASE              erase only the flash sectors the download writes\n"
        "\n"
        "Options:\n"
        "  --quiet               no progress display\n"
        "  --list-ports          the serial devices present and where COM1 ... COM4 lead\n"
        "  --text ID             print the program's text number ID in the user's language\n"
        "  --help                this text\n"
        "  --version             the program's version\n"
        "\n"
        "Without a batch command the interface keywords are stored and nothing else runs.\n"
        "A download or upload asks to boot the panel and waits for it; Ctrl+C while it waits\n"
        "or while data moves cancels the transfer (a second Ctrl+C ends the program at once).\n"
        "Exit status: 0 success, 1 the command failed, 2 bad usage, 3 another copy is running.\n",
        kProgram);
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            PrintHelp();
            return kExitSuccess;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", kProgram, VersionText().c_str());
            return kExitSuccess;
        }
        if (arg == "--text") {
            // Shows which language file the user's locale selects, and what it holds.
            if (i + 1 >= argc) {
                Say("--text needs a text number");
                return kExitUsage;
            }
            char* end = nullptr;
            const unsigned long id = std::strtoul(argv[i + 1], &end, 10);
            if (end == argv[i + 1] || *end != '\0' || id > 0xFFFF) {
                Say(std::string("not a text number: ") + argv[i + 1]);
                return kExitUsage;
            }
            CTarnwickApp& app = TheApp();
            app.LocateProgram();
            app.LoadUserLanguage();
            const auto text = LoadString(static_cast<unsigned>(id));
            if (!text) {
                Say("no text number " + std::to_string(id));
                return kExitFailed;
            }
            std::printf("%s\n", text->c_str());
            return kExitSuccess;
        }
        if (arg == "--list-ports") return RunListPorts();
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            // Never a keyword: keywords have a single sign.
            Say("unknown option " + arg + " (see --help)");
            return kExitUsage;
        }
        args.push_back(arg);
    }

    CTarnwickApp& app = TheApp();
    // A second copy ends before it reads its command line: it must not store
    // settings behind the running copy's back.
    switch (app.AcquireInstance()) {
    case InstanceLock::Result::Acquired: break;
    case InstanceLock::Result::HeldByOther:
        Say("another copy of Tarnwick is running; nothing done");
        return kExitOtherCopy;
    case InstanceLock::Result::Unavailable:
        Say("cannot take the single-copy lock (" + app.instanceMutex.Problem() +
            "); going on without it");
        break;
    }

    CTarnwickCommandLineInfo info;
    ParseCommandLine(info, args);
    if (info.commandKeywordSeen && (info.command == -1 || info.fileName.empty())) {
        Say(info.command == -1
                ? "IMPORT, EXPORTCE and TOFILE need -IMPEX before them and a file after them (see --help)"
                : "a batch command needs the file name right after it (see --help)");
        return kExitUsage;
    }

    std::string problem;
    if (!EnsureSettingsFolder(&problem))
        Say("cannot create the settings folder (" + problem + "); settings are not stored");

    app.StartWithoutWindow(info);

    if (!app.IsBatchMode()) {
        Say("no batch command given; interface settings stored");
        return kExitSuccess;
    }

    const CliCommand* command = FindCliCommand(app.batchCommand);
    if (!command || !command->run) {
        Say(std::string(command ? command->keyword : "this command") + " is not available yet");
        return kExitFailed;
    }
    ConsoleLog log;
    ConsolePrompter prompter;
    CliContext context{app, log, prompter, quiet};
    return command->run(context);
}
