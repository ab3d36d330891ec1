// Ravolin's window used as a person uses it, against the simulated server:
// what the boxes show and which writes reach the server.
#include "opctest/ravolin_window.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"
#include "opctest/automation_server.h"
#include "opctest/sim_server.h"

namespace {

using opcda::SimOperation;
using opcda::SimServer;
using opcda::Variant;
using ravolin::CRavolinWindow;
using Texts = std::vector<std::string>;

const opcda::Date kNow = opcda::DateFromCivil({2024, 3, 12, 14, 5, 33});
const char* const kNowText = "12.03.2024 14:05:33";

struct ShownBox {
  std::string title;
  std::string text;
  QMessageBox::Icon icon;
};

class RecordingBoxes : public ravolin::MessageBoxes {
 public:
  void Show(QWidget*, const QString& title, const QString& text, QMessageBox::Icon icon) override {
    shown.push_back({title.toStdString(), text.toStdString(), icon});
  }
  std::vector<ShownBox> shown;
};

class RavolinWindow : public ::testing::Test {
 protected:
  RavolinWindow() { MakeWindow(LibraryPlaces()); }

  opcda::LibraryLoader::Places LibraryPlaces() {
    return {{folder.Path()}, true, RAVOLIN_OPC_LIBRARY_NAME, ""};
  }

  // A window whose library is looked for at `places`; without the built-in
  // simulation when `withSim` is false.
  void MakeWindow(const opcda::LibraryLoader::Places& places, bool withSim = true) {
    window.reset();
    loader = std::make_shared<opcda::LibraryLoader>(places);
    window = std::make_unique<CRavolinWindow>(
        opcda::AutomationServerFactory(withSim ? sim : nullptr, loader), boxes);
    window->setLocale(QLocale(QLocale::German, QLocale::Germany));
    window->show();
  }

  QLineEdit* Box(const char* name) {
    auto* box = window->findChild<QLineEdit*>(QString::fromLatin1(name));
    EXPECT_NE(box, nullptr) << name;
    return box;
  }
  std::string Text(const char* name) { return Box(name)->text().toStdString(); }
  // Puts text into a box in one change, as pasting does.
  void Put(const char* name, const char* text) { Box(name)->setText(QString::fromUtf8(text)); }
  void Click(const char* name) {
    QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
  }
  static void Pump() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }

  void Connect() {
    Put("Server", SimServer::kProgID);
    Click("Start");
    Pump();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
    ASSERT_EQ(Text("Status"), "Client on");
    sim->ClearRecords();
  }

  // The texts of every write that reached the server, in order.
  std::vector<Texts> Written() {
    std::vector<Texts> all;
    for (const auto& write : sim->Writes()) {
      EXPECT_EQ(write.ItemIDs, SimServer::ItemIDs());
      Texts texts;
      for (const auto& v : write.Values) texts.push_back(std::get<std::string>(v));
      all.push_back(texts);
    }
    return all;
  }

