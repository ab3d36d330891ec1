#include "opctest/sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace opcda {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Splits a line into words; a quoted string (with its escapes) stays one word,
// also when it follows "ITEM=".
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (!quoted && IsBlank(c)) break;
      if (c == '"') quoted = !quoted;
      if (quoted && c == '\\' && i + 1 < line.size()) {
        word += c;
        word += line[++i];
        continue;
      }
      word += c;
    }
    words.push_back(std::move(word));
  }
  return words;
}

bool OnOff(const std::string& word, bool& value) {
  if (word == "on" || word == "1" || word == "true") return value = true, true;
  if (word == "off" || word == "0" || word == "false") return value = false, true;
  return false;
}

bool ParseOperation(const std::string& name, SimOperation& op) {
  static const std::pair<const char*, SimOperation> kNames[] = {
      {"Connect", SimOperation::Connect},
      {"OPCGroups", SimOperation::OPCGroups},
      {"LastUpdateTime", SimOperation::LastUpdateTime},
      {"ServerState", SimOperation::ServerState},
      {"Disconnect", SimOperation::Disconnect},
      {"DefaultGroupIsActive", SimOperation::DefaultGroupIsActive},
      {"Add", SimOperation::Add},
      {"RemoveAll", SimOperation::RemoveAll},
      {"OPCItems", SimOperation::OPCItems},
      {"IsSubscribed", SimOperation::IsSubscribed},
      {"SyncWrite", SimOperation::SyncWrite},
      {"AddItems", SimOperation::AddItems},
      {"Count", SimOperation::Count},
  };
  for (const auto& [n, o] : kNames) {
    if (strcasecmp(n, name.c_str()) == 0) return op = o, true;
  }
  return false;
}

std::vector<std::pair<std::string, Variant>> Assignments(const std::vector<std::string>& words,
                                                          std::size_t first) {
  std::vector<std::pair<std::string, Variant>> changes;
  for (std::size_t i = first; i < words.size(); ++i) {
    const auto eq = words[i].find('=');
    Variant value;
    if (eq == std::string::npos || eq == 0 ||
        !ParseSimValue(std::string_view(words[i]).substr(eq + 1), value)) {
      throw OpcError("Expected ITEM=VALUE, not \"" + words[i] + "\".");
    }
    changes.emplace_back(words[i].substr(0, eq), value);
  }
  return changes;
}

}  // namespace

bool ParseSimValue(std::string_view text, Variant& value) {
  if (text.empty()) return false;
  if (text.front() == '"') {
    if (text.size() < 2 || text.back() != '"') return false;
    std::string s;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      char c = text[i];
      if (c == '\\') {
        if (i + 2 >= text.size()) return false;
        switch (text[++i]) {
          case 'n': c = '\n'; break;
          case 'r': c = '\r'; break;
          case 't': c = '\t'; break;
          case '"': c = '"'; break;
          case '\\': c = '\\'; break;
          default: return false;
        }
      } else if (c == '"') {
        return false;
      }
      s += c;
    }
    value = std::move(s);
    return true;
  }
  if (text == "true") return value = true, true;
  if (text == "false") return value = false, true;
  if (text == "empty") return value = std::monostate{}, true;
  if (text == "null") return value = Null{}, true;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (text.substr(0, 5) == "date(" && text.back() == ')') {
    double d = 0;
    const auto r = std::from_chars(begin + 5, end - 1, d);
    if (r.ec != std::errc() || r.ptr != end - 1) return false;
    value = Date{d};
    return true;
  }
  std::int64_t i = 0;
  auto r = std::from_chars(begin + (text.front() == '+'), end, i);
  if (r.ec == std::errc() && r.ptr == end) return value = i, true;
  double d = 0;
  r = std::from_chars(begin + (text.front() == '+'), end, d);
  if (r.ec == std::errc() && r.ptr == end) return value = d, true;
  value = std::string(text);  // a bare word is text
  return true;
}

