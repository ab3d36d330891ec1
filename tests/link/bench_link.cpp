// Measures the device link on a paced line: writes a block of executable code
// into panelsim (--throttle, so its side runs at the bit rate set on the
// terminal) with WriteMemory and compares the time with what the bytes on the
// line need. Prints one line per rate:
//   rate=… wire_bytes=… wire_s=… wall_s=… efficiency=… cpu_pct=…
// wire_bytes counts what was sent and received; wire_s = wire_bytes × 10 / rate.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/crc16.h"
#include "link/bootloader.h"
#include "link/device_info.h"
#include "link/error_state.h"
#include "link/flash_programming.h"
#include "link/panelsim_process.h"

using namespace tarnwick;

namespace {

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Fail(const char* what) {
    const auto pending = PendingErrors();
    const std::string message = pending.empty() ? std::string() : FormatError(pending.front(), ErrorSourceText());
    std::fprintf(stderr, "bench-link: %s: %s\n", what, message.c_str());
    return 1;
}

int RunRate(const std::string& panelsim, const std::vector<std::uint8_t>& code, std::uint32_t rate,
            const std::string& workDir) {
    testing::Panelsim sim;
    sim.program = panelsim;
    if (!sim.Start({"--booted", "--throttle"}, workDir)) return Fail("panelsim did not start");
    const std::string path = sim.Path();
    ThePort().SetPathResolver([path](int) { return path; });
    ClearErrors();

    if (ConnectAndIdentify(0, rate) != 1) return Fail("no connection");
    const std::uint32_t area = ImageAreaStart();
    const auto size = static_cast<std::uint32_t>(code.size());
    if (EraseRange(area, size, nullptr) != 0) return Fail("erase");

    SerialPort& port = ThePort();
    const std::uint64_t bytesBefore = port.BytesWritten() + port.BytesRead();
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (WriteMemory(area, size, code.data()) != 0) return Fail("write");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    const std::uint64_t wireBytes = port.BytesWritten() + port.BytesRead() - bytesBefore;

    std::uint16_t crc = 0;
    if (MemoryChecksum(area, size, &crc) != 0) return Fail("checksum");
    if (crc != Crc16(code.data(), code.size(), kCrcInit)) return Fail("the panel holds other bytes");
    port.Close();
    sim.Stop();

    const double wire = static_cast<double>(wireBytes) * 10.0 / rate;
    std::printf("rate=%u wire_bytes=%llu wire_s=%.3f wall_s=%.3f efficiency=%.3f cpu_pct=%.2f\n", rate,
                static_cast<unsigned long long>(wireBytes), wire, wall, wire / wall, 100.0 * cpu / wall);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: link_bench PANELSIM CODE_FILE RATE...\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::vector<std::uint8_t> code((std::istreambuf_iterator<char>(in)), {});
    constexpr std::size_t kSize = 1 << 20;
    if (code.empty()) {
        std::fprintf(stderr, "bench-link: %s holds nothing\n", argv[2]);
        return 2;
    }
    while (code.size() < kSize) code.insert(code.end(), code.begin(), code.begin() + std::min(code.size(), kSize - code.size()));
    code.resize(kSize);

    char pattern[] = "/tmp/bench-link-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    int result = 0;
    for (int i = 3; i < argc && result == 0; ++i) {
        result = RunRate(argv[1], code, static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10)), pattern);
    }
    std::system((std::string("rm -rf ") + pattern).c_str());
    return result;
}
