// Codec speed on four corpora, with zlib level 1 on the executable corpus
// for comparison. `codec_bench --summary` prints one line per corpus:
//   corpus=<name> bytes=<n> ratio=<stored/source> compress_MBps=<x> decompress_MBps=<y>
// (MB = 10^6 bytes, CPU time of one thread). Without --summary it is an
// ordinary Google Benchmark program and takes its usual flags.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/crc16.h"
#include "codec/lz_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace tarnwick;

struct Corpus {
    std::string name;
    Bytes data;
};

Bytes ReadFile(const std::string& path) {
    Bytes b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        if (size > 0) {
            b.resize(static_cast<std::size_t>(size));
            b.resize(std::fread(b.data(), 1, b.size(), f));
        }
        std::fclose(f);
    }
    return b;
}

// The project's largest built program: the largest executable file beside
// this one (build/bin), unless --exe=PATH names another.
std::string LargestBinary() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    std::string best = self.string();
    std::uintmax_t bestSize = 0;
    for (const auto& e : fs::directory_iterator(self.parent_path(), ec)) {
        if (!e.is_regular_file(ec)) continue;
        const auto perms = e.status(ec).permissions();
        if ((perms & fs::perms::owner_exec) == fs::perms::none) continue;
        const auto size = e.file_size(ec);
        if (!ec && size > bestSize) {
            bestSize = size;
            best = e.path().string();
        }
    }
    return best;
}

Bytes TwoLetterText(std::size_t n) {
    std::mt19937 rng(4242);
    Bytes b(n);
    for (auto& x : b) x = (rng() & 1u) ? 'a' : 'b';
    return b;
}

Bytes RandomBytes(std::size_t n) {
    std::mt19937_64 rng(77);
    Bytes b(n);
    for (std::size_t i = 0; i < n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(b.data() + i, &v, std::min<std::size_t>(8, n - i));
    }
    return b;
}

std::vector<Corpus>& Corpora() {
    static std::vector<Corpus> c;
    return c;
}

// The corpus as a block stream in memory, as the document and the import
// store it: pieces of 16384 bytes, one block each.
std::size_t EncodeAll(const Bytes& data, Bytes& blocks) {
    CodecContext context;
    context.runningChecksums = 1;
    std::size_t at = 0;
    for (std::size_t pos = 0; pos < data.size(); pos += kBlockPiece) {
        context.dataLength = static_cast<std::uint32_t>(std::min(kBlockPiece, data.size() - pos));
        EncodeBlock(blocks.data() + at, data.data() + pos, context);
        at += context.blockLength;
    }
    return at;
}

void BM_Encode(benchmark::State& state, const Corpus* corpus) {
    Bytes blocks(corpus->data.size() + corpus->data.size() / kBlockPiece * 8 + 64);
    std::size_t stored = 0;
    for (auto _ : state) {
        stored = EncodeAll(corpus->data, blocks);
        benchmark::DoNotOptimize(blocks.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->data.size()));
    state.counters["source"] = static_cast<double>(corpus->data.size());
    state.counters["stored"] = static_cast<double>(stored);
}

