#pragma once
// Starts the real panelsim program on its pseudo-terminal and stops it again,
// collecting its report and, when asked, its flash dump.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tarnwick::testing {

inline std::string PanelsimPath() {
#if defined(PANELSIM_PATH)
    return PANELSIM_PATH;
#elif defined(TARNWICK_BIN_DIR)
    return std::string(TARNWICK_BIN_DIR) + "/panelsim";
#else
    return "panelsim";
#endif
}

class Panelsim {
public:
    std::string program = PanelsimPath();

    // Starts panelsim with the options; false when it cannot be started.
    bool Start(std::vector<std::string> options, const std::string& workDir) {
        reportPath_ = workDir + "/report.txt";
        options.insert(options.begin(), {program, "--report", reportPath_});
        std::vector<char*> argv;
        for (auto& o : options) argv.push_back(o.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            pid_ = -1;
            return false;
        }
        stdout_ = ::fdopen(out[0], "r");
        char line[512];
        while (std::fgets(line, sizeof line, stdout_) != nullptr) {
            std::string text(line);
            if (text.rfind("PTY ", 0) == 0) {
                path_ = text.substr(4);
                while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
                return true;
            }
        }
        return false;
    }

    // Stops it and reads its report; idempotent.
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        if (stdout_ != nullptr) std::fclose(stdout_);
        stdout_ = nullptr;
        std::ifstream in(reportPath_);
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) report_[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    ~Panelsim() { Stop(); }

    const std::string& Path() const { return path_; }
    pid_t Pid() const { return pid_; }
    // A value of the report (after Stop), empty when missing.
    std::string Report(const std::string& key) const {
        auto it = report_.find(key);
        return it == report_.end() ? std::string() : it->second;
    }
    long ReportNumber(const std::string& key) const {
        const std::string v = Report(key);
        return v.empty() ? -1 : std::stol(v);
    }

private:
    pid_t pid_ = -1;
    FILE* stdout_ = nullptr;
    std::string path_;
    std::string reportPath_;
    std::map<std::string, std::string> report_;
};

}  // namespace tarnwick::testing
