#include "opctest/sim_server.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits.h>

namespace opcda {

// One client's connection: alive while any object the client holds (server,
// group collection, group, item collection) refers to it.
struct SimConnection {
  bool connected = false;
  bool defaultActive = true;
  Date lastUpdate{};
  std::vector<std::shared_ptr<SimGroupState>> groups;
};

struct SimGroupState {
  struct Item {
    std::string id;
    std::int32_t clientHandle = 0;
    std::int32_t serverHandle = 0;
  };
  std::string name;
  bool active = true;
  bool subscribed = false;
  bool removed = false;
  std::vector<Item> items;

  // Guards the handler and is held while it runs, so that once the handler
  // is replaced the old one is not running and will not run again.
  std::recursive_mutex handlerMutex;
  DataChangeHandler handler;
};

namespace {

constexpr std::int32_t kQualityGood = 192;

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// The simulation runs in this process, so only names of this computer reach it.
bool IsLocalNode(const std::string& node) {
  if (node.empty() || EqualNoCase(node, "localhost") || node == "127.0.0.1" || node == "::1") {
    return true;
  }
  char host[HOST_NAME_MAX + 1] = {};
  return gethostname(host, sizeof host) == 0 && EqualNoCase(node, host);
}

const char* OperationName(SimOperation op) {
  switch (op) {
    case SimOperation::Connect: return "Connect";
    case SimOperation::OPCGroups: return "OPCGroups";
    case SimOperation::LastUpdateTime: return "LastUpdateTime";
    case SimOperation::ServerState: return "ServerState";
    case SimOperation::Disconnect: return "Disconnect";
    case SimOperation::DefaultGroupIsActive: return "DefaultGroupIsActive";
    case SimOperation::Add: return "Add";
    case SimOperation::RemoveAll: return "RemoveAll";
    case SimOperation::OPCItems: return "OPCItems";
    case SimOperation::IsSubscribed: return "IsSubscribed";
    case SimOperation::SyncWrite: return "SyncWrite";
    case SimOperation::AddItems: return "AddItems";
    case SimOperation::Count: return "Count";
  }
  return "?";
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

void CheckCount(std::int32_t numItems, std::size_t available) {
  if (numItems < 0 || static_cast<std::size_t>(numItems) > available) {
    throw OpcError("The number of items does not match the arrays passed.",
                   kErrorInvalidArgument);
  }
}

}  // namespace

std::string FormatSimValue(const Variant& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "empty"; }
    std::string operator()(Null) const { return "null"; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", d);
      std::string s = buf;
      // Keep a double recognisable as one when read back.
      if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
      return s;
    }
    std::string operator()(const std::string& s) const { return Quote(s); }
    std::string operator()(Date d) const {
      char buf[48];
      std::snprintf(buf, sizeof buf, "date(%.17g)", d.value);
      return buf;
    }
  };
  return std::visit(Visitor{}, value);
}

// ---------------------------------------------------------------------------
// The objects a client holds.

class SimItemsObject : public OPCItems {
 public:
  SimItemsObject(std::shared_ptr<SimServer> sim, std::shared_ptr<SimConnection> connection,
                 std::shared_ptr<SimGroupState> group)
      : sim_(std::move(sim)), connection_(std::move(connection)), group_(std::move(group)) {}

  void AddItems(std::int32_t NumItems, const std::vector<std::string>& ItemIDs,
                const std::vector<std::int32_t>& ClientHandles,
                std::vector<std::int32_t>& ServerHandles, std::vector<std::int32_t>& Errors,
                const std::vector<std::int16_t>* RequestedDataTypes,
                const std::vector<std::string>* AccessPaths) override;
  std::int32_t Count() override;

 private:
  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<SimConnection> connection_;
  std::shared_ptr<SimGroupState> group_;
};

