// The simulated server through the object model, as any client sees it.
#include "opctest/sim_server.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "helpers.h"
#include "opctest/sim_control.h"

namespace {

using opcda::DataChangeEvent;
using opcda::OpcError;
using opcda::SimOperation;
using opcda::SimServer;
using opcda::Variant;
using ravolin_test::DescriptionOf;

const opcda::Date kNow = opcda::DateFromCivil({2024, 3, 12, 14, 5, 33});

// A client connected the way ravolin connects: one group with the six items.
class SimClient : public ::testing::Test {
 protected:
  void Connect(const std::string& group = "MyGroup") {
    server = sim->NewServerObject();
    server->Connect(SimServer::kProgID, "127.0.0.1");
    groups = server->OPCGroups();
    groups->DefaultGroupIsActive(true);
    this->group = groups->Add(group);
    this->group->ConnectDataChange([this](const DataChangeEvent& e) { events.push_back(e); });
    items = this->group->OPCItems();
    items->AddItems(6, SimServer::ItemIDs(), {1, 2, 3, 4, 5, 6}, serverHandles, errors);
    this->group->IsSubscribed(true);
  }

  std::shared_ptr<SimServer> sim = SimServer::Create([] { return kNow; });
  std::shared_ptr<opcda::OPCServer> server;
  std::shared_ptr<opcda::OPCGroups> groups;
  std::shared_ptr<opcda::OPCGroup> group;
  std::shared_ptr<opcda::OPCItems> items;
  std::vector<std::int32_t> serverHandles, errors;
  std::vector<DataChangeEvent> events;
};

TEST_F(SimClient, AnswersOnlyToItsOwnProgIdAndThisComputer) {
  auto s = sim->NewServerObject();
  EXPECT_EQ(DescriptionOf([&] { s->Connect("OPC.KorvateHMI.Qelto", ""); }),
            "No OPC server is registered as \"OPC.KorvateHMI.Qelto\".");
  EXPECT_EQ(DescriptionOf([&] { s->Connect(SimServer::kProgID, "192.0.2.7"); }),
            "The simulated OPC server runs on this computer only; the node \"192.0.2.7\" cannot "
            "be reached.");
  EXPECT_EQ(DescriptionOf([&] { s->OPCGroups(); }),
            "The server object is not connected to the OPC server.");
  EXPECT_EQ(sim->ConnectedClients(), 0);
  for (const char* node : {"", "localhost", "127.0.0.1"}) {
    auto ok = sim->NewServerObject();
    ok->Connect("ravolin.simulation.1", node);  // ProgIDs ignore case
  }
}

TEST_F(SimClient, AddsItemsAndRefusesUnknownOnes) {
  Connect();
  EXPECT_EQ(items->Count(), 6);
  EXPECT_EQ(errors, std::vector<std::int32_t>(6, 0));
  EXPECT_EQ(std::count(serverHandles.begin(), serverHandles.end(), 0), 0);

  std::vector<std::int32_t> handles, errs;
  items->AddItems(2, {"VAR_7", "VAR_1"}, {7, 8}, handles, errs);
  EXPECT_EQ(handles[0], 0);
  EXPECT_EQ(errs[0], opcda::kErrorUnknownItemId);
  EXPECT_NE(handles[1], 0);
  EXPECT_EQ(errs[1], 0);
  EXPECT_EQ(items->Count(), 7);
  EXPECT_EQ(DescriptionOf([&] { items->AddItems(3, {"VAR_1"}, {1}, handles, errs); }),
            "The number of items does not match the arrays passed.");
}

TEST_F(SimClient, RecordsWritesAndReportsBadHandlesPerItem) {
  Connect();
  std::vector<std::int32_t> errs;
  group->SyncWrite(2, {serverHandles[4], 99999}, {std::string("x"), std::int64_t{5}}, errs);
  EXPECT_EQ(errs, (std::vector<std::int32_t>{0, opcda::kErrorInvalidHandle}));
  ASSERT_EQ(sim->Writes().size(), 1u);
  EXPECT_EQ(sim->Writes()[0].ItemIDs, std::vector<std::string>{"VAR_5"});
  EXPECT_EQ(sim->Value("VAR_5"), Variant(std::string("x")));
  EXPECT_TRUE(events.empty()) << "writes are not echoed unless asked";
}

TEST_F(SimClient, NotifiesSubscribedGroupsInTheOrderGiven) {
  Connect();
  sim->Notify({{"VAR_3", std::string("7")}, {"VAR_1", 2.5}});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].NumItems, 2);
  EXPECT_EQ(events[0].ClientHandles, (std::vector<std::int32_t>{3, 1}));
  EXPECT_EQ(events[0].ItemValues, (std::vector<Variant>{std::string("7"), 2.5}));
  EXPECT_EQ(events[0].Qualities, (std::vector<std::int32_t>{192, 192}));
  EXPECT_EQ(server->LastUpdateTime(), kNow);

  group->IsSubscribed(false);
  sim->SetValue("VAR_2", std::int64_t{1});
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(DescriptionOf([&] { sim->SetValue("VAR_9", std::int64_t{1}); }),
            "The simulated server has no item \"VAR_9\".");
}

