// ravolin: a one-window test client for an OPC DA server. It watches and
// writes the six items VAR_1 to VAR_6 of one group.
//
// The server is reached through the OPC DA automation library
// (opc_automation_abi.h), or, for the ProgID "Ravolin.Simulation.1", through
// the simulated server built into the program (driven as sim_control.h says).
#include <QApplication>

#include <cstdio>

#include "opctest/automation_server.h"
#include "opctest/message_boxes.h"
#include "opctest/ravolin_window.h"
#include "opctest/sim_control.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ravolin"));

  opcda::SimSetup sim = opcda::SetUpSimFromEnvironment();
  for (const auto& problem : sim.problems) std::fprintf(stderr, "ravolin: %s\n", problem.c_str());
  auto loader = std::make_shared<opcda::LibraryLoader>(opcda::LibraryLoader::ProgramPlaces());

  ravolin::QtMessageBoxes boxes;
  ravolin::CRavolinWindow window(opcda::AutomationServerFactory(sim.sim, loader), boxes);
  window.show();
  return app.exec();
}