class SimGroupObject : public OPCGroup {
 public:
  SimGroupObject(std::shared_ptr<SimServer> sim, std::shared_ptr<SimConnection> connection,
                 std::shared_ptr<SimGroupState> group)
      : sim_(std::move(sim)), connection_(std::move(connection)), group_(std::move(group)) {}
  ~SimGroupObject() override {
    // A released group object sends no more events to its client.
    std::lock_guard handlerLock(group_->handlerMutex);
    group_->handler = nullptr;
  }

  std::shared_ptr<opcda::OPCItems> OPCItems() override;
  void IsSubscribed(bool value) override;
  void SyncWrite(std::int32_t NumItems, const std::vector<std::int32_t>& ServerHandles,
                 const std::vector<Variant>& Values, std::vector<std::int32_t>& Errors) override;
  void ConnectDataChange(DataChangeHandler handler) override {
    std::lock_guard handlerLock(group_->handlerMutex);
    group_->handler = std::move(handler);
  }

 private:
  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<SimConnection> connection_;
  std::shared_ptr<SimGroupState> group_;
};

class SimGroupsObject : public OPCGroups {
 public:
  SimGroupsObject(std::shared_ptr<SimServer> sim, std::shared_ptr<SimConnection> connection)
      : sim_(std::move(sim)), connection_(std::move(connection)) {}

  void DefaultGroupIsActive(bool value) override;
  std::shared_ptr<OPCGroup> Add(const std::string& Name) override;
  void RemoveAll() override;

 private:
  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<SimConnection> connection_;
};

class SimServerObject : public OPCServer {
 public:
  explicit SimServerObject(std::shared_ptr<SimServer> sim) : sim_(std::move(sim)) {}

  void Connect(const std::string& ProgID, const std::string& Node) override;
  std::shared_ptr<opcda::OPCGroups> OPCGroups() override;
  Date LastUpdateTime() override;
  std::int32_t ServerState() override;
  void Disconnect() override;

 private:
  SimConnection& Connected();  // needs the simulation's lock

  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<SimConnection> connection_;
};

namespace {

void RequireConnected(const std::shared_ptr<SimConnection>& connection) {
  if (!connection || !connection->connected) {
    throw OpcError("The server object is not connected to the OPC server.",
                   kErrorNotConnected);
  }
}

void RequireGroup(const SimConnection& connection, const SimGroupState& group) {
  if (!connection.connected || group.removed) {
    throw OpcError("The group \"" + group.name + "\" has been removed from the OPC server.",
                   kErrorInvalidHandle);
  }
}

}  // namespace

void SimServerObject::Connect(const std::string& ProgID, const std::string& Node) {
  std::lock_guard lock(sim_->mutex_);
  sim_->Log("Connect " + Quote(ProgID) + " " + Quote(Node));
  sim_->Fail(SimOperation::Connect);
  if (connection_ && connection_->connected) {
    throw OpcError("The server object is already connected.");
  }
  if (!EqualNoCase(ProgID, sim_->progId_)) {
    throw OpcError("No OPC server is registered as \"" + ProgID + "\".",
                   kErrorClassNotRegistered);
  }
  if (!IsLocalNode(Node)) {
    throw OpcError("The simulated OPC server runs on this computer only; the node \"" + Node +
                       "\" cannot be reached.",
                   kErrorClassNotRegistered);
  }
  connection_ = std::make_shared<SimConnection>();
  connection_->connected = true;
  sim_->connections_.push_back(connection_);
}

SimConnection& SimServerObject::Connected() {
  RequireConnected(connection_);
  return *connection_;
}

std::shared_ptr<opcda::OPCGroups> SimServerObject::OPCGroups() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::OPCGroups);
  Connected();
  return std::make_shared<SimGroupsObject>(sim_, connection_);
}

Date SimServerObject::LastUpdateTime() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::LastUpdateTime);
  return Connected().lastUpdate;
}

std::int32_t SimServerObject::ServerState() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::ServerState);
  Connected();
  return sim_->state_;
}

void SimServerObject::Disconnect() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Log("Disconnect");
  sim_->Fail(SimOperation::Disconnect);
  SimConnection& connection = Connected();
  for (auto& group : connection.groups) group->removed = true;
  connection.groups.clear();
  connection.connected = false;
}