TEST_F(SimClient, EchoesWritesAndSendsInitialValuesWhenAsked) {
  sim->SetInitialUpdate(true);
  sim->SetEchoWrites(true);
  sim->SetValue("VAR_1", std::int64_t{5});
  Connect();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].NumItems, 6);
  EXPECT_EQ(events[0].ItemValues[0], Variant(std::int64_t{5}));

  std::vector<std::int32_t> errs;
  group->SyncWrite(2, {serverHandles[0], serverHandles[1]},
                   {std::int64_t{5}, std::string("new")}, errs);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].ClientHandles, std::vector<std::int32_t>{2}) << "only what changed";
}

TEST_F(SimClient, RemoveAllAndDisconnectEndTheGroup) {
  Connect();
  groups->RemoveAll();
  std::vector<std::int32_t> errs;
  EXPECT_EQ(DescriptionOf([&] { group->SyncWrite(1, {serverHandles[0]}, {std::int64_t{1}}, errs); }),
            "The group \"MyGroup\" has been removed from the OPC server.");
  sim->SetValue("VAR_1", std::int64_t{3});
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(sim->ConnectedClients(), 1);
  server->Disconnect();
  EXPECT_EQ(sim->ConnectedClients(), 0);
  EXPECT_EQ(DescriptionOf([&] { server->Disconnect(); }),
            "The server object is not connected to the OPC server.");
}

TEST_F(SimClient, ReleasingEveryObjectEndsTheConnection) {
  Connect();
  EXPECT_EQ(sim->ConnectedClients(), 1);
  server.reset();
  EXPECT_EQ(sim->ConnectedClients(), 1) << "the group still holds the connection";
  items.reset();
  group.reset();
  groups.reset();
  EXPECT_EQ(sim->ConnectedClients(), 0);
}

TEST_F(SimClient, FailsTheNextCallWhenTold) {
  Connect();
  sim->FailNext(SimOperation::SyncWrite, "Das Gerät antwortet nicht.");
  std::vector<std::int32_t> errs;
  EXPECT_EQ(DescriptionOf([&] { group->SyncWrite(1, {serverHandles[0]}, {std::int64_t{1}}, errs); }),
            "Das Gerät antwortet nicht.");
  group->SyncWrite(1, {serverHandles[0]}, {std::int64_t{1}}, errs);
  EXPECT_EQ(sim->Writes().size(), 1u);
  EXPECT_EQ(DescriptionOf([&] { groups->Add("MyGroup"); }),
            "A group named \"MyGroup\" already exists.");
}