  bool Called(const std::string& call) {
    const auto calls = sim->Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  ravolin_test::TempFolder folder;  // where no automation library is
  std::shared_ptr<SimServer> sim = SimServer::Create([] { return kNow; });
  std::shared_ptr<opcda::LibraryLoader> loader;
  RecordingBoxes boxes;
  std::unique_ptr<CRavolinWindow> window;
};

// --- The window as it opens -----------------------------------------------

struct ControlCase {
  const char* name;
  const char* kind;  // "label", "box" or "button"
  int left, top, width, height;  // twips
  const char* text;
};

TEST_F(RavolinWindow, OpensWithTheFormsControlsInPlace) {
  EXPECT_EQ(window->windowTitle(), "Ravolin");
  EXPECT_EQ(window->size(), QSize(480, 331));
  const ControlCase cases[] = {
      {"lbl_1", "label", 120, 480, 735, 255, "VAR 1"},
      {"lbl_2", "label", 120, 960, 735, 255, "VAR 2"},
      {"lbl_3", "label", 120, 1440, 735, 255, "VAR 3"},
      {"lbl_4", "label", 120, 1920, 735, 255, "VAR 4"},
      {"lbl_5", "label", 120, 2400, 735, 255, "VAR 5"},
      {"lbl_6", "label", 120, 2880, 735, 255, "VAR 6"},
      {"var1", "box", 1080, 360, 1215, 375, "0"},
      {"var2", "box", 1080, 840, 1215, 375, "0"},
      {"var3", "box", 1080, 1320, 1215, 375, "0"},
      {"var4", "box", 1080, 1800, 1215, 375, "0"},
      {"var5", "box", 1080, 2280, 1215, 375, ""},
      {"var6", "box", 1080, 2760, 1215, 375, ""},
      {"lblServer", "label", 4200, 480, 975, 255, "Server Name"},
      {"Server", "box", 5280, 360, 1455, 375, "OPC.KorvateHMI.Qelto"},
      {"lblNode", "label", 4200, 960, 975, 255, "Node Name"},
      {"Node", "box", 5280, 840, 1455, 375, "127.0.0.1"},
      {"lblGroup", "label", 4200, 1440, 975, 255, "Group Name"},
      {"Group", "box", 5280, 1320, 1455, 375, "MyGroup"},
      {"lblStatus", "label", 4200, 2160, 975, 255, "Status"},
      {"Status", "box", 5280, 2040, 1455, 375, "off"},
      {"lblTime", "label", 4200, 2640, 975, 255, "Update Time"},
      {"UTime", "box", 5280, 2520, 1455, 375, ""},
      {"lblCount", "label", 4200, 3120, 975, 255, "Item Count"},
      {"ICount", "box", 5280, 3000, 1455, 375, ""},
      {"lblState", "label", 4200, 3600, 975, 255, "Server State"},
      {"State", "box", 5280, 3480, 1455, 375, "0"},
      {"Start", "button", 480, 3960, 975, 375, "Start"},
      {"Stop", "button", 1800, 3960, 975, 375, "Stop"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* widget = window->findChild<QWidget*>(QString::fromLatin1(c.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
    QString text;
    if (std::string(c.kind) == "label") text = qobject_cast<QLabel*>(widget)->text();
    if (std::string(c.kind) == "box") {
      auto* box = qobject_cast<QLineEdit*>(widget);
      ASSERT_NE(box, nullptr);
      EXPECT_FALSE(box->isReadOnly()) << "every box is editable";
      text = box->text();
    }
    if (std::string(c.kind) == "button") text = qobject_cast<QPushButton*>(widget)->text();
    EXPECT_EQ(text.toStdString(), c.text);
  }
}

// --- Start ----------------------------------------------------------------

TEST_F(RavolinWindow, StartConnectsAndShowsTheServer) {
  Put("Server", SimServer::kProgID);
  Put("Group", "Prüfgruppe");
  Click("Start");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(Text("Status"), "Client on");
  EXPECT_EQ(Text("UTime"), "00:00:00") << "no update sent yet";
  EXPECT_EQ(Text("ICount"), "6");
  EXPECT_EQ(Text("State"), "1");
  EXPECT_EQ(sim->Calls(), (Texts{"Connect \"Ravolin.Simulation.1\" \"127.0.0.1\"",
                                 "Add \"Prüfgruppe\"",
                                 "AddItems VAR_1 VAR_2 VAR_3 VAR_4 VAR_5 VAR_6",
                                 "IsSubscribed true"}));
  EXPECT_EQ(sim->ConnectedClients(), 1);
  EXPECT_TRUE(Written().empty());
}

TEST_F(RavolinWindow, StartAgainMakesAFreshConnectionAndLetsTheOldOneGo) {
  Connect();
  Click("Start");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(sim->ConnectedClients(), 1);
  sim->SetValue("VAR_2", std::string("5"));
  Pump();
  EXPECT_EQ(Text("var2"), "5");
  EXPECT_EQ(Written().size(), 1u) << "only the new group is notified and writes";
}

struct WrongProgIdCase {
  const char* progId;
};

void PrintTo(const WrongProgIdCase& c, std::ostream* os) { *os << '"' << c.progId << '"'; }

class WrongProgId : public RavolinWindow, public ::testing::WithParamInterface<WrongProgIdCase> {};

TEST_P(WrongProgId, ShowsTheErrorBoxAndLeavesStatusAsItWas) {
  Put("Server", GetParam().progId);
  Click("Start");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "ERROR");
  EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.shown[0].text,
            "Error: The OPC DA automation library libvopcdaauto.so was not found in " +
                folder.Path() +
                " or on the library path. The simulated server answers to the ProgID "
                "Ravolin.Simulation.1.");
  EXPECT_EQ(Text("Status"), "off");
  EXPECT_EQ(Text("State"), "0");
  EXPECT_TRUE(sim->Calls().empty()) << "the simulation is never a fallback";

  // Still usable: the right ProgID connects.
  Put("Server", SimServer::kProgID);
  Click("Start");
  EXPECT_EQ(Text("Status"), "Client on");
}

INSTANTIATE_TEST_SUITE_P(Cases, WrongProgId,
                         ::testing::Values(WrongProgIdCase{"OPC.KorvateHMI.Qelto"},
                                           WrongProgIdCase{"Ravolin.Simulation.2"},
                                           WrongProgIdCase{" Ravolin.Simulation.1"},
                                           WrongProgIdCase{""}));

TEST_F(RavolinWindow, WithoutTheSimulationTheMissingLibraryIsAllThereIsToSay) {
  MakeWindow(LibraryPlaces(), false);
  Put("Server", SimServer::kProgID);
  Click("Start");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            "Error: The OPC DA automation library libvopcdaauto.so was not found in " +
                folder.Path() + " or on the library path.");
}

TEST_F(RavolinWindow, WrongProgIdWithTheLibraryPresentShowsTheLibrarysDescription) {
  MakeWindow({{}, false, "", RAVOLIN_OPCSIM_LIBRARY});
  Click("Start");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Error: No OPC server is registered as \"OPC.KorvateHMI.Qelto\".");
  EXPECT_EQ(Text("Status"), "off");
}

