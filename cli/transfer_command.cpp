#include "cli/transfer_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/ini_file.h"
#include "app/settings.h"
#include "app/tarnwick_app.h"
#include "cli/commands.h"
#include "cli/console_choices.h"
#include "cli/console_interrupt.h"
#include "cli/console_progress.h"
#include "document/tarnwick_doc.h"
#include "link/device_info.h"
#include "ports/log.h"
#include "ports/prompter.h"
#include "transfer/interface_settings.h"
#include "transfer/transfer_view.h"

namespace tarnwick {
namespace {

// The console status dialog, except that the boot prompt is shown even with
// --quiet: the person has to act on it, and the program waits until they do.
class TransferStatusDialog : public cli::ConsoleStatusDialog {
public:
    TransferStatusDialog(cli::ConsoleProgressOptions options)
        : ConsoleStatusDialog(options), quiet_(options.quiet) {}

protected:
    void OnTextEmphasis(bool bold) override { emphasis_ = bold; }
    void OnText(const std::string& text) override {
        if (quiet_ && emphasis_ && !text.empty()) {
            std::string line = text;
            for (char& c : line)
                if (c == '\r') c = ' ';
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        }
        ConsoleStatusDialog::OnText(text);
    }

private:
    bool quiet_;
    bool emphasis_ = false;
};

class TransferStatusHost : public StatusDialogHost {
public:
    explicit TransferStatusHost(cli::ConsoleProgressOptions options) : options_(std::move(options)) {}
    std::unique_ptr<StatusDialog> CreateStatusDialog() override {
        return std::make_unique<TransferStatusDialog>(options_);
    }

private:
    cli::ConsoleProgressOptions options_;
};

enum class Kind { Download, Upload, ToFile };

// Stand-ins that show nothing, for a look into the document before the run.
class SilentLog : public Log {
public:
    void AppendLog(const std::string&, std::uint32_t, unsigned) override {}
    void SetLogFormat(std::uint32_t, unsigned) override {}
    void ClearLog() override {}
};
class SilentPrompter : public Prompter {
public:
    MessageAnswer MessageBox(const std::string&, MessageIcon, MessageButtons buttons) override {
        return buttons == MessageButtons::YesNoCancel ? MessageAnswer::No : MessageAnswer::Ok;
    }
    std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<FontChoice> ChooseFont(const FontChoice&, int, int) override { return {}; }
};

// Before a transfer into a file: the variant must be clear from the command
// line. When the program INI offers several for the document's panel type
// and -VARIANT names none of them (or names one that is not there), the
// variants are listed and the call ends as incomplete, before any file is
// made. A document that cannot be opened is left to the run, which says why.
bool VariantIsClear(CliContext& context) {
    SilentLog log;
    SilentPrompter prompter;
    CTarnwickDoc document(log, prompter);
    if (!document.OnOpenDocument(context.app.batchFile) || document.PresentMask() == 0) return true;
    const std::string type = PanelTypeName(document.HardwareType());
    const std::vector<VariantEntry> variants = ReadTargetVariants(context.app, type);
    const std::string& key = context.app.batchVariant;
    if (variants.empty() || (variants.size() == 1 && key.empty())) return true;
    for (const auto& v : variants)
        if (!key.empty() && SameName(v.key, key)) return true;
    cli::ConsoleChoices(key).ChooseVariant(variants);
    return false;
}

int Run(CliContext& context, Kind kind) {
    cli::InterruptScope interrupt(context.quiet);
    if (kind == Kind::ToFile && !VariantIsClear(context)) return kExitUsage;
    TransferStatusHost status(cli::DefaultConsoleProgressOptions(context.quiet));
    cli::ConsoleChoices choices(context.app.batchVariant);
    TransferOutcome outcome;
    bool opened = false;
    {
        CTarnwickDoc document(context.log, context.prompter);
        document.OnNewDocument();
        TransferView view(TransferContext{context.app, document, choices, status});
        switch (kind) {
        case Kind::Download: outcome = view.OnTransfer(); break;
        case Kind::Upload: outcome = view.OnUpload(); break;
        case Kind::ToFile: outcome = view.TransferToFile(context.app.batchFile); break;
        }
        opened = !document.GetPathName().empty();
    }
    if (choices.VariantUnresolved()) {
        // The call was incomplete: the transfer file it began is empty and
        // goes again, so that no script mistakes it for a result.
        struct stat st {};
        const std::string& exp = TransferFileName();
        if (!exp.empty() && ::stat(exp.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
            ::unlink(exp.c_str());
        return kExitUsage;
    }
    switch (outcome) {
    case TransferOutcome::Done: return kExitSuccess;
    case TransferOutcome::Failed: return kExitFailed;
    case TransferOutcome::NotStarted: break;
    }
    // An empty document: the transfer has nothing to send (a document that
    // could not be opened has said why already).
    if (kind != Kind::Upload && opened)
        std::fprintf(stderr, "tarnwick-cli: nothing transferred: %s holds no images\n",
                     context.app.batchFile.c_str());
    return kExitFailed;
}

}  // namespace

int RunDownloadCommand(CliContext& context) { return Run(context, Kind::Download); }
int RunUploadCommand(CliContext& context) { return Run(context, Kind::Upload); }
int RunTransferToFileCommand(CliContext& context) { return Run(context, Kind::ToFile); }

int RunListPorts() {
    const std::vector<std::string> devices = SerialDevicesPresent();
    std::printf("Serial devices:\n");
    if (devices.empty()) std::printf("  (none found)\n");
    for (const auto& d : devices) std::printf("  %s\n", d.c_str());
    std::printf("Ports:\n");
    for (int i = 0; i < 4; ++i) {
        const std::string path = PortDevicePath(i);
        struct stat st {};
        const bool present = ::stat(path.c_str(), &st) == 0;
        std::printf("  COM%d = %s%s\n", i + 1, path.c_str(), present ? "" : "  (not present)");
    }
    return kExitSuccess;
}

}  // namespace tarnwick