TEST_F(SimClient, LogsEveryCallInOrder) {
  std::vector<std::string> lines;
  sim->SetLogSink([&](const std::string& line) { lines.push_back(line); });
  Connect();
  std::vector<std::int32_t> errs;
  group->SyncWrite(2, {serverHandles[0], serverHandles[4]}, {std::string("0"), std::string("")},
                   errs);
  sim->SetValue("VAR_2", std::string("a\"b"));
  groups->RemoveAll();
  server->Disconnect();
  const std::vector<std::string> expected = {
      "Connect \"Ravolin.Simulation.1\" \"127.0.0.1\"",
      "Add \"MyGroup\"",
      "AddItems VAR_1 VAR_2 VAR_3 VAR_4 VAR_5 VAR_6",
      "IsSubscribed true",
      "SyncWrite VAR_1=\"0\" VAR_5=\"\"",
      "DataChange \"MyGroup\" 2=\"a\\\"b\"",
      "RemoveAll",
      "Disconnect",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(sim->Calls(), expected);
}

// ---------------------------------------------------------------------------

struct ValueCase {
  const char* text;
  Variant value;
};

TEST(SimControl, ReadsEveryKindOfValue) {
  const ValueCase cases[] = {
      {"\"text with \\\"quotes\\\" and \\\\\"", std::string("text with \"quotes\" and \\")},
      {"\"\"", std::string("")},
      {"42", std::int64_t{42}},
      {"-7", std::int64_t{-7}},
      {"+7", std::int64_t{7}},
      {"2.5", 2.5},
      {"1e3", 1000.0},
      {"true", true},
      {"false", false},
      {"empty", std::monostate{}},
      {"null", opcda::Null{}},
      {"date(45363.5)", opcda::Date{45363.5}},
      {"abc", std::string("abc")},
  };
  for (const auto& c : cases) {
    Variant v;
    ASSERT_TRUE(opcda::ParseSimValue(c.text, v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    // What the log writes reads back as the same value.
    Variant again;
    ASSERT_TRUE(opcda::ParseSimValue(opcda::FormatSimValue(v), again)) << c.text;
    EXPECT_EQ(again, v) << c.text;
  }
  Variant v;
  EXPECT_FALSE(opcda::ParseSimValue("\"open", v));
  EXPECT_FALSE(opcda::ParseSimValue("\"bad \\q\"", v));
  EXPECT_FALSE(opcda::ParseSimValue("", v));
}

TEST(SimControl, DrivesTheSimulationLineByLine) {
  auto sim = SimServer::Create([] { return kNow; });
  EXPECT_EQ(opcda::RunSimCommand(*sim, "state 2"), "");
  EXPECT_EQ(sim->State(), 2);
  opcda::RunSimCommand(*sim, "set VAR_2 \"hello world\"");
  opcda::RunSimCommand(*sim, "notify VAR_3=1.5 VAR_4=\"a b\"");
  EXPECT_EQ(opcda::RunSimCommand(*sim, "show"),
            "state 2 VAR_1=0 VAR_2=\"hello world\" VAR_3=1.5 VAR_4=\"a b\" VAR_5=0 VAR_6=0");
  opcda::RunSimCommand(*sim, "fail SyncWrite  Schreiben abgelehnt ");
  opcda::RunSimCommand(*sim, "# a comment");
  opcda::RunSimCommand(*sim, "");

  auto server = sim->NewServerObject();
  server->Connect(SimServer::kProgID, "");
  auto group = server->OPCGroups()->Add("G");
  std::vector<std::int32_t> handles, errors;
  group->OPCItems()->AddItems(1, {"VAR_1"}, {1}, handles, errors);
  EXPECT_EQ(DescriptionOf([&] { group->SyncWrite(1, handles, {std::int64_t{1}}, errors); }),
            "Schreiben abgelehnt");

  for (const char* bad : {"state x", "set VAR_9 1", "notify VAR_1", "fail Nothing x", "jump",
                          "set VAR_1"}) {
    EXPECT_NE(DescriptionOf([&] { opcda::RunSimCommand(*sim, bad); }), "(no error)") << bad;
  }
}

}  // namespace