TEST_F(RavolinWindow, ConnectsThroughTheLibraryToo) {
  // Here the library is the simulation built as a library, with a ProgID
  // of its own.
  MakeWindow({{}, false, "", RAVOLIN_OPCSIM_LIBRARY});
  Put("Server", "Ravolin.LibrarySimulation.1");
  Click("Start");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(Text("Status"), "Client on");
  EXPECT_EQ(Text("ICount"), "6");
  EXPECT_TRUE(sim->Calls().empty());
  Click("Stop");
  EXPECT_EQ(Text("Status"), "Client off");
}

TEST_F(RavolinWindow, AFailureHalfwayThroughStartLeavesWhatWasMade) {
  sim->FailNext(SimOperation::AddItems, "Keine Items");
  Put("Server", SimServer::kProgID);
  Put("Status", "as before");
  Click("Start");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Error: Keine Items");
  EXPECT_EQ(Text("Status"), "as before");
  EXPECT_EQ(sim->ConnectedClients(), 1) << "neither released nor disconnected";
}

// --- Notifications --------------------------------------------------------

struct NotificationCase {
  const char* label;
  const char* item;
  Variant value;
  const char* box;
  Texts boxHistory;           // texts the box showed, the last one staying
  std::vector<Texts> writes;  // what reached the server
};

void PrintTo(const NotificationCase& c, std::ostream* os) { *os << c.label; }

class Notification : public RavolinWindow,
                     public ::testing::WithParamInterface<NotificationCase> {};

TEST_P(Notification, ShowsTheValueAndWritesAllSixBack) {
  const NotificationCase& c = GetParam();
  Connect();
  Texts history;
  QObject::connect(Box(c.box), &QLineEdit::textChanged,
                   [&](const QString& t) { history.push_back(t.toStdString()); });
  sim->SetValue(c.item, c.value);
  EXPECT_TRUE(history.empty()) << "delivered through the window's queue";
  Pump();
  // The box's own handler runs first and nests the "0", so the recorder
  // hears the texts in either order; the last one stays.
  EXPECT_TRUE(std::is_permutation(history.begin(), history.end(), c.boxHistory.begin(),
                                  c.boxHistory.end()))
      << ::testing::PrintToString(history);
  if (!c.boxHistory.empty()) {
    EXPECT_EQ(Text(c.box), c.boxHistory.back());
  }
  EXPECT_EQ(Written(), c.writes);
  EXPECT_EQ(Text("UTime"), kNowText);
  EXPECT_TRUE(boxes.shown.empty());
}

const Texts kZeros = {"0", "0", "0", "0", "", ""};

