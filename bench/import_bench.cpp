// Import of a large Windows CE image with tarnwick-cli, against gzip -1 over
// the same file. Builds an import file of one compressed type-1 section whose
// data is executable code (the ELF programs and libraries of this machine),
// runs `tarnwick-cli -IMPEX -IMPORT` on it and prints
//   import_s=<seconds> peak_rss_mb=<MiB> gzip1_s=<seconds>
// peak_rss_mb is the import's peak resident memory as the kernel counted it.
// The CPU times of both follow on stderr. The import's time includes saving
// the document beside the import file, as the batch command does.
//
// Options: --size-mib=N (default 64), --split (a panel type whose image
// region is smaller than the image, so the import splits it first),
// --cli=PATH (default: tarnwick-cli beside this program), --keep (leave the
// work folder).
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Child {
    int status = -1;
    double seconds = 0;
    long maxRssKiB = 0;
    double cpuSeconds = 0;
};

Child RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const std::string& stdoutPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> a = args, e = env;
    std::vector<char*> argv, envp;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);

    Child child;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "import_bench: cannot start %s: %s\n", argv[0], std::strerror(rc));
        return child;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    child.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    child.maxRssKiB = usage.ru_maxrss;
    child.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return child;
}

bool IsElf(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    char magic[4] = {};
    f.read(magic, 4);
    return f.gcount() == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
}

// The machine's own programs and libraries, in a fixed order.
std::vector<fs::path> CodeFiles() {
    std::vector<fs::path> files;
    for (const char* dir : {"/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu",
                            "/usr/lib", "/usr/sbin"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            std::error_code ec2;
            if (!entry.is_regular_file(ec2) || entry.is_symlink(ec2)) continue;
            if (entry.file_size(ec2) < 4096) continue;
            if (IsElf(entry.path())) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool WriteImportFile(const std::string& path, std::uint32_t dataSize, bool split) {
    const auto files = CodeFiles();
    if (files.empty()) {
        std::fprintf(stderr, "import_bench: no executable files found\n");
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::uint8_t header[128] = {};
    std::memcpy(header, "CE00", 4);
    Put32(header + 4, 1);                               // type-1 image
    Put32(header + 8, 4);
    Put32(header + 12, 20);
    Put32(header + 16, 0x01020304);
    Put32(header + 20, 0x01000000);
    Put32(header + 24, split ? 0x200 : 0x10);          // 0x10: no image region, no split
    Put32(header + 36, 0x80040000);
    Put32(header + 44, dataSize);
    Put32(header + 48, 0xF0000000);                     // room enough for any stored size
    Put32(header + 52, 0x80010004);                     // stored compressed
    out.write(reinterpret_cast<const char*>(header), sizeof header);

    std::vector<char> buffer(1 << 20);
    std::uint64_t left = dataSize;
    std::size_t next = 0;
    while (left > 0) {
        std::ifstream in(files[next++ % files.size()], std::ios::binary);
        while (left > 0 && in) {
            in.read(buffer.data(),
                    static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size())));
            const auto got = static_cast<std::uint64_t>(in.gcount());
            out.write(buffer.data(), static_cast<std::streamsize>(got));
            left -= got;
        }
    }
    return static_cast<bool>(out);
}

std::string SelfFolder() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
    unsigned sizeMiB = 64;
    bool split = false;
    bool keep = false;
    std::string cli = SelfFolder() + "/tarnwick-cli";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--size-mib=", 0) == 0) {
            sizeMiB = static_cast<unsigned>(std::stoul(a.substr(11)));
        } else if (a == "--split") {
            split = true;
        } else if (a == "--keep") {
            keep = true;
        } else if (a.rfind("--cli=", 0) == 0) {
            cli = a.substr(6);
        } else {
            std::fprintf(stderr, "usage: import_bench [--size-mib=N] [--split] [--cli=PATH] [--keep]\n");
            return 2;
        }
    }

    const char* tmp = std::getenv("TMPDIR");
    std::string work = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarnwick-bench-XXXXXX";
    if (::mkdtemp(work.data()) == nullptr) {
        std::perror("import_bench: mkdtemp");
        return 1;
    }
    const std::string nb0 = work + "/bench.NB0";
    const std::uint32_t dataSize = sizeMiB * 1024u * 1024u - 128u;
    if (!WriteImportFile(nb0, dataSize, split)) return 1;

    const std::vector<std::string> env{
        "PATH=/usr/bin:/bin",          "HOME=" + work,
        "XDG_CONFIG_HOME=" + work + "/config", "XDG_RUNTIME_DIR=" + work,
        "TMPDIR=" + work,             "LC_ALL=de_DE.UTF-8",
    };
    const Child import = RunChild({cli, "--quiet", "-IMPEX", "-IMPORT", nb0}, env, work + "/log");
    const Child gzip = RunChild({"gzip", "-1", "-c", nb0}, env, "/dev/null");

    int rc = 0;
    if (import.status != 0 || !fs::exists(work + "/bench.img")) {
        std::fprintf(stderr, "import_bench: the import failed (status %d); log in %s/log\n",
                     import.status, work.c_str());
        keep = true;
        rc = 1;
    }
    std::printf("import_s=%.2f peak_rss_mb=%.1f gzip1_s=%.2f\n", import.seconds,
                static_cast<double>(import.maxRssKiB) / 1024.0, gzip.seconds);
    // On a busy machine the wall times say little; the CPU times beside them.
    std::fprintf(stderr, "import_cpu_s=%.2f gzip1_cpu_s=%.2f\n", import.cpuSeconds, gzip.cpuSeconds);
    if (!keep) {
        std::error_code ec;
        fs::remove_all(work, ec);
    }
    return rc;
}
