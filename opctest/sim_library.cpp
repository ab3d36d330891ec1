// The simulated server offered as an OPC DA automation library through the C
// entry point of opc_automation_abi.h, answering to the ProgID
// "Ravolin.LibrarySimulation.1": a working example for whoever binds a
// real OPC DA library to ravolin, and the counterpart of the loader's tests.
//
// Besides the entry point it exports
//     int32_t ravolin_opcsim_control(const char* line, char* reply, size_t size);
// which runs one control line of the simulation (see sim_control.h) and
// returns 0, or non-zero with the description in `reply`.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opctest/abi_values.h"
#include "opctest/opc_automation_abi.h"
#include "opctest/sim_control.h"
#include "opctest/sim_server.h"

using namespace opcda;

struct ravolin_opc_server {
  std::shared_ptr<OPCServer> object;
};
struct ravolin_opc_groups {
  std::shared_ptr<OPCGroups> object;
};
struct ravolin_opc_group {
  std::shared_ptr<OPCGroup> object;
};
struct ravolin_opc_items {
  std::shared_ptr<OPCItems> object;
};

namespace {

// Its own ProgID, so that ravolin reaches this library beside its built-in
// simulation.
constexpr const char* kLibraryProgID = "Ravolin.LibrarySimulation.1";

std::shared_ptr<SimServer> TheSim() {
  static std::once_flag once;
  static std::shared_ptr<SimServer> sim;
  std::call_once(once, [] { sim = SimServer::Create(LocalNow, kLibraryProgID); });
  return sim;
}

void Describe(ravolin_opc_error* err, const std::string& text, std::int32_t number) {
  if (!err) return;
  err->number = number;
  std::strncpy(err->description, text.c_str(), sizeof err->description - 1);
  err->description[sizeof err->description - 1] = '\0';
}

// Runs a member and turns its exception into the status the entry point returns.
template <class F>
std::int32_t Guard(ravolin_opc_error* err, F f) {
  try {
    f();
    return 0;
  } catch (const OpcError& e) {
    Describe(err, e.Description(), e.Number());
    return e.Number() != 0 ? e.Number() : OpcError::kUnspecified;
  } catch (const std::exception& e) {
    Describe(err, e.what(), OpcError::kUnspecified);
    return OpcError::kUnspecified;
  }
}

template <class T, class F>
T* GuardObject(ravolin_opc_error* err, F f) {
  T* result = nullptr;
  Guard(err, [&] { result = new T{f()}; });
  return result;
}

ravolin_opc_server* ServerCreate(ravolin_opc_error* err) {
  return GuardObject<ravolin_opc_server>(err, [] { return TheSim()->NewServerObject(); });
}
void ServerRelease(ravolin_opc_server* s) { delete s; }
int32_t ServerConnect(ravolin_opc_server* s, const char* progId, const char* node,
                      ravolin_opc_error* err) {
  return Guard(err, [&] { s->object->Connect(progId ? progId : "", node ? node : ""); });
}
ravolin_opc_groups* ServerGroups(ravolin_opc_server* s, ravolin_opc_error* err) {
  return GuardObject<ravolin_opc_groups>(err, [&] { return s->object->OPCGroups(); });
}
int32_t ServerLastUpdateTime(ravolin_opc_server* s, double* date, ravolin_opc_error* err) {
  return Guard(err, [&] { *date = s->object->LastUpdateTime().value; });
}
int32_t ServerState(ravolin_opc_server* s, int32_t* state, ravolin_opc_error* err) {
  return Guard(err, [&] { *state = s->object->ServerState(); });
}
int32_t ServerDisconnect(ravolin_opc_server* s, ravolin_opc_error* err) {
  return Guard(err, [&] { s->object->Disconnect(); });
}

void GroupsRelease(ravolin_opc_groups* g) { delete g; }
int32_t GroupsSetDefaultActive(ravolin_opc_groups* g, int32_t active, ravolin_opc_error* err) {
  return Guard(err, [&] { g->object->DefaultGroupIsActive(active != 0); });
}
ravolin_opc_group* GroupsAdd(ravolin_opc_groups* g, const char* name, ravolin_opc_error* err) {
  return GuardObject<ravolin_opc_group>(err, [&] { return g->object->Add(name ? name : ""); });
}
int32_t GroupsRemoveAll(ravolin_opc_groups* g, ravolin_opc_error* err) {
  return Guard(err, [&] { g->object->RemoveAll(); });
}

void GroupRelease(ravolin_opc_group* g) { delete g; }
ravolin_opc_items* GroupItems(ravolin_opc_group* g, ravolin_opc_error* err) {
  return GuardObject<ravolin_opc_items>(err, [&] { return g->object->OPCItems(); });
}
int32_t GroupSetSubscribed(ravolin_opc_group* g, int32_t subscribed, ravolin_opc_error* err) {
  return Guard(err, [&] { g->object->IsSubscribed(subscribed != 0); });
}
int32_t GroupSyncWrite(ravolin_opc_group* g, int32_t numItems, const int32_t* serverHandles,
                       const ravolin_opc_value* values, int32_t* errors, ravolin_opc_error* err) {
  return Guard(err, [&] {
    const auto n = static_cast<std::size_t>(numItems < 0 ? 0 : numItems);
    std::vector<std::int32_t> handles(serverHandles, serverHandles + n);
    std::vector<Variant> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(FromAbi(values[i]));
    std::vector<std::int32_t> result;
    g->object->SyncWrite(numItems, handles, items, result);
    std::copy(result.begin(), result.end(), errors);
  });
}
int32_t GroupSetDataChange(ravolin_opc_group* g, ravolin_opc_data_change_fn callback,
                           void* context, ravolin_opc_error* err) {
  return Guard(err, [&] {
    if (!callback) {
      g->object->ConnectDataChange(nullptr);
      return;
    }
    g->object->ConnectDataChange([callback, context](const DataChangeEvent& e) {
      std::vector<ravolin_opc_value> values;
      for (const auto& v : e.ItemValues) values.push_back(ToAbi(v));
      std::vector<double> stamps;
      for (const auto& d : e.TimeStamps) stamps.push_back(d.value);
      callback(context, e.TransactionID, static_cast<int32_t>(e.ClientHandles.size()),
               e.ClientHandles.data(), values.data(), e.Qualities.data(), stamps.data());
    });
  });
}

void ItemsRelease(ravolin_opc_items* i) { delete i; }
int32_t ItemsAdd(ravolin_opc_items* i, int32_t numItems, const char* const* itemIds,
                 const int32_t* clientHandles, int32_t* serverHandles, int32_t* errors,
                 const int16_t* requestedTypes, const char* const* accessPaths,
                 ravolin_opc_error* err) {
  return Guard(err, [&] {
    const auto n = static_cast<std::size_t>(numItems < 0 ? 0 : numItems);
    std::vector<std::string> ids(itemIds, itemIds + n);
    std::vector<std::int32_t> handles(clientHandles, clientHandles + n);
    std::vector<std::int16_t> types;
    if (requestedTypes) types.assign(requestedTypes, requestedTypes + n);
    std::vector<std::string> paths;
    if (accessPaths) paths.assign(accessPaths, accessPaths + n);
    std::vector<std::int32_t> serverResult, errorResult;
    i->object->AddItems(numItems, ids, handles, serverResult, errorResult,
                        requestedTypes ? &types : nullptr, accessPaths ? &paths : nullptr);
    std::copy(serverResult.begin(), serverResult.end(), serverHandles);
    std::copy(errorResult.begin(), errorResult.end(), errors);
  });
}
int32_t ItemsCount(ravolin_opc_items* i, int32_t* count, ravolin_opc_error* err) {
  return Guard(err, [&] { *count = i->object->Count(); });
}

const ravolin_opc_api kApi = {
    RAVOLIN_OPC_ABI_VERSION, sizeof(ravolin_opc_api),
    ServerCreate, ServerRelease, ServerConnect, ServerGroups, ServerLastUpdateTime, ServerState,
    ServerDisconnect,
    GroupsRelease, GroupsSetDefaultActive, GroupsAdd, GroupsRemoveAll,
    GroupRelease, GroupItems, GroupSetSubscribed, GroupSyncWrite, GroupSetDataChange,
    ItemsRelease, ItemsAdd, ItemsCount,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ravolin_opc_api* ravolin_opc_automation(
    void) {
  return &kApi;
}

extern "C" __attribute__((visibility("default"))) int32_t ravolin_opcsim_control(
    const char* line, char* reply, size_t size) {
  std::string text;
  std::int32_t rc = 0;
  try {
    text = RunSimCommand(*TheSim(), line ? line : "");
  } catch (const std::exception& e) {
    text = e.what();
    rc = 1;
  }
  if (reply && size > 0) {
    std::strncpy(reply, text.c_str(), size - 1);
    reply[size - 1] = '\0';
  }
  return rc;
}