void SimGroupsObject::DefaultGroupIsActive(bool value) {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::DefaultGroupIsActive);
  RequireConnected(connection_);
  connection_->defaultActive = value;
}

std::shared_ptr<OPCGroup> SimGroupsObject::Add(const std::string& Name) {
  std::lock_guard lock(sim_->mutex_);
  sim_->Log("Add " + Quote(Name));
  sim_->Fail(SimOperation::Add);
  RequireConnected(connection_);
  std::string name = Name;
  auto taken = [&](const std::string& n) {
    return std::any_of(connection_->groups.begin(), connection_->groups.end(),
                       [&](const auto& g) { return g->name == n; });
  };
  if (name.empty()) {
    do {
      name = "Group" + std::to_string(sim_->nextGroupNumber_++);
    } while (taken(name));
  } else if (taken(name)) {
    throw OpcError("A group named \"" + name + "\" already exists.", kErrorDuplicateName);
  }
  auto group = std::make_shared<SimGroupState>();
  group->name = name;
  group->active = connection_->defaultActive;
  connection_->groups.push_back(group);
  return std::make_shared<SimGroupObject>(sim_, connection_, group);
}

void SimGroupsObject::RemoveAll() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Log("RemoveAll");
  sim_->Fail(SimOperation::RemoveAll);
  RequireConnected(connection_);
  for (auto& group : connection_->groups) group->removed = true;
  connection_->groups.clear();
}

std::shared_ptr<opcda::OPCItems> SimGroupObject::OPCItems() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::OPCItems);
  RequireGroup(*connection_, *group_);
  return std::make_shared<SimItemsObject>(sim_, connection_, group_);
}

void SimGroupObject::IsSubscribed(bool value) {
  std::vector<SimServer::Delivery> deliveries;
  {
    std::lock_guard lock(sim_->mutex_);
    sim_->Log(std::string("IsSubscribed ") + (value ? "true" : "false"));
    sim_->Fail(SimOperation::IsSubscribed);
    RequireGroup(*connection_, *group_);
    const bool wasSubscribed = group_->subscribed;
    group_->subscribed = value;
    if (value && !wasSubscribed && sim_->initialUpdate_ && group_->active &&
        !group_->items.empty()) {
      std::vector<std::pair<std::string, Variant>> all;
      for (const auto& item : group_->items) all.emplace_back(item.id, sim_->values_[item.id]);
      DataChangeEvent event = sim_->EventFor(*group_, all, *connection_);
      sim_->LogEvent(*group_, event);
      deliveries.emplace_back(group_, std::move(event));
    }
  }
  SimServer::Deliver(std::move(deliveries));
}

void SimGroupObject::SyncWrite(std::int32_t NumItems,
                               const std::vector<std::int32_t>& ServerHandles,
                               const std::vector<Variant>& Values,
                               std::vector<std::int32_t>& Errors) {
  std::vector<SimServer::Delivery> deliveries;
  {
    std::lock_guard lock(sim_->mutex_);
    std::string line = "SyncWrite";
    for (std::int32_t i = 0; i < NumItems && static_cast<std::size_t>(i) < ServerHandles.size() &&
                             static_cast<std::size_t>(i) < Values.size();
         ++i) {
      const auto it = std::find_if(group_->items.begin(), group_->items.end(), [&](const auto& x) {
        return x.serverHandle == ServerHandles[i];
      });
      line += " " + (it == group_->items.end() ? std::string("?") : it->id) + "=" +
              FormatSimValue(Values[i]);
    }
    sim_->Log(line);
    sim_->Fail(SimOperation::SyncWrite);
    RequireGroup(*connection_, *group_);
    CheckCount(NumItems, std::min(ServerHandles.size(), Values.size()));

    Errors.assign(static_cast<std::size_t>(NumItems), 0);
    SimWrite write;
    std::vector<std::pair<std::string, Variant>> changed;
    for (std::int32_t i = 0; i < NumItems; ++i) {
      const auto it = std::find_if(group_->items.begin(), group_->items.end(), [&](const auto& x) {
        return x.serverHandle == ServerHandles[i];
      });
      if (it == group_->items.end()) {
        Errors[i] = kErrorInvalidHandle;
        continue;
      }
      Variant& stored = sim_->values_[it->id];
      if (!(stored == Values[i])) changed.emplace_back(it->id, Values[i]);
      stored = Values[i];
      write.ItemIDs.push_back(it->id);
      write.Values.push_back(Values[i]);
    }
    sim_->writes_.push_back(std::move(write));
    if (sim_->echoWrites_ && !changed.empty()) deliveries = sim_->Announce(changed);
  }
  SimServer::Deliver(std::move(deliveries));
}

