// The loader of OPC DA automation libraries, and the object model over the C
// entry point, against the simulated server built as such a library.
#include "opctest/automation_library.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "helpers.h"
#include "opctest/sim_server.h"

namespace {

namespace fs = std::filesystem;
using opcda::LibraryLoader;
using opcda::OpcError;
using ravolin_test::DescriptionOf;
using ravolin_test::TempFolder;

// The ProgID the simulation built as a library answers to.
const char* const kLibraryProgID = "Ravolin.LibrarySimulation.1";

std::string Control(const std::string& line) {
  void* handle = dlopen(RAVOLIN_OPCSIM_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(handle, nullptr);
  using Fn = int32_t (*)(const char*, char*, size_t);
  auto control = reinterpret_cast<Fn>(dlsym(handle, "ravolin_opcsim_control"));
  char reply[512] = {};
  EXPECT_EQ(control(line.c_str(), reply, sizeof reply), 0) << reply;
  dlclose(handle);
  return reply;
}

TEST(LibraryLoader, SaysWhereItLookedWhenTheLibraryIsMissing) {
  TempFolder folder;
  LibraryLoader loader({{folder.Path()}, true, RAVOLIN_OPC_LIBRARY_NAME, ""});
  try {
    loader.Load();
    FAIL() << "loaded a library that is not there";
  } catch (const OpcError& e) {
    EXPECT_EQ(e.Description(), "The OPC DA automation library libvopcdaauto.so was not found in " +
                                   folder.Path() + " or on the library path.");
    EXPECT_EQ(e.Number(), opcda::kErrorModuleNotFound);
  }
  LibraryLoader nowhere({{}, true, RAVOLIN_OPC_LIBRARY_NAME, ""});
  EXPECT_EQ(DescriptionOf([&] { nowhere.Load(); }),
            "The OPC DA automation library libvopcdaauto.so was not found on the library path.");
}

TEST(LibraryLoader, FindsTheLibraryBesideTheProgram) {
  TempFolder empty, beside;
  const std::string copy = beside.Path() + "/" RAVOLIN_OPC_LIBRARY_NAME;
  fs::copy_file(RAVOLIN_OPCSIM_LIBRARY, copy);
  LibraryLoader loader({{empty.Path(), beside.Path()}, true, RAVOLIN_OPC_LIBRARY_NAME, ""});
  const auto library = loader.Load();
  EXPECT_EQ(library->Path(), copy);
  EXPECT_EQ(loader.Load(), library) << "loaded once";
  EXPECT_EQ(library->Api().abi_version, static_cast<uint32_t>(RAVOLIN_OPC_ABI_VERSION));
}

TEST(LibraryLoader, ReportsLibrariesThatCannotServe) {
  TempFolder folder;
  const std::string broken = folder.Path() + "/" RAVOLIN_OPC_LIBRARY_NAME;
  std::ofstream(broken) << "not a library";
  LibraryLoader brokenLoader({{folder.Path()}, true, RAVOLIN_OPC_LIBRARY_NAME, ""});
  const std::string text = DescriptionOf([&] { brokenLoader.Load(); });
  EXPECT_EQ(text.rfind("The OPC DA automation library " + broken + " could not be loaded: ", 0), 0u)
      << text;

  LibraryLoader foreign({{}, true, "", "libm.so.6"});
  EXPECT_EQ(DescriptionOf([&] { foreign.Load(); }),
            "The OPC DA automation library libm.so.6 does not provide the entry point "
            "ravolin_opc_automation.");

  LibraryLoader missing({{}, true, "", folder.Path() + "/nothing.so"});
  EXPECT_NE(DescriptionOf([&] { missing.Load(); }).find("could not be loaded"), std::string::npos);
}

// The whole object model across the C entry point.
TEST(AutomationLibrary, CarriesTheObjectModelAcrossTheEntryPoint) {
  LibraryLoader loader({{}, false, "", RAVOLIN_OPCSIM_LIBRARY});
  auto library = loader.Load();

  auto wrong = library->NewServerObject();
  const std::string refused = DescriptionOf([&] { wrong->Connect("OPC.KorvateHMI.Qelto", ""); });
  EXPECT_EQ(refused, "No OPC server is registered as \"OPC.KorvateHMI.Qelto\".");
  try {
    wrong->Connect("OPC.KorvateHMI.Qelto", "");
  } catch (const OpcError& e) {
    EXPECT_EQ(e.Number(), opcda::kErrorClassNotRegistered);
  }

  Control("state 1");
  Control("set VAR_1 0");
  auto server = library->NewServerObject();
  server->Connect(kLibraryProgID, "localhost");
  EXPECT_EQ(server->ServerState(), 1);
  EXPECT_EQ(server->LastUpdateTime(), opcda::Date{});
  auto groups = server->OPCGroups();
  groups->DefaultGroupIsActive(true);
  auto group = groups->Add("LibGroup");
  std::vector<opcda::DataChangeEvent> events;
  group->ConnectDataChange([&](const opcda::DataChangeEvent& e) { events.push_back(e); });
  auto items = group->OPCItems();
  std::vector<std::int32_t> handles, errors;
  const std::vector<std::string> paths(3, "");
  const std::vector<std::int16_t> types(3, 8);
  items->AddItems(3, {"VAR_1", "VAR_2", "NOPE"}, {1, 2, 3}, handles, errors, &types, &paths);
  EXPECT_EQ(errors, (std::vector<std::int32_t>{0, 0, opcda::kErrorUnknownItemId}));
  EXPECT_EQ(handles[2], 0);
  EXPECT_EQ(items->Count(), 2);
  group->IsSubscribed(true);

  group->SyncWrite(2, {handles[0], handles[1]}, {std::string("Grüße"), 2.5}, errors);
  EXPECT_EQ(errors, (std::vector<std::int32_t>{0, 0}));
  EXPECT_NE(Control("show").find("state 1 VAR_1=\"Grüße\" VAR_2=2.5 "), std::string::npos);

  Control("notify VAR_2=true VAR_1=null VAR_5=3");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].NumItems, 2);
  EXPECT_EQ(events[0].ClientHandles, (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(events[0].ItemValues, (std::vector<opcda::Variant>{true, opcda::Null{}}));
  EXPECT_EQ(events[0].Qualities, (std::vector<std::int32_t>{192, 192}));
  EXPECT_NE(server->LastUpdateTime(), opcda::Date{});

  group->ConnectDataChange(nullptr);
  Control("set VAR_1 1");
  EXPECT_EQ(events.size(), 1u) << "a disconnected event stays quiet";

  Control("fail RemoveAll Entfernen abgelehnt");
  EXPECT_EQ(DescriptionOf([&] { groups->RemoveAll(); }), "Entfernen abgelehnt");
  groups->RemoveAll();
  EXPECT_EQ(DescriptionOf([&] { group->SyncWrite(1, {handles[0]}, {std::int64_t{1}}, errors); }),
            "The group \"LibGroup\" has been removed from the OPC server.");
  server->Disconnect();
  EXPECT_EQ(DescriptionOf([&] { server->ServerState(); }),
            "The server object is not connected to the OPC server.");
  EXPECT_EQ(DescriptionOf([&] { group->SyncWrite(5, {handles[0]}, {std::int64_t{1}}, errors); }),
            "The number of items does not match the arrays passed.");
}

}  // namespace
