#include "opctest/automation_library.h"

#include "opctest/abi_values.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace opcda {
namespace {

[[noreturn]] void Raise(const ravolin_opc_error& err, std::int32_t rc, const char* member) {
  std::string description(err.description, strnlen(err.description, sizeof err.description));
  if (description.empty()) description = std::string("The OPC library's ") + member + " failed.";
  throw OpcError(description, err.number != 0 ? err.number : rc);
}

// Runs one library call that returns a status.
template <class Call>
void Check(const char* member, Call call) {
  ravolin_opc_error err{};
  const std::int32_t rc = call(&err);
  if (rc != 0) Raise(err, rc, member);
}

// Runs one library call that returns a new object reference.
template <class T, class Call>
T* Object(const char* member, Call call) {
  ravolin_opc_error err{};
  T* object = call(&err);
  if (!object) Raise(err, OpcError::kUnspecified, member);
  return object;
}

void RequireCount(std::int32_t numItems, std::size_t available) {
  if (numItems < 0 || static_cast<std::size_t>(numItems) > available) {
    throw OpcError("The number of items does not match the arrays passed.",
                   kErrorInvalidArgument);
  }
}

class LibItems : public OPCItems {
 public:
  LibItems(std::shared_ptr<AutomationLibrary> lib, ravolin_opc_items* h) : lib_(std::move(lib)), h_(h) {}
  ~LibItems() override { lib_->Api().items_release(h_); }

  void AddItems(std::int32_t NumItems, const std::vector<std::string>& ItemIDs,
                const std::vector<std::int32_t>& ClientHandles,
                std::vector<std::int32_t>& ServerHandles, std::vector<std::int32_t>& Errors,
                const std::vector<std::int16_t>* RequestedDataTypes,
                const std::vector<std::string>* AccessPaths) override {
    RequireCount(NumItems, std::min(ItemIDs.size(), ClientHandles.size()));
    if (RequestedDataTypes) RequireCount(NumItems, RequestedDataTypes->size());
    if (AccessPaths) RequireCount(NumItems, AccessPaths->size());
    const auto n = static_cast<std::size_t>(NumItems);
    std::vector<const char*> ids(n), paths;
    for (std::size_t i = 0; i < n; ++i) ids[i] = ItemIDs[i].c_str();
    if (AccessPaths) {
      for (std::size_t i = 0; i < n; ++i) paths.push_back((*AccessPaths)[i].c_str());
    }
    std::vector<std::int32_t> handles(n), errors(n);
    Check("AddItems", [&](ravolin_opc_error* err) {
      return lib_->Api().items_add(h_, NumItems, ids.data(), ClientHandles.data(), handles.data(),
                                   errors.data(),
                                   RequestedDataTypes ? RequestedDataTypes->data() : nullptr,
                                   AccessPaths ? paths.data() : nullptr, err);
    });
    ServerHandles = std::move(handles);
    Errors = std::move(errors);
  }

  std::int32_t Count() override {
    std::int32_t count = 0;
    Check("Count", [&](ravolin_opc_error* err) { return lib_->Api().items_count(h_, &count, err); });
    return count;
  }

 private:
  std::shared_ptr<AutomationLibrary> lib_;
  ravolin_opc_items* h_;
};

// Receives the library's DataChange callbacks for one group.
struct EventSink {
  std::recursive_mutex mutex;
  DataChangeHandler handler;

  static void Callback(void* context, int32_t transactionId, int32_t numItems,
                       const int32_t* clientHandles, const ravolin_opc_value* values,
                       const int32_t* qualities, const double* timeStamps) {
    auto* sink = static_cast<EventSink*>(context);
    DataChangeEvent event;
    event.TransactionID = transactionId;
    event.NumItems = numItems;
    for (int32_t i = 0; i < numItems; ++i) {
      if (clientHandles) event.ClientHandles.push_back(clientHandles[i]);
      if (values) event.ItemValues.push_back(FromAbi(values[i]));
      if (qualities) event.Qualities.push_back(qualities[i]);
      if (timeStamps) event.TimeStamps.push_back(Date{timeStamps[i]});
    }
    std::lock_guard lock(sink->mutex);
    if (sink->handler) sink->handler(event);
  }
};

class LibGroup : public OPCGroup {
 public:
  LibGroup(std::shared_ptr<AutomationLibrary> lib, ravolin_opc_group* h) : lib_(std::move(lib)), h_(h) {}
  ~LibGroup() override {
    if (advised_) {
      ravolin_opc_error err{};
      lib_->Api().group_set_data_change(h_, nullptr, nullptr, &err);
    }
    lib_->Api().group_release(h_);
  }