void SimItemsObject::AddItems(std::int32_t NumItems, const std::vector<std::string>& ItemIDs,
                              const std::vector<std::int32_t>& ClientHandles,
                              std::vector<std::int32_t>& ServerHandles,
                              std::vector<std::int32_t>& Errors,
                              const std::vector<std::int16_t>* RequestedDataTypes,
                              const std::vector<std::string>* AccessPaths) {
  std::lock_guard lock(sim_->mutex_);
  std::string line = "AddItems";
  for (std::int32_t i = 0; i < NumItems && static_cast<std::size_t>(i) < ItemIDs.size(); ++i) {
    line += " " + ItemIDs[i];
  }
  sim_->Log(line);
  sim_->Fail(SimOperation::AddItems);
  RequireGroup(*connection_, *group_);
  CheckCount(NumItems, std::min(ItemIDs.size(), ClientHandles.size()));
  if ((RequestedDataTypes && RequestedDataTypes->size() < static_cast<std::size_t>(NumItems)) ||
      (AccessPaths && AccessPaths->size() < static_cast<std::size_t>(NumItems))) {
    CheckCount(NumItems, 0);
  }
  // The simulation keeps values as written; requested types and access
  // paths do not change anything here.
  ServerHandles.assign(static_cast<std::size_t>(NumItems), 0);
  Errors.assign(static_cast<std::size_t>(NumItems), 0);
  for (std::int32_t i = 0; i < NumItems; ++i) {
    if (sim_->values_.count(ItemIDs[i]) == 0) {
      Errors[i] = kErrorUnknownItemId;
      continue;
    }
    SimGroupState::Item item{ItemIDs[i], ClientHandles[i], sim_->nextServerHandle_++};
    ServerHandles[i] = item.serverHandle;
    group_->items.push_back(std::move(item));
  }
}

std::int32_t SimItemsObject::Count() {
  std::lock_guard lock(sim_->mutex_);
  sim_->Fail(SimOperation::Count);
  RequireGroup(*connection_, *group_);
  return static_cast<std::int32_t>(group_->items.size());
}

// ---------------------------------------------------------------------------
// The simulation itself.

std::shared_ptr<SimServer> SimServer::Create(Clock clock, std::string progId) {
  return std::shared_ptr<SimServer>(new SimServer(std::move(clock), std::move(progId)));
}

SimServer::SimServer(Clock clock, std::string progId)
    : clock_(std::move(clock)), progId_(std::move(progId)) {
  for (const auto& id : ItemIDs()) values_[id] = std::int64_t{0};
}

const std::vector<std::string>& SimServer::ItemIDs() {
  static const std::vector<std::string> ids = {"VAR_1", "VAR_2", "VAR_3",
                                               "VAR_4", "VAR_5", "VAR_6"};
  return ids;
}

std::shared_ptr<OPCServer> SimServer::NewServerObject() {
  return std::make_shared<SimServerObject>(shared_from_this());
}

void SimServer::SetState(std::int32_t state) {
  std::lock_guard lock(mutex_);
  state_ = state;
}

std::int32_t SimServer::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void SimServer::SetValue(const std::string& itemId, const Variant& value) {
  Notify({{itemId, value}});
}