INSTANTIATE_TEST_SUITE_P(
    Cases, Notification,
    ::testing::Values(
        NotificationCase{"Var2", "VAR_2", std::string("42"), "var2", {"42"},
                         {{"0", "42", "0", "0", "", ""}}},
        NotificationCase{"NonNumericVar1", "VAR_1", std::string("abc"), "var1", {"abc", "0"},
                         {kZeros, kZeros}},
        NotificationCase{"EmptyVar4", "VAR_4", std::monostate{}, "var4", {"", "0"},
                         {kZeros, kZeros}},
        NotificationCase{"TextIntoVar5", "VAR_5", std::string("hallo"), "var5", {"hallo"},
                         {{"0", "0", "0", "0", "hallo", ""}}},
        NotificationCase{"DoubleVar3", "VAR_3", 2.5, "var3", {"2.5"},
                         {{"0", "0", "2.5", "0", "", ""}}},
        NotificationCase{"IntegerVar4", "VAR_4", std::int64_t{-17}, "var4", {"-17"},
                         {{"0", "0", "0", "-17", "", ""}}},
        NotificationCase{"BoolVar6", "VAR_6", true, "var6", {"True"},
                         {{"0", "0", "0", "0", "", "True"}}},
        NotificationCase{"BlanksAndExponentVar1", "VAR_1", std::string(" -1.5E3 "), "var1",
                         {" -1.5E3 "}, {{" -1.5E3 ", "0", "0", "0", "", ""}}},
        NotificationCase{"SameTextChangesNothing", "VAR_2", std::int64_t{0}, "var2", {}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RavolinWindow, ANotificationOfSeveralItemsShowsOnlyTheFirst) {
  Connect();
  sim->Notify({{"VAR_3", std::string("7")}, {"VAR_1", std::string("9")},
               {"VAR_2", std::string("8")}});
  Pump();
  EXPECT_EQ(Text("var3"), "7");
  EXPECT_EQ(Text("var1"), "0");
  EXPECT_EQ(Text("var2"), "0");
  EXPECT_EQ(Written(), (std::vector<Texts>{{"0", "0", "7", "0", "", ""}}));
}

TEST_F(RavolinWindow, NotificationsFromAnotherThreadArriveInTheWindowsThread) {
  Connect();
  std::thread([this] { sim->SetValue("VAR_2", std::string("13")); }).join();
  EXPECT_EQ(Text("var2"), "0");
  Pump();
  EXPECT_EQ(Text("var2"), "13");
  EXPECT_EQ(Written(), (std::vector<Texts>{{"0", "13", "0", "0", "", ""}}));
}

TEST_F(RavolinWindow, AnInitialUpdateOfAllItemsShowsTheFirstAndWritesTheBoxesBack) {
  // A server that sends every item on subscription, as real servers do.
  sim->SetInitialUpdate(true);
  sim->Notify({{"VAR_1", std::string("5")}, {"VAR_2", std::string("6")}});
  Put("Server", SimServer::kProgID);
  Click("Start");
  Pump();
  EXPECT_EQ(Text("var1"), "5");
  EXPECT_EQ(Written(), (std::vector<Texts>{{"5", "0", "0", "0", "", ""}}));
}

TEST_F(RavolinWindow, AfterStopNotificationsNoLongerArrive) {
  Connect();
  sim->SetValue("VAR_2", std::string("1"));  // queued, not yet handled
  Click("Stop");
  Pump();
  EXPECT_EQ(Text("var2"), "0");
  EXPECT_TRUE(Written().empty());
}

// --- Typing ---------------------------------------------------------------

struct TypingCase {
  const char* label;
  const char* box;
  const char* text;
  const char* shown;
  std::vector<Texts> writes;
};

void PrintTo(const TypingCase& c, std::ostream* os) { *os << c.label; }

class Typing : public RavolinWindow, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(Typing, WritesAllSixBoxesWhileConnected) {
  const TypingCase& c = GetParam();
  Connect();
  Put(c.box, c.text);
  EXPECT_EQ(Text(c.box), c.shown);
  EXPECT_EQ(Written(), c.writes);
  EXPECT_TRUE(boxes.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Typing,
    ::testing::Values(
        // The nested change writes once, the change that typed "abc" once more.
        TypingCase{"AbcIntoVar3", "var3", "abc", "0", {kZeros, kZeros}},
        TypingCase{"ClearedVar2", "var2", "", "0", {kZeros, kZeros}},
        TypingCase{"NumberIntoVar1", "var1", "12", "12", {{"12", "0", "0", "0", "", ""}}},
        TypingCase{"DecimalCommaIntoVar4", "var4", " +3,5 ", " +3,5 ",
                   {{"0", "0", "0", " +3,5 ", "", ""}}},
        TypingCase{"TextIntoVar5", "var5", "abc", "abc", {{"0", "0", "0", "0", "abc", ""}}},
        TypingCase{"UmlautsIntoVar6", "var6", "Größe", "Größe",
                   {{"0", "0", "0", "0", "", "Größe"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RavolinWindow, TypingKeyByKeyWritesForEveryKey) {
  Connect();
  QLineEdit* var1 = Box("var1");
  var1->setFocus();
  var1->end(false);
  QTest::keyClicks(var1, "12");
  EXPECT_EQ(Text("var1"), "012");
  EXPECT_EQ(Written(), (std::vector<Texts>{{"01", "0", "0", "0", "", ""},
                                           {"012", "0", "0", "0", "", ""}}));
  sim->ClearRecords();
  QLineEdit* var3 = Box("var3");
  var3->setFocus();
  QTest::keyClicks(var3, "abc");
  EXPECT_EQ(Text("var3"), "0");
  EXPECT_EQ(Written().size(), 6u) << "each key makes a non-number, put back to 0";
}

TEST_F(RavolinWindow, TypingWhileDisconnectedWritesNothing) {
  Put("var5", "hallo");
  Put("var3", "abc");
  EXPECT_EQ(Text("var3"), "0") << "the numeric test still applies";
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(sim->Calls().empty());
  EXPECT_TRUE(boxes.shown.empty());
}

// --- Stop, close and the State box ----------------------------------------

TEST_F(RavolinWindow, StopDisconnectsInTheRunningState) {
  Connect();
  Click("Stop");
  EXPECT_EQ(sim->Calls(), (Texts{"RemoveAll", "Disconnect"}));
  EXPECT_EQ(sim->ConnectedClients(), 0);
  EXPECT_EQ(Text("Status"), "Client off");
  EXPECT_EQ(Text("State"), "0");
  Put("var5", "x");
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RavolinWindow, ClosingInTheRunningStateDisconnects) {
  Connect();
  window->close();
  EXPECT_EQ(sim->Calls(), (Texts{"RemoveAll", "Disconnect"}));
  EXPECT_EQ(sim->ConnectedClients(), 0);
}

TEST_F(RavolinWindow, AServerInState2CannotBeStoppedAndClosingLeavesItConnected) {
  sim->SetState(2);
  Connect();
  EXPECT_EQ(Text("State"), "2");
  Put("var5", "x");
  EXPECT_EQ(Written().size(), 1u) << "writes go on in any state but 0";
  Click("Stop");
  EXPECT_EQ(Text("Status"), "Client on");
  EXPECT_EQ(Text("State"), "2");
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(sim->ConnectedClients(), 1);
  EXPECT_FALSE(Called("RemoveAll"));
  EXPECT_FALSE(Called("Disconnect"));
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RavolinWindow, TheStateBoxIsTheConnectionFlag) {
  Connect();
  Put("State", "0");
  Put("var5", "x");
  Put("var1", "abc");
  EXPECT_TRUE(Written().empty()) << "\"0\" stops every write";
  Click("Stop");
  EXPECT_EQ(sim->ConnectedClients(), 1) << "Stop acts only on \"1\"";
  EXPECT_EQ(Text("Status"), "Client on");

  Put("State", "1");
  Click("Stop");
  EXPECT_EQ(sim->Calls(), (Texts{"RemoveAll", "Disconnect"}));
  EXPECT_EQ(Text("Status"), "Client off");
  EXPECT_EQ(Text("State"), "0");
  EXPECT_TRUE(boxes.shown.empty());
}

// --- Errors outside Start: shown by default, and the program goes on ------

TEST_F(RavolinWindow, AFailedWriteIsShownAndTheNextOneWorks) {
  Connect();
  sim->FailNext(SimOperation::SyncWrite, "Schreiben abgelehnt");
  Put("var5", "x");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "Ravolin");
  EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
  EXPECT_NE(boxes.shown[0].text.find("Schreiben abgelehnt"), std::string::npos);
  EXPECT_TRUE(Written().empty());
  Put("var5", "y");
  EXPECT_EQ(Written(), (std::vector<Texts>{{"0", "0", "0", "0", "y", ""}}));
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(RavolinWindow, AFailedWriteInsideTheNestedChangeLeavesTheOuterWrite) {
  Connect();
  sim->FailNext(SimOperation::SyncWrite, "Schreiben abgelehnt");
  Put("var3", "abc");
  EXPECT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(Written(), (std::vector<Texts>{kZeros}));
}

TEST_F(RavolinWindow, AFailedStopIsShownAndLeavesTheWindowConnected) {
  Connect();
  sim->FailNext(SimOperation::RemoveAll, "Gruppe belegt");
  Click("Stop");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.shown[0].text.find("Gruppe belegt"), std::string::npos);
  EXPECT_EQ(Text("Status"), "Client on");
  EXPECT_EQ(Text("State"), "1");
  Click("Stop");
  EXPECT_EQ(Text("Status"), "Client off");
}

TEST_F(RavolinWindow, AStateTypedByHandWithoutAConnectionIsShownNotFatal) {
  Put("State", "1");
  Click("Stop");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            "Run-time error '91':\n\nObject variable or With block variable not set");
  EXPECT_EQ(Text("Status"), "off");
  Put("var5", "x");
  EXPECT_EQ(boxes.shown.size(), 2u);
  window->close();  // closing runs Stop, fails the same way, and still closes
  EXPECT_EQ(boxes.shown.size(), 3u);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(RavolinWindow, ANullValueIsShownByTheDefaultHandling) {
  Connect();
  sim->SetValue("VAR_2", opcda::Null{});
  Pump();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Run-time error '94':\n\nInvalid use of Null");
  EXPECT_EQ(Text("var2"), "0");
  sim->SetValue("VAR_2", std::string("3"));
  Pump();
  EXPECT_EQ(Text("var2"), "3");
}

}  // namespace

// --- A server whose notifications are malformed ----------------------------

// Just enough of a server to hand the window a notification the simulation
// never sends: one without elements.
class BareServer : public opcda::OPCServer,
                   public opcda::OPCGroups,
                   public opcda::OPCGroup,
                   public opcda::OPCItems,
                   public std::enable_shared_from_this<BareServer> {
 public:
  void Connect(const std::string&, const std::string&) override {}
  std::shared_ptr<opcda::OPCGroups> OPCGroups() override { return shared_from_this(); }
  opcda::Date LastUpdateTime() override { return kNow; }
  std::int32_t ServerState() override { return 1; }
  void Disconnect() override {}
  void DefaultGroupIsActive(bool) override {}
  std::shared_ptr<opcda::OPCGroup> Add(const std::string&) override { return shared_from_this(); }
  void RemoveAll() override {}
  std::shared_ptr<opcda::OPCItems> OPCItems() override { return shared_from_this(); }
  void IsSubscribed(bool) override {}
  void SyncWrite(std::int32_t, const std::vector<std::int32_t>&,
                 const std::vector<opcda::Variant>&, std::vector<std::int32_t>&) override {
    ++writes;
  }
  void ConnectDataChange(opcda::DataChangeHandler h) override { handler = std::move(h); }
  void AddItems(std::int32_t n, const std::vector<std::string>&, const std::vector<std::int32_t>&,
                std::vector<std::int32_t>& serverHandles, std::vector<std::int32_t>& errors,
                const std::vector<std::int16_t>*, const std::vector<std::string>*) override {
    serverHandles.assign(n, 1);
    errors.assign(n, 0);
  }
  std::int32_t Count() override { return 6; }

  opcda::DataChangeHandler handler;
  int writes = 0;
};

TEST(RavolinWindowMalformedNotification, IsShownByTheDefaultHandlingAndTheWindowGoesOn) {
  auto server = std::make_shared<BareServer>();
  RecordingBoxes boxes;
  CRavolinWindow window([server] { return server; }, boxes);
  window.findChild<QPushButton*>("Start")->click();
  ASSERT_TRUE(boxes.shown.empty());
  ASSERT_TRUE(server->handler);

  opcda::DataChangeEvent empty;
  empty.NumItems = 1;  // claims an item, carries none
  server->handler(empty);
  opcda::DataChangeEvent noValue;
  noValue.NumItems = 1;
  noValue.ClientHandles = {2};
  server->handler(noValue);
  opcda::DataChangeEvent unknownHandle;
  unknownHandle.NumItems = 1;
  unknownHandle.ClientHandles = {7};
  unknownHandle.ItemValues = {std::string("x")};
  server->handler(unknownHandle);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();

  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "Run-time error '9':\n\nSubscript out of range");
  EXPECT_EQ(boxes.shown[1].text, "Run-time error '9':\n\nSubscript out of range");
  EXPECT_EQ(server->writes, 0) << "a handle of no box changes no box";

  opcda::DataChangeEvent good;
  good.NumItems = 1;
  good.ClientHandles = {2};
  good.ItemValues = {std::int64_t{8}};
  server->handler(good);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(window.findChild<QLineEdit*>("var2")->text(), "8");
  EXPECT_EQ(server->writes, 1);
}
