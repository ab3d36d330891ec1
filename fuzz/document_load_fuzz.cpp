// The document loader against arbitrary files. Besides not crashing, reading
// nothing outside the file and allocating nothing by the file's counts, it
// checks one promise: whatever loaded whole and saved again opens again
// without a single message, with the same parts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "document/tarnwick_doc.h"
#include "link/error_state.h"
#include "ports/log.h"
#include "ports/prompter.h"

namespace {

using namespace tarnwick;

class NullLog : public Log {
public:
    void AppendLog(const std::string&, std::uint32_t, unsigned) override {}
    void SetLogFormat(std::uint32_t, unsigned) override {}
    void ClearLog() override {}
};

class CountingPrompter : public Prompter {
public:
    int messages = 0;
    MessageAnswer MessageBox(const std::string&, MessageIcon, MessageButtons) override {
        ++messages;
        return MessageAnswer::Ok;
    }
    std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<FontChoice> ChooseFont(const FontChoice&, int, int) override { return {}; }
};

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern = ImagePart::TempFolder() + "/document-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = Folder() + "/input.img";
    const std::string again = Folder() + "/again.img";
    if (FILE* f = std::fopen(input.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        std::abort();
    }

    NullLog log;
    CountingPrompter prompter;
    {
        CTarnwickDoc doc(log, prompter);
        const bool opened = doc.OnOpenDocument(input);
        if (opened && prompter.messages == 0 && doc.OnSaveDocument(again)) {
            CountingPrompter second;
            CTarnwickDoc reopened(log, second);
            if (!reopened.OnOpenDocument(again) || second.messages != 0) std::abort();
            if (reopened.PartCount() != doc.PartCount() || !(reopened.Values() == doc.Values()))
                std::abort();
            for (int i = 0; i < doc.PartCount(); ++i) {
                const ImagePart* a = doc.PartAt(i);
                const ImagePart* b = reopened.PartAt(i);
                if (a->Id() != b->Id() || a->Size() != b->Size() || a->Checksum() != b->Checksum() ||
                    a->Address() != b->Address())
                    std::abort();
            }
        }
    }
    ::unlink(input.c_str());
    ::unlink(again.c_str());
    ClearErrors();
    return 0;
}