void SimServer::Notify(const std::vector<std::pair<std::string, Variant>>& changes) {
  std::vector<Delivery> deliveries;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, value] : changes) {
      if (values_.count(id) == 0) {
        throw OpcError("The simulated server has no item \"" + id + "\".", kErrorUnknownItemId);
      }
    }
    for (const auto& [id, value] : changes) values_[id] = value;
    deliveries = Announce(changes);
  }
  Deliver(std::move(deliveries));
}

void SimServer::SetEchoWrites(bool on) {
  std::lock_guard lock(mutex_);
  echoWrites_ = on;
}

void SimServer::SetInitialUpdate(bool on) {
  std::lock_guard lock(mutex_);
  initialUpdate_ = on;
}

void SimServer::FailNext(SimOperation operation, const std::string& description) {
  std::lock_guard lock(mutex_);
  failures_[operation] = description;
}

void SimServer::SetLogSink(LogSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

Variant SimServer::Value(const std::string& itemId) const {
  std::lock_guard lock(mutex_);
  const auto it = values_.find(itemId);
  return it == values_.end() ? Variant{} : it->second;
}

std::vector<SimWrite> SimServer::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<std::string> SimServer::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int SimServer::ConnectedClients() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const auto& weak : connections_) {
    const auto connection = weak.lock();
    if (connection && connection->connected) ++n;
  }
  return n;
}

void SimServer::ClearRecords() {
  std::lock_guard lock(mutex_);
  writes_.clear();
  calls_.clear();
}

void SimServer::Log(const std::string& line) {
  calls_.push_back(line);
  if (sink_) sink_(line);
}

void SimServer::Fail(SimOperation operation) {
  const auto it = failures_.find(operation);
  if (it == failures_.end()) return;
  const std::string description = it->second;
  failures_.erase(it);
  Log(std::string("(") + OperationName(operation) + " fails: " + description + ")");
  throw OpcError(description);
}

DataChangeEvent SimServer::EventFor(SimGroupState& group,
                                    const std::vector<std::pair<std::string, Variant>>& changes,
                                    SimConnection& connection) {
  DataChangeEvent event;
  const Date now = clock_();
  for (const auto& [id, value] : changes) {
    for (const auto& item : group.items) {
      if (item.id != id) continue;
      event.ClientHandles.push_back(item.clientHandle);
      event.ItemValues.push_back(value);
      event.Qualities.push_back(kQualityGood);
      event.TimeStamps.push_back(now);
    }
  }
  event.NumItems = static_cast<std::int32_t>(event.ClientHandles.size());
  if (event.NumItems > 0) connection.lastUpdate = now;
  return event;
}

std::vector<SimServer::Delivery> SimServer::Announce(
    const std::vector<std::pair<std::string, Variant>>& changes) {
  std::vector<Delivery> deliveries;
  std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : connections_) {
    const auto connection = weak.lock();
    if (!connection || !connection->connected) continue;
    for (const auto& group : connection->groups) {
      if (group->removed || !group->active || !group->subscribed) continue;
      DataChangeEvent event = EventFor(*group, changes, *connection);
      if (event.NumItems == 0) continue;
      LogEvent(*group, event);
      deliveries.emplace_back(group, std::move(event));
    }
  }
  return deliveries;
}

void SimServer::LogEvent(const SimGroupState& group, const DataChangeEvent& event) {
  std::string line = "DataChange " + Quote(group.name);
  for (std::size_t i = 0; i < event.ClientHandles.size(); ++i) {
    line += " " + std::to_string(event.ClientHandles[i]) + "=" +
            FormatSimValue(event.ItemValues[i]);
  }
  Log(line);
}

void SimServer::Deliver(std::vector<Delivery> deliveries) {
  for (auto& [group, event] : deliveries) {
    std::lock_guard handlerLock(group->handlerMutex);
    if (group->handler) group->handler(event);
  }
}

}  // namespace opcda