  std::shared_ptr<opcda::OPCItems> OPCItems() override {
    auto* items = Object<ravolin_opc_items>(
        "OPCItems", [&](ravolin_opc_error* err) { return lib_->Api().group_items(h_, err); });
    return std::make_shared<LibItems>(lib_, items);
  }

  void IsSubscribed(bool value) override {
    Check("IsSubscribed", [&](ravolin_opc_error* err) {
      return lib_->Api().group_set_subscribed(h_, value ? 1 : 0, err);
    });
  }

  void SyncWrite(std::int32_t NumItems, const std::vector<std::int32_t>& ServerHandles,
                 const std::vector<Variant>& Values, std::vector<std::int32_t>& Errors) override {
    RequireCount(NumItems, std::min(ServerHandles.size(), Values.size()));
    const auto n = static_cast<std::size_t>(NumItems);
    std::vector<ravolin_opc_value> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = ToAbi(Values[i]);
    std::vector<std::int32_t> errors(n);
    Check("SyncWrite", [&](ravolin_opc_error* err) {
      return lib_->Api().group_sync_write(h_, NumItems, ServerHandles.data(), values.data(),
                                          errors.data(), err);
    });
    Errors = std::move(errors);
  }

  void ConnectDataChange(DataChangeHandler handler) override {
    {
      std::lock_guard lock(sink_->mutex);
      sink_->handler = std::move(handler);
    }
    if (!advised_) {
      Check("DataChange", [&](ravolin_opc_error* err) {
        return lib_->Api().group_set_data_change(h_, &EventSink::Callback, sink_.get(), err);
      });
      advised_ = true;
    }
  }

 private:
  std::shared_ptr<AutomationLibrary> lib_;
  ravolin_opc_group* h_;
  std::unique_ptr<EventSink> sink_ = std::make_unique<EventSink>();
  bool advised_ = false;
};

class LibGroups : public OPCGroups {
 public:
  LibGroups(std::shared_ptr<AutomationLibrary> lib, ravolin_opc_groups* h) : lib_(std::move(lib)), h_(h) {}
  ~LibGroups() override { lib_->Api().groups_release(h_); }

  void DefaultGroupIsActive(bool value) override {
    Check("DefaultGroupIsActive", [&](ravolin_opc_error* err) {
      return lib_->Api().groups_set_default_active(h_, value ? 1 : 0, err);
    });
  }

  std::shared_ptr<OPCGroup> Add(const std::string& Name) override {
    auto* group = Object<ravolin_opc_group>("Add", [&](ravolin_opc_error* err) {
      return lib_->Api().groups_add(h_, Name.c_str(), err);
    });
    return std::make_shared<LibGroup>(lib_, group);
  }

  void RemoveAll() override {
    Check("RemoveAll", [&](ravolin_opc_error* err) { return lib_->Api().groups_remove_all(h_, err); });
  }

 private:
  std::shared_ptr<AutomationLibrary> lib_;
  ravolin_opc_groups* h_;
};

class LibServer : public OPCServer {
 public:
  LibServer(std::shared_ptr<AutomationLibrary> lib, ravolin_opc_server* h) : lib_(std::move(lib)), h_(h) {}
  ~LibServer() override { lib_->Api().server_release(h_); }

  void Connect(const std::string& ProgID, const std::string& Node) override {
    Check("Connect", [&](ravolin_opc_error* err) {
      return lib_->Api().server_connect(h_, ProgID.c_str(), Node.c_str(), err);
    });
  }

  std::shared_ptr<opcda::OPCGroups> OPCGroups() override {
    auto* groups = Object<ravolin_opc_groups>(
        "OPCGroups", [&](ravolin_opc_error* err) { return lib_->Api().server_groups(h_, err); });
    return std::make_shared<LibGroups>(lib_, groups);
  }

