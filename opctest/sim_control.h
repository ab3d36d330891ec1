// Driving the simulated server from outside the program: control lines,
// the environment read at start-up and a FIFO that takes control lines
// while the program runs.
//
// Control lines (one command per line, words separated by blanks):
//   set ITEM VALUE              change one item and notify it
//   notify ITEM=VALUE ...       change several items, notified together in this order
//   state N                     the server state reported from now on
//   fail OPERATION TEXT...      the next call of OPERATION (Connect, SyncWrite,
//                               RemoveAll, ...) fails with TEXT as its description
//   echo on|off                 announce written values to subscribed groups
//   initial on|off              send all items when a group is subscribed
//   show                        log the state and the six values
// VALUE is "text" (with \" \\ \n \r \t escapes), an integer, a decimal number,
// true, false, empty, null or date(DAYS); any other word is taken as text.
//
// Environment (read once when the program starts):
//   RAVOLIN_SIM_STATE=N          initial server state (default 1, running)
//   RAVOLIN_SIM_VALUES="VAR_1=5 VAR_2=\"x\""   initial values
//   RAVOLIN_SIM_ECHO=1, RAVOLIN_SIM_INITIAL_UPDATE=1
//   RAVOLIN_SIM_LOG=PATH          where the simulation logs its calls: a file
//                                 (appended), "-" for standard error (the
//                                 default), empty for nowhere
//   RAVOLIN_SIM_CONTROL=PATH      a FIFO (created if missing) read for control lines
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "opctest/sim_server.h"

namespace opcda {

// Reads one value in the control syntax; false when the text is malformed.
bool ParseSimValue(std::string_view text, Variant& value);

// Carries out one control line. Returns what to report (may be empty);
// throws OpcError with a description when the line is wrong or refused.
std::string RunSimCommand(SimServer& sim, std::string_view line);

// Where the simulation's lines go: a file, standard error or nowhere.
class SimLog {
 public:
  // PATH as in RAVOLIN_SIM_LOG.
  explicit SimLog(const std::string& path);
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  void Write(const std::string& line);
  const std::string& Error() const { return error_; }

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool own_ = false;
  std::string error_;
};

// Reads control lines from a FIFO on a thread of its own until destroyed.
class SimControlChannel {
 public:
  SimControlChannel(std::shared_ptr<SimServer> sim, std::shared_ptr<SimLog> log);
  ~SimControlChannel();
  SimControlChannel(const SimControlChannel&) = delete;
  SimControlChannel& operator=(const SimControlChannel&) = delete;

  // Opens (creating if needed) the FIFO and starts reading; false with a
  // description in `error` when that is not possible.
  bool Open(const std::string& path, std::string& error);

 private:
  void Run();

  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<SimLog> log_;
  int fifo_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

// The simulation as the program sets it up from its environment: the
// server, its log and its control channel.
struct SimSetup {
  std::shared_ptr<SimServer> sim;
  std::shared_ptr<SimLog> log;
  std::unique_ptr<SimControlChannel> control;
  // Problems met while reading the environment, one line each.
  std::vector<std::string> problems;
};

SimSetup SetUpSimFromEnvironment();

}  // namespace opcda
