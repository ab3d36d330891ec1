// panelsim: a simulated operator panel whose bootloader answers on a
// pseudo-terminal, for trying the link, the tests, the demo and service
// scripts without a panel.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/engine.h"
#include "sim/image_doc.h"
#include "sim/memory.h"
#include "sim/server.h"

namespace {

using namespace panelsim;

const char* const kHelp = R"(Usage: panelsim [OPTION]...
A simulated operator panel: the bootloader side of the serial protocol on a
pseudo-terminal. The first line on standard output is "PTY <slave path>";
open that path as the panel's serial port. panelsim serves the boot handshake,
the baud-rate synchronisation and the request/reply packets (read, write,
sector erase, checksum, error replies; compressed frames both ways) until it
gets SIGINT, SIGTERM or SIGHUP (or --once ends it), then writes its report.

Panel:
  -c, --config FILE      panel description, "key = value" lines (see below);
                         without it the built-in panel is used
      --print-config     print the panel description in effect and exit
      --preload DOC.img  put the images of an image document into the flash:
                         placed parts at their addresses, unplaced ones where a
                         download puts them (header at the image area start,
                         data behind it, header links filled in); repeatable
      --load ADDR:FILE   put the raw bytes of FILE into the flash at ADDR;
                         repeatable, applied in order after the panel is built

Line behaviour:
      --boot-delay MS|never
                         the bootloader answers the boot handshake only MS
                         milliseconds after the PC's first handshake byte
                         (default 0); "never": it never answers
      --booted           the handshake is optional: the panel already waits
                         for the rate synchronisation
      --boot-answer HEX  bytes of the handshake answer (default AAFFAAFFAAFF)
      --sync-after N|never
                         answer the synchronisation after every N bytes 0x00
                         (default 4, one attempt of the PC; use multiples of 4);
                         "never": no answer
      --sync-answer HEX  the synchronisation answer (default AA); any other
                         answer keeps the panel waiting for the synchronisation
      --compress auto|never|always
                         compress replies when that is shorter (auto, default),
                         never, or always (even when the block is stored)
      --erase-time MS    a sector erase takes MS milliseconds before its reply
                         (default 0)
      --frame-timeout MS drop a frame left unfinished for MS milliseconds
                         (default 2000)
      --throttle         pace both directions at the bit rate the PC set on the
                         terminal, 10 bits per byte, so transfers take as long
                         as on a real line

Faults (repeatable, several may hit the same request):
      --fault KIND[=ARG]@[CMD:]N
                         at the Nth request (counted from 1 over all requests
                         since start), or the Nth request of command CMD (read,
                         write, erase, checksum):
                           drop        do the request, send no reply
                           corrupt     flip a bit in the middle of the reply frame
                           seq         reply with the request's own sequence number
                           error[=C]   refuse with an error reply, code C (default 0x29)
                           crc         reply with a wrong packet checksum
                           sum         checksum request: answer a wrong checksum
                           short       send only the first half of the reply frame
                           delay=MS    hold the reply back MS milliseconds
                           silent      answer nothing from this request on

Ending and results:
      --once             end when the PC closes the port after it has used the
                         packet protocol, or when it has closed the port and not
                         reopened it within the grace time
      --once-grace MS    (default 2000)
      --report FILE      write the report to FILE instead of standard error
      --dump FILE        write the flash contents (flash start to end) to FILE
      --trace FILE       one line per event (handshake, connection, request)
  -v, --verbose          log events on standard error
  -h, --help             this text

Panel description file (hexadecimal with 0x, "#" starts a comment):
  name = text            hardware_type = 0x0040 (raw block field)
  flash_start = 0xBFC00000 (multiple of 0x10000)
  bank0 = 8 x 8 ... bank3 = COUNT x KB (sectors and sector size per bank)
  loader_kb = 64         version = 105 (0xFFFF: not given)
  date = 0x15032004 (0xFFFFFFFF: not given)   date_text = 15.03.04 (at 0x03FFFFF8)
  block_address = 0xBFC0FF80                  block_pointer = (value at 0x03FFFFEC)
  bank_count, flash_size_kb, start_marker, end_marker: override what the block
  reports (for broken panels); block_fill = 0xFF; protect_loader = yes|no

Report: "key=value" lines (counters in decimal, rates as comma lists).
Exit status: 0 after a normal end, 1 when the panel cannot be set up, 2 for
bad usage.
)";

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseMs(const std::string& text, std::int64_t& us, bool allowNever) {
    if (allowNever && text == "never") {
        us = kNever;
        return true;
    }
    std::uint64_t v = 0;
    if (!ParseNumber(text, v) || v > 86'400'000) return false;
    us = static_cast<std::int64_t>(v) * 1000;
    return true;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "panelsim: %s\nTry 'panelsim --help'.\n", message.c_str());
    return 2;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    enum {
        kPrintConfig = 1000, kPreload, kLoad, kBootDelay, kBooted, kBootAnswer, kSyncAfter, kSyncAnswer,
        kCompress, kEraseTime, kFrameTimeout, kThrottle, kFault, kOnce, kOnceGrace, kReport, kDump, kTrace,
    };
    static const option longOptions[] = {
        {"config", required_argument, nullptr, 'c'},
        {"print-config", no_argument, nullptr, kPrintConfig},
        {"preload", required_argument, nullptr, kPreload},
        {"load", required_argument, nullptr, kLoad},
        {"boot-delay", required_argument, nullptr, kBootDelay},
        {"booted", no_argument, nullptr, kBooted},
        {"boot-answer", required_argument, nullptr, kBootAnswer},
        {"sync-after", required_argument, nullptr, kSyncAfter},
        {"sync-answer", required_argument, nullptr, kSyncAnswer},
        {"compress", required_argument, nullptr, kCompress},
        {"erase-time", required_argument, nullptr, kEraseTime},
        {"frame-timeout", required_argument, nullptr, kFrameTimeout},
        {"throttle", no_argument, nullptr, kThrottle},
        {"fault", required_argument, nullptr, kFault},
        {"once", no_argument, nullptr, kOnce},
        {"once-grace", required_argument, nullptr, kOnceGrace},
        {"report", required_argument, nullptr, kReport},
        {"dump", required_argument, nullptr, kDump},
        {"trace", required_argument, nullptr, kTrace},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    PanelConfig config;
    EngineOptions engineOptions;
    ServerOptions serverOptions;
    bool printConfig = false;
    std::vector<std::pair<int, std::string>> loads;   // kPreload or kLoad, in order
    std::string reportPath, dumpPath, tracePath, error;

    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":c:vh", longOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        std::uint64_t n = 0;
        switch (c) {
        case 'c':
            if (!LoadConfigFile(arg, config, error)) return Usage(error);
            break;
        case kPrintConfig: printConfig = true; break;
        case kPreload:
        case kLoad: loads.emplace_back(c, arg); break;
        case kBootDelay:
            if (!ParseMs(arg, engineOptions.bootDelayUs, true)) return Usage("--boot-delay needs MS or never");
            break;
        case kBooted: engineOptions.booted = true; break;
        case kBootAnswer:
            if (!ParseHex(arg, engineOptions.bootAnswer)) return Usage("--boot-answer needs hexadecimal bytes");
            break;
        case kSyncAfter:
            if (arg == "never") engineOptions.syncAfter = 0;
            else if (!ParseNumber(arg, n) || n == 0 || n > 1'000'000) return Usage("--sync-after needs N or never");
            else engineOptions.syncAfter = static_cast<std::uint32_t>(n);
            break;
        case kSyncAnswer:
            if (!ParseHex(arg, engineOptions.syncAnswer)) return Usage("--sync-answer needs hexadecimal bytes");
            break;
        case kCompress:
            if (arg == "auto") engineOptions.compression = Compression::Auto;
            else if (arg == "never") engineOptions.compression = Compression::Never;
            else if (arg == "always") engineOptions.compression = Compression::Always;
            else return Usage("--compress needs auto, never or always");
            break;
        case kEraseTime:
            if (!ParseMs(arg, engineOptions.eraseTimeUs, false)) return Usage("--erase-time needs MS");
            break;
        case kFrameTimeout:
            if (!ParseMs(arg, engineOptions.frameTimeoutUs, false)) return Usage("--frame-timeout needs MS");
            break;
        case kThrottle: serverOptions.throttle = true; break;
        case kFault: {
            Fault f;
            if (!ParseFault(arg, f, error)) return Usage(error);
            engineOptions.faults.push_back(f);
            break;
        }
        case kOnce: serverOptions.once = true; break;
        case kOnceGrace:
            if (!ParseMs(arg, serverOptions.onceGraceUs, false)) return Usage("--once-grace needs MS");
            break;
        case kReport: reportPath = arg; break;
        case kDump: dumpPath = arg; break;
        case kTrace: tracePath = arg; break;
        case 'v': serverOptions.verbose = true; break;
        case 'h': std::fputs(kHelp, stdout); return 0;
        case ':': return Usage(std::string("option '") + argv[optind - 1] + "' needs a value");
        default: return Usage(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) return Usage(std::string("unexpected argument '") + argv[optind] + "'");

    if (!ValidateConfig(config, error)) {
        std::fprintf(stderr, "panelsim: %s: %s\n", config.name.c_str(), error.c_str());
        return 1;
    }
    if (printConfig) {
        std::fputs(FormatConfig(config).c_str(), stdout);
        return 0;
    }

    Memory memory(config);
    for (const auto& [kind, arg] : loads) {
        std::vector<std::string> log;
        if (kind == kPreload) {
            ImageDocument doc;
            if (!ReadImageDocument(arg, doc, error) || !PreloadDocument(doc, memory, log, error)) {
                std::fprintf(stderr, "panelsim: --preload: %s\n", error.c_str());
                return 1;
            }
        } else {
            const auto colon = arg.find(':');
            std::uint64_t address = 0;
            std::vector<std::uint8_t> bytes;
            if (colon == std::string::npos || !ParseNumber(arg.substr(0, colon), address) || address > 0xFFFFFFFFull)
                return Usage("--load needs ADDR:FILE");
            if (!ReadFile(arg.substr(colon + 1), bytes)) {
                std::fprintf(stderr, "panelsim: --load: cannot read %s\n", arg.substr(colon + 1).c_str());
                return 1;
            }
            if (!memory.Store(static_cast<std::uint32_t>(address), bytes.data(), bytes.size())) {
                std::fprintf(stderr, "panelsim: --load: %zu bytes at 0x%08llX do not fit the flash\n", bytes.size(),
                             static_cast<unsigned long long>(address));
                return 1;
            }
            log.push_back("load " + std::to_string(bytes.size()) + " bytes at " + arg.substr(0, colon));
        }
        if (serverOptions.verbose)
            for (const std::string& line : log) std::fprintf(stderr, "panelsim: %s\n", line.c_str());
    }

    std::unique_ptr<std::ofstream> traceFile;
    std::ostream* trace = nullptr;
    if (!tracePath.empty()) {
        traceFile = std::make_unique<std::ofstream>(tracePath, std::ios::trunc);
        if (!*traceFile) {
            std::fprintf(stderr, "panelsim: cannot create %s\n", tracePath.c_str());
            return 1;
        }
        trace = traceFile.get();
    } else if (serverOptions.verbose) {
        trace = &std::cerr;
    }

    Stats stats;
    engineOptions.originUs = MonotonicUs();
    Engine engine(memory, engineOptions, stats, trace);
    PtyServer server(engine, stats, serverOptions);
    if (!server.Open(error)) {
        std::fprintf(stderr, "panelsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("PTY %s\n", server.SlavePath().c_str());
    std::fflush(stdout);

    const std::string reason = server.Run();
    engine.Finish(MonotonicUs());
    if (serverOptions.verbose) std::fprintf(stderr, "panelsim: ending: %s\n", reason.c_str());

    int status = 0;
    const std::string report = FormatReport(stats);
    if (reportPath.empty()) {
        std::fputs(report.c_str(), stderr);
    } else {
        std::ofstream out(reportPath, std::ios::trunc);
        out << report;
        if (!out.flush()) {
            std::fprintf(stderr, "panelsim: cannot write the report to %s\n", reportPath.c_str());
            status = 1;
        }
    }
    if (!dumpPath.empty()) {
        std::ofstream out(dumpPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(memory.Flash().data()),
                  static_cast<std::streamsize>(memory.Flash().size()));
        if (!out.flush()) {
            std::fprintf(stderr, "panelsim: cannot write the flash dump to %s\n", dumpPath.c_str());
            status = 1;
        }
    }
    return status;
}
