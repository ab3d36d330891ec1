#include "opctest/automation_server.h"

#include <strings.h>

namespace opcda {

void AutomationServer::Connect(const std::string& ProgID, const std::string& Node) {
  if (target_) {
    // Lets the backend say what it says to a second Connect.
    target_->Connect(ProgID, Node);
    return;
  }
  std::shared_ptr<OPCServer> target;
  if (sim_ && strcasecmp(ProgID.c_str(), sim_->ProgID().c_str()) == 0) {
    target = sim_->NewServerObject();
  } else {
    try {
      target = loader_->Load()->NewServerObject();
    } catch (const OpcError& e) {
      if (!sim_ || e.Number() != kErrorModuleNotFound) throw;
      // Someone trying the program without a library learns where the
      // simulation is; it is still not used in the library's place.
      throw OpcError(e.Description() + " The simulated server answers to the ProgID " +
                         sim_->ProgID() + ".",
                     e.Number());
    }
  }
  target->Connect(ProgID, Node);
  target_ = std::move(target);
}

OPCServer& AutomationServer::Target() {
  if (!target_) {
    throw OpcError("The server object is not connected to an OPC server.", kErrorNotConnected);
  }
  return *target_;
}

std::shared_ptr<opcda::OPCGroups> AutomationServer::OPCGroups() { return Target().OPCGroups(); }
Date AutomationServer::LastUpdateTime() { return Target().LastUpdateTime(); }
std::int32_t AutomationServer::ServerState() { return Target().ServerState(); }
void AutomationServer::Disconnect() { Target().Disconnect(); }

ServerFactory AutomationServerFactory(std::shared_ptr<SimServer> sim,
                                      std::shared_ptr<LibraryLoader> loader) {
  return [sim, loader] { return std::make_shared<AutomationServer>(sim, loader); };
}

}  // namespace opcda