void BM_Decode(benchmark::State& state, const Corpus* corpus) {
    Bytes blocks(corpus->data.size() + corpus->data.size() / kBlockPiece * 8 + 64);
    const std::size_t stored = EncodeAll(corpus->data, blocks);
    Bytes out(kBlockPiece);
    for (auto _ : state) {
        CodecContext context;
        context.runningChecksums = 1;
        for (std::size_t at = 0; at < stored; at += context.blockLength) {
            DecodeBlock(out.data(), out.size(), blocks.data() + at, stored - at, context);
            if (context.status != kCodecOk) {
                state.SkipWithError("block did not decode");
                return;
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->data.size()));
    state.counters["source"] = static_cast<double>(corpus->data.size());
    state.counters["stored"] = static_cast<double>(stored);
}

void BM_ZlibEncode(benchmark::State& state, const Corpus* corpus) {
    uLongf cap = compressBound(corpus->data.size());
    Bytes out(cap);
    uLongf stored = 0;
    for (auto _ : state) {
        stored = cap;
        compress2(out.data(), &stored, corpus->data.data(), corpus->data.size(), 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->data.size()));
    state.counters["source"] = static_cast<double>(corpus->data.size());
    state.counters["stored"] = static_cast<double>(stored);
}

void BM_ZlibDecode(benchmark::State& state, const Corpus* corpus) {
    uLongf stored = compressBound(corpus->data.size());
    Bytes packed(stored);
    compress2(packed.data(), &stored, corpus->data.data(), corpus->data.size(), 1);
    Bytes out(corpus->data.size());
    for (auto _ : state) {
        uLongf n = out.size();
        if (uncompress(out.data(), &n, packed.data(), stored) != Z_OK) {
            state.SkipWithError("zlib did not decode");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->data.size()));
    state.counters["source"] = static_cast<double>(corpus->data.size());
    state.counters["stored"] = static_cast<double>(stored);
}

void BM_Crc16(benchmark::State& state) {
    const Bytes data = RandomBytes(1 << 20);
    std::uint16_t crc = kCrcInit;
    for (auto _ : state) {
        crc = Crc16(data.data(), data.size(), crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

// Collects the runs and prints the summary lines at the end.
class SummaryReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const std::string name = run.benchmark_name();
            const auto slash = name.find('/');
            if (slash == std::string::npos) continue;
            const std::string kind = name.substr(0, slash);
            const std::string corpus = name.substr(slash + 1);
            Line& line = lines_[corpus];
            if (line.order < 0) line.order = static_cast<int>(lines_.size());
            line.source = run.counters.at("source").value;
            line.stored = run.counters.at("stored").value;
            const double mbps = line.source * static_cast<double>(run.iterations) / run.cpu_accumulated_time / 1e6;
            if (kind == "encode" || kind == "zlib1_encode") line.compress = mbps;
            if (kind == "decode" || kind == "zlib1_decode") line.decompress = mbps;
        }
    }
    void Print() const {
        std::vector<std::pair<int, std::string>> order;
        for (const auto& [name, line] : lines_) order.emplace_back(line.order, name);
        std::sort(order.begin(), order.end());
        for (const auto& [index, name] : order) {
            const Line& l = lines_.at(name);
            std::printf("corpus=%s bytes=%.0f ratio=%.4f compress_MBps=%.1f decompress_MBps=%.1f\n", name.c_str(),
                        l.source, l.stored / l.source, l.compress, l.decompress);
        }
        std::fflush(stdout);
    }

private:
    struct Line {
        int order = -1;
        double source = 0, stored = 0, compress = 0, decompress = 0;
    };
    std::map<std::string, Line> lines_;
};

}  // namespace

int main(int argc, char** argv) {
    bool summary = false;
    std::string exe;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--summary") == 0) {
            summary = true;
        } else if (std::strncmp(argv[i], "--exe=", 6) == 0) {
            exe = argv[i] + 6;
        } else {
            args.push_back(argv[i]);
        }
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());

    if (exe.empty()) exe = LargestBinary();
    auto& corpora = Corpora();
    corpora.reserve(4);
    corpora.push_back({"executable", ReadFile(exe)});
    corpora.push_back({"zeros", Bytes(16u << 20, 0)});
    corpora.push_back({"random", RandomBytes(16u << 20)});
    corpora.push_back({"two_letters", TwoLetterText(4u << 20)});
    if (corpora[0].data.empty()) {
        std::fprintf(stderr, "codec_bench: cannot read %s\n", exe.c_str());
        return 1;
    }
    std::fprintf(stderr, "codec_bench: executable corpus %s (%zu bytes)\n", exe.c_str(), corpora[0].data.size());

    for (const auto& c : corpora) {
        benchmark::RegisterBenchmark(("encode/" + c.name).c_str(), BM_Encode, &c)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode/" + c.name).c_str(), BM_Decode, &c)->Unit(benchmark::kMillisecond);
    }
    const std::string zname = corpora[0].name + "_zlib1";
    benchmark::RegisterBenchmark(("zlib1_encode/" + zname).c_str(), BM_ZlibEncode, &corpora[0])
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("zlib1_decode/" + zname).c_str(), BM_ZlibDecode, &corpora[0])
        ->Unit(benchmark::kMillisecond);
    if (!summary) benchmark::RegisterBenchmark("crc16/1MiB", BM_Crc16);

    if (summary) {
        SummaryReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.Print();
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
