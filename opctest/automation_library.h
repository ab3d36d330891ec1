// Loads an OPC DA automation library (see opc_automation_abi.h) and offers
// its server objects through the C++ object model.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opctest/opc_automation.h"
#include "opctest/opc_automation_abi.h"

namespace opcda {

// A loaded library. It stays loaded for the life of the process: objects and
// callbacks of it may outlive any one owner.
class AutomationLibrary {
 public:
  AutomationLibrary(std::string path, const ravolin_opc_api* api) : path_(std::move(path)), api_(api) {}
  const std::string& Path() const { return path_; }
  const ravolin_opc_api& Api() const { return *api_; }

  // A new, unconnected server object of the library.
  std::shared_ptr<OPCServer> NewServerObject();

 private:
  std::string path_;
  const ravolin_opc_api* api_;
};

// Finds and loads the library once; later calls return the loaded one.
class LibraryLoader {
 public:
  struct Places {
    // Folders searched first, in order (the program's own folder).
    std::vector<std::string> folders;
    // Whether the system's library path is searched after them.
    bool libraryPath = true;
    // The file looked for.
    std::string fileName = RAVOLIN_OPC_LIBRARY_NAME;
    // When set, this one file is used and nothing else is searched.
    std::string explicitPath;
  };

  explicit LibraryLoader(Places places) : places_(std::move(places)) {}

  // The places of the running program: its own folder, then the library
  // path; RAVOLIN_OPC_LIBRARY overrides both.
  static Places ProgramPlaces();

  // The library, or OpcError with a description of what was missing.
  std::shared_ptr<AutomationLibrary> Load();

 private:
  std::shared_ptr<AutomationLibrary> Open(const std::string& what, bool mustExist);

  Places places_;
  std::mutex mutex_;
  std::shared_ptr<AutomationLibrary> loaded_;
};

// The folder of the running program.
std::string ProgramFolder();

}  // namespace opcda
