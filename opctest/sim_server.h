// A simulated OPC DA server with the six items VAR_1 to VAR_6, living in the
// client's process. It is reached only through its own ProgID. Tests and the
// demo drive it directly: its state, its values, the notifications it sends
// and the failures of its next calls; it records every call and every write
// a client makes.
//
// Thread-safe: the simulation may be driven from any thread. DataChange
// handlers are called on the thread that caused the notification, never
// while the simulation's lock is held.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "opctest/ole_date.h"
#include "opctest/opc_automation.h"

namespace opcda {

// One SyncWrite as it reached the server: the items written and their values,
// in the order of the call (items with an unknown handle are left out).
struct SimWrite {
  std::vector<std::string> ItemIDs;
  std::vector<Variant> Values;
};

// Client calls whose next use can be made to fail.
enum class SimOperation {
  Connect,
  OPCGroups,
  LastUpdateTime,
  ServerState,
  Disconnect,
  DefaultGroupIsActive,
  Add,
  RemoveAll,
  OPCItems,
  IsSubscribed,
  SyncWrite,
  AddItems,
  Count,
};

struct SimConnection;
struct SimGroupState;

class SimServer : public std::enable_shared_from_this<SimServer> {
 public:
  // The ProgID the simulated server built into ravolin is registered under
  // (compared without regard to case, as ProgIDs are).
  static constexpr const char* kProgID = "Ravolin.Simulation.1";

  // The server state it reports unless told otherwise: running.
  static constexpr std::int32_t kRunning = 1;

  using Clock = std::function<Date()>;
  using LogSink = std::function<void(const std::string&)>;

  static std::shared_ptr<SimServer> Create(Clock clock = LocalNow,
                                           std::string progId = kProgID);

  // The ProgID this simulation answers to.
  const std::string& ProgID() const { return progId_; }

  // The server's items, "VAR_1" to "VAR_6".
  static const std::vector<std::string>& ItemIDs();

  // A new, unconnected server object through which a client reaches this
  // simulation.
  std::shared_ptr<OPCServer> NewServerObject();

  // --- Driving the simulation ---

  void SetState(std::int32_t state);
  std::int32_t State() const;

  // Changes one item's value and notifies every subscribed active group that
  // holds the item.
  void SetValue(const std::string& itemId, const Variant& value);

  // Changes several values at once and sends each subscribed active group one
  // notification listing those of the items it holds, in the order given.
  void Notify(const std::vector<std::pair<std::string, Variant>>& changes);

  // Whether values written by a client are announced to subscribed groups
  // (the writer's own included), as a real server does. Off by default.
  void SetEchoWrites(bool on);

  // Whether a group sends one notification with all its items when it is
  // subscribed, as a real server does on activation. Off by default.
  void SetInitialUpdate(bool on);

  // Makes the next call of the operation fail with this description.
  void FailNext(SimOperation operation, const std::string& description);

  // Receives a line for every client call and every notification. Called
  // with the simulation's lock held: it must not call back into it.
  void SetLogSink(LogSink sink);

  // --- Observing it ---

  Variant Value(const std::string& itemId) const;
  std::vector<SimWrite> Writes() const;
  // Every client call and every notification, in order, as the lines given
  // to the log sink.
  std::vector<std::string> Calls() const;
  // Server objects that are connected and not yet released.
  int ConnectedClients() const;
  void ClearRecords();

  // The server objects a client holds reach into the simulation directly.
  friend class SimServerObject;
  friend class SimGroupsObject;
  friend class SimGroupObject;
  friend class SimItemsObject;

 private:
  SimServer(Clock clock, std::string progId);

  using Delivery = std::pair<std::shared_ptr<SimGroupState>, DataChangeEvent>;

  void Log(const std::string& line);  // needs mutex_
  void Fail(SimOperation operation);  // needs mutex_; throws when armed
  std::vector<Delivery> Announce(const std::vector<std::pair<std::string, Variant>>& changes);
  DataChangeEvent EventFor(SimGroupState& group,
                           const std::vector<std::pair<std::string, Variant>>& changes,
                           SimConnection& connection);
  void LogEvent(const SimGroupState& group, const DataChangeEvent& event);  // needs mutex_
  static void Deliver(std::vector<Delivery> deliveries);

  mutable std::mutex mutex_;
  Clock clock_;
  const std::string progId_;
  LogSink sink_;
  std::int32_t state_ = kRunning;
  std::map<std::string, Variant> values_;
  std::vector<std::weak_ptr<SimConnection>> connections_;
  std::map<SimOperation, std::string> failures_;
  std::vector<SimWrite> writes_;
  std::vector<std::string> calls_;
  bool echoWrites_ = false;
  bool initialUpdate_ = false;
  std::int32_t nextServerHandle_ = 1001;
  int nextGroupNumber_ = 1;
};

// Text of a value as the simulation's log and control lines write it:
// strings quoted, numbers plain, and the words true, false, empty and null.
std::string FormatSimValue(const Variant& value);

}  // namespace opcda
