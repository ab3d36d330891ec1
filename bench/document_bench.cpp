// Saves and opens one large image document and reports the times and the
// peak resident memory: images of hundreds of megabytes must stream through
// the parts' temporary files instead of passing through memory.
//
//   document_bench [--size-mib=N] [--dir=FOLDER]
//
// Prints one line on stdout: save_s=<s> open_s=<s> peak_rss_mb=<MiB>.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "codec/crc16.h"
#include "document/tarnwick_doc.h"
#include "link/error_state.h"
#include "osimage/image_header.h"
#include "ports/log.h"
#include "ports/prompter.h"

namespace {

using namespace tarnwick;

class QuietLog : public Log {
public:
    void AppendLog(const std::string&, std::uint32_t, unsigned) override {}
    void SetLogFormat(std::uint32_t, unsigned) override {}
    void ClearLog() override {}
};

// Any message means the run went wrong; it goes to stderr.
class StderrPrompter : public Prompter {
public:
    bool anyMessage = false;
    MessageAnswer MessageBox(const std::string& text, MessageIcon, MessageButtons) override {
        anyMessage = true;
        std::fprintf(stderr, "document_bench: message: %s\n", text.c_str());
        return MessageAnswer::Ok;
    }
    std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFileDialog(const FileDialogRequest&) override { return {}; }
    std::optional<FontChoice> ChooseFont(const FontChoice&, int, int) override { return {}; }
};

double PeakRssMiB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
}

// Image-like content: stretches of noise (already compressed data) between
// stretches of structured words (code and tables), so the coder does real work
// on both of its paths.
void Fill(std::vector<std::uint8_t>& chunk, std::uint64_t offset, std::uint32_t& seed) {
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        const std::uint64_t pos = offset + i;
        if ((pos >> 16) & 1) {
            seed = seed * 1103515245u + 12345u;
            chunk[i] = static_cast<std::uint8_t>(seed >> 24);
        } else {
            // A table of counting 32-bit words: long runs of equal high bytes.
            const std::uint32_t word = static_cast<std::uint32_t>(pos / 4) & 0xFFFF;
            chunk[i] = static_cast<std::uint8_t>(word >> (8 * (pos % 4)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t sizeMiB = 256;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mib=", 11) == 0) {
            sizeMiB = std::strtoull(argv[i] + 11, nullptr, 10);
        } else if (std::strncmp(argv[i], "--dir=", 6) == 0) {
            dir = argv[i] + 6;
        } else {
            std::fprintf(stderr, "usage: document_bench [--size-mib=N] [--dir=FOLDER]\n");
            return 2;
        }
    }
    if (sizeMiB == 0 || sizeMiB >= 4000) {
        std::fprintf(stderr, "document_bench: size must be 1 … 3999 MiB\n");
        return 2;
    }
    bool ownDir = false;
    if (dir.empty()) {
        std::string pattern = ImagePart::TempFolder() + "/document-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("document_bench: mkdtemp");
            return 1;
        }
        dir = pattern;
        ownDir = true;
    }
    const std::string path = dir + "/bench.img";

    QuietLog log;
    StderrPrompter prompter;
    int status = 0;
    double saveSeconds = 0, openSeconds = 0;
    {
        CTarnwickDoc doc(log, prompter);
        doc.OnNewDocument();
        ImagePart* data = doc.AddPart();
        if (data == nullptr) {
            ShowError(log, prompter);
            return 1;
        }
        // One image of the whole size, streamed into its temporary file.
        const std::uint64_t total = sizeMiB << 20;
        std::vector<std::uint8_t> chunk(1 << 20);
        std::uint32_t seed = 1;
        std::uint16_t crc = kCrcInit;
        for (std::uint64_t done = 0; done < total; done += chunk.size()) {
            Fill(chunk, done, seed);
            for (std::size_t at = 0; at < chunk.size(); at += 32768)
                crc = Crc16(chunk.data() + at, 32768, crc);
            if (!data->GetFile().Write(chunk.data(), chunk.size())) {
                std::fprintf(stderr, "document_bench: temporary folder is full\n");
                return 1;
            }
        }
        data->SetId(0x00000001);
        data->SetSize(static_cast<std::uint32_t>(total));
        data->SetChecksum(crc);

        ImportHeader header;
        header.signature = kImportSignature;
        header.ImageType = 1;
        header.DataSize = static_cast<std::uint32_t>(total);
        header.Attributes = 0x00010001;
        ImagePart* headerPart = doc.AddPart();
        if (headerPart == nullptr ||
            !WriteHeaderRecord(*headerPart, MakeImageHeaderRecord(header, header.DataSize, crc, crc))) {
            std::fprintf(stderr, "document_bench: header part not written\n");
            return 1;
        }
        headerPart->SetId(0x20000000);
        doc.SetModifiedFlag();

        const auto t0 = std::chrono::steady_clock::now();
        if (!doc.OnSaveDocument(path)) status = 1;
        const auto t1 = std::chrono::steady_clock::now();
        saveSeconds = std::chrono::duration<double>(t1 - t0).count();

        CTarnwickDoc loaded(log, prompter);
        const auto t2 = std::chrono::steady_clock::now();
        if (status == 0 && !loaded.OnOpenDocument(path)) status = 1;
        const auto t3 = std::chrono::steady_clock::now();
        openSeconds = std::chrono::duration<double>(t3 - t2).count();
        if (status == 0) {
            const ImagePart* back = loaded.FindPart(0x00000001);
            if (back == nullptr || back->Size() != total || back->Checksum() != crc) status = 1;
        }
        std::error_code ec;
        std::fprintf(stderr, "document_bench: image %llu MiB, document file %.1f MiB\n",
                     static_cast<unsigned long long>(sizeMiB),
                     static_cast<double>(std::filesystem::file_size(path, ec)) / 1048576.0);
    }
    if (prompter.anyMessage) status = 1;
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (ownDir) std::filesystem::remove_all(dir, ec);

    std::printf("save_s=%.2f open_s=%.2f peak_rss_mb=%.1f\n", saveSeconds, openSeconds, PeakRssMiB());
    if (status != 0) std::fprintf(stderr, "document_bench: the document did not come back whole\n");
    return status;
}
