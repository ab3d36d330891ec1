// Small helpers the ravolin tests share.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "opctest/opc_automation.h"

namespace ravolin_test {

// The description of the OpcError the call throws, or "(no error)".
inline std::string DescriptionOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const opcda::OpcError& e) {
    return e.Description();
  }
  return "(no error)";
}

// A folder of its own, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/ravolin-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ravolin_test