  Date LastUpdateTime() override {
    double date = 0;
    Check("LastUpdateTime", [&](ravolin_opc_error* err) {
      return lib_->Api().server_last_update_time(h_, &date, err);
    });
    return Date{date};
  }

  std::int32_t ServerState() override {
    std::int32_t state = 0;
    Check("ServerState", [&](ravolin_opc_error* err) { return lib_->Api().server_state(h_, &state, err); });
    return state;
  }

  void Disconnect() override {
    Check("Disconnect", [&](ravolin_opc_error* err) { return lib_->Api().server_disconnect(h_, err); });
  }

 private:
  std::shared_ptr<AutomationLibrary> lib_;
  ravolin_opc_server* h_;
};

}  // namespace

std::shared_ptr<OPCServer> AutomationLibrary::NewServerObject() {
  // The wrappers keep the library object alive; it is never unloaded anyway.
  auto self = std::make_shared<AutomationLibrary>(*this);
  auto* server = Object<ravolin_opc_server>(
      "server creation", [&](ravolin_opc_error* err) { return api_->server_create(err); });
  return std::make_shared<LibServer>(std::move(self), server);
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

LibraryLoader::Places LibraryLoader::ProgramPlaces() {
  Places places;
  if (const char* path = std::getenv("RAVOLIN_OPC_LIBRARY"); path && *path) {
    places.explicitPath = path;
    return places;
  }
  places.folders.push_back(ProgramFolder());
  return places;
}

std::shared_ptr<AutomationLibrary> LibraryLoader::Open(const std::string& what, bool mustExist) {
  dlerror();
  void* handle = dlopen(what.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    const std::string text = reason ? reason : "unknown reason";
    if (!mustExist && text.find("No such file or directory") != std::string::npos) return nullptr;
    throw OpcError("The OPC DA automation library " + what + " could not be loaded: " + text,
                   kErrorModuleNotFound);
  }
  auto entry = reinterpret_cast<ravolin_opc_entry_fn>(dlsym(handle, RAVOLIN_OPC_ENTRY_POINT));
  const ravolin_opc_api* api = entry ? entry() : nullptr;
  std::string problem;
  if (!entry) {
    problem = "does not provide the entry point " RAVOLIN_OPC_ENTRY_POINT;
  } else if (!api) {
    problem = "returned no function table";
  } else if (api->abi_version != RAVOLIN_OPC_ABI_VERSION || api->size < sizeof(ravolin_opc_api)) {
    problem = "provides interface version " + std::to_string(api->abi_version) +
              " (table of " + std::to_string(api->size) + " bytes); ravolin needs version " +
              std::to_string(RAVOLIN_OPC_ABI_VERSION);
  }
  if (!problem.empty()) {
    dlclose(handle);
    throw OpcError("The OPC DA automation library " + what + " " + problem + ".",
                   kErrorModuleNotFound);
  }
  // Deliberately never unloaded: callbacks and objects may still point into it.
  return std::make_shared<AutomationLibrary>(what, api);
}

std::shared_ptr<AutomationLibrary> LibraryLoader::Load() {
  std::lock_guard lock(mutex_);
  if (loaded_) return loaded_;
  if (!places_.explicitPath.empty()) {
    loaded_ = Open(places_.explicitPath, true);
    return loaded_;
  }
  std::string searched;
  for (const auto& folder : places_.folders) {
    const std::string path = folder + "/" + places_.fileName;
    if (access(path.c_str(), F_OK) == 0) {
      loaded_ = Open(path, true);
      return loaded_;
    }
    searched += (searched.empty() ? "" : ", ") + folder;
  }
  if (places_.libraryPath && places_.fileName.find('/') == std::string::npos) {
    loaded_ = Open(places_.fileName, false);
    if (loaded_) return loaded_;
  }
  std::string where = searched.empty() ? "" : "in " + searched;
  if (places_.libraryPath) where += std::string(where.empty() ? "" : " or ") + "on the library path";
  throw OpcError("The OPC DA automation library " + places_.fileName + " was not found " + where +
                     ".",
                 kErrorModuleNotFound);
}

}  // namespace opcda
