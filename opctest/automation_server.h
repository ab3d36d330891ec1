// The server object ravolin creates: it reaches the simulated server when
// asked for the simulation's own ProgID and the OPC DA automation library for
// every other ProgID. The choice is made by ProgID alone, never by falling
// back from one to the other.
#pragma once

#include <memory>

#include "opctest/automation_library.h"
#include "opctest/sim_server.h"

namespace opcda {

class AutomationServer : public OPCServer {
 public:
  // `sim` may be null (no simulation registered).
  AutomationServer(std::shared_ptr<SimServer> sim, std::shared_ptr<LibraryLoader> loader)
      : sim_(std::move(sim)), loader_(std::move(loader)) {}

  void Connect(const std::string& ProgID, const std::string& Node) override;
  std::shared_ptr<opcda::OPCGroups> OPCGroups() override;
  Date LastUpdateTime() override;
  std::int32_t ServerState() override;
  void Disconnect() override;

 private:
  OPCServer& Target();

  std::shared_ptr<SimServer> sim_;
  std::shared_ptr<LibraryLoader> loader_;
  std::shared_ptr<OPCServer> target_;
};

// A factory of such server objects.
ServerFactory AutomationServerFactory(std::shared_ptr<SimServer> sim,
                                      std::shared_ptr<LibraryLoader> loader);

}  // namespace opcda