std::string RunSimCommand(SimServer& sim, std::string_view line) {
  const std::vector<std::string> words = Words(line);
  if (words.empty() || words[0][0] == '#') return {};
  const std::string& command = words[0];
  if (command == "set" && words.size() == 3) {
    Variant value;
    if (!ParseSimValue(words[2], value)) throw OpcError("Bad value \"" + words[2] + "\".");
    sim.SetValue(words[1], value);
    return {};
  }
  if (command == "notify" && words.size() >= 2) {
    sim.Notify(Assignments(words, 1));
    return {};
  }
  if (command == "state" && words.size() == 2) {
    std::int32_t state = 0;
    const auto r = std::from_chars(words[1].data(), words[1].data() + words[1].size(), state);
    if (r.ec != std::errc() || r.ptr != words[1].data() + words[1].size()) {
      throw OpcError("The state must be a number, not \"" + words[1] + "\".");
    }
    sim.SetState(state);
    return {};
  }
  if (command == "fail" && words.size() >= 3) {
    SimOperation op{};
    if (!ParseOperation(words[1], op)) throw OpcError("No operation \"" + words[1] + "\".");
    const auto at = line.find(words[1]) + words[1].size();
    std::string_view text = line.substr(at);
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    sim.FailNext(op, std::string(text));
    return {};
  }
  bool on = false;
  if (command == "echo" && words.size() == 2 && OnOff(words[1], on)) {
    sim.SetEchoWrites(on);
    return {};
  }
  if (command == "initial" && words.size() == 2 && OnOff(words[1], on)) {
    sim.SetInitialUpdate(on);
    return {};
  }
  if (command == "show" && words.size() == 1) {
    std::string text = "state " + std::to_string(sim.State());
    for (const auto& id : SimServer::ItemIDs()) text += " " + id + "=" + FormatSimValue(sim.Value(id));
    return text;
  }
  throw OpcError("Unknown control line \"" + std::string(line) + "\".");
}

// ---------------------------------------------------------------------------

SimLog::SimLog(const std::string& path) {
  if (path.empty()) return;
  if (path == "-") {
    file_ = stderr;
    return;
  }
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) {
    error_ = "cannot open the simulation log " + path + ": " + std::strerror(errno);
    return;
  }
  own_ = true;
}

SimLog::~SimLog() {
  if (own_) std::fclose(file_);
}

void SimLog::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!file_) return;
  std::fprintf(file_, "ravolin-sim: %s\n", line.c_str());
  std::fflush(file_);
}

// ---------------------------------------------------------------------------

SimControlChannel::SimControlChannel(std::shared_ptr<SimServer> sim, std::shared_ptr<SimLog> log)
    : sim_(std::move(sim)), log_(std::move(log)) {}

SimControlChannel::~SimControlChannel() {
  if (thread_.joinable()) {
    const char byte = 0;
    while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : {fifo_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool SimControlChannel::Open(const std::string& path, std::string& error) {
  if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
    error = "cannot create the control FIFO " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
    error = "the control path " + path + " exists and is not a FIFO";
    return false;
  }
  // Opened for reading and writing, so that a writer closing its end does
  // not make the FIFO report end of file over and over.
  fifo_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifo_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    error = "cannot open the control FIFO " + path + ": " + std::strerror(errno);
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void SimControlChannel::Run() {
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{fifo_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    char buf[4096];
    const ssize_t n = read(fifo_, buf, sizeof buf);
    if (n <= 0) continue;
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      try {
        const std::string reply = RunSimCommand(*sim_, line);
        if (!reply.empty()) log_->Write(reply);
      } catch (const std::exception& e) {
        log_->Write(std::string("control: ") + e.what());
      }
    }
  }
}

// ---------------------------------------------------------------------------

SimSetup SetUpSimFromEnvironment() {
  SimSetup setup;
  setup.sim = SimServer::Create();
  const char* logPath = std::getenv("RAVOLIN_SIM_LOG");
  setup.log = std::make_shared<SimLog>(logPath ? logPath : "-");
  if (!setup.log->Error().empty()) setup.problems.push_back(setup.log->Error());
  std::weak_ptr<SimLog> weakLog = setup.log;
  setup.sim->SetLogSink([weakLog](const std::string& line) {
    if (auto log = weakLog.lock()) log->Write(line);
  });

  auto run = [&](const char* variable, const std::string& line) {
    try {
      RunSimCommand(*setup.sim, line);
    } catch (const std::exception& e) {
      setup.problems.push_back(std::string(variable) + ": " + e.what());
    }
  };
  if (const char* v = std::getenv("RAVOLIN_SIM_STATE"); v && *v) {
    run("RAVOLIN_SIM_STATE", std::string("state ") + v);
  }
  if (const char* v = std::getenv("RAVOLIN_SIM_VALUES"); v && *v) {
    run("RAVOLIN_SIM_VALUES", std::string("notify ") + v);
  }
  if (const char* v = std::getenv("RAVOLIN_SIM_ECHO"); v && *v) {
    run("RAVOLIN_SIM_ECHO", std::string("echo ") + v);
  }
  if (const char* v = std::getenv("RAVOLIN_SIM_INITIAL_UPDATE"); v && *v) {
    run("RAVOLIN_SIM_INITIAL_UPDATE", std::string("initial ") + v);
  }
  if (const char* v = std::getenv("RAVOLIN_SIM_CONTROL"); v && *v) {
    setup.control = std::make_unique<SimControlChannel>(setup.sim, setup.log);
    std::string error;
    if (!setup.control->Open(v, error)) {
      setup.problems.push_back(error);
      setup.control.reset();
    }
  }
  return setup;
}

}  // namespace opcda
