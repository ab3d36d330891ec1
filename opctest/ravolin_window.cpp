#include "opctest/ravolin_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <mutex>

#include "opctest/numeric_text.h"
#include "opctest/value_text.h"

namespace ravolin {

namespace {

constexpr int kItems = 6;

// The text a new window's Node box holds: this computer, where a server
// usually runs while its panel project is tested.
const char* const kDefaultNode = "127.0.0.1";
const char* const kDefaultServer = "OPC.KorvateHMI.Qelto";

// What the automation layer raises when an object variable was never set.
opcda::OpcError NotSet() {
  return opcda::OpcError("Object variable or With block variable not set", 91);
}

// Sets a box's text the way the form's boxes take text from the program:
// the caret goes to the start, so the text is seen from its beginning.
void Assign(QLineEdit* box, const QString& text) {
  box->setText(text);
  box->setCursorPosition(0);
}

template <class T>
T& Need(const std::shared_ptr<T>& object) {
  if (!object) throw NotSet();
  return *object;
}

}  // namespace

// Carries DataChange from whatever thread the server calls it on into the
// window's thread. The window detaches itself when it goes.
struct CRavolinWindow::Relay {
  std::mutex mutex;
  CRavolinWindow* window = nullptr;
};

CRavolinWindow::CRavolinWindow(opcda::ServerFactory newServer, MessageBoxes& boxes,
                               QWidget* parent)
    : QWidget(parent), newServer_(std::move(newServer)), boxes_(boxes),
      relay_(std::make_shared<Relay>()) {
  relay_->window = this;
  setObjectName(QStringLiteral("Ravolin"));
  setWindowTitle(QStringLiteral("Ravolin"));
  resize(7200 / kTwipsPerPixel, 4965 / kTwipsPerPixel);
  // The form's places and sizes were laid out for a narrow 8-point dialog
  // font; with the desktop's usually wider one the labels would not fit.
  QFont formFont = font();
  formFont.setPointSize(8);
  formFont.setStretch(QFont::SemiCondensed);
  setFont(formFont);

  for (int n = 1; n <= kItems; ++n) {
    const std::string name = "lbl_" + std::to_string(n);
    lbl_[n - 1] = MakeLabel(name.c_str(), QStringLiteral("VAR %1").arg(n), 120,
                            480 + 480 * (n - 1), 735, 255);
  }
  for (int n = 1; n <= kItems; ++n) {
    const std::string name = "var" + std::to_string(n);
    var_[n - 1] = MakeBox(name.c_str(), n <= 4 ? QStringLiteral("0") : QString(), 1080,
                          360 + 480 * (n - 1), 1215, 375);
  }
  MakeLabel("lblServer", QStringLiteral("Server Name"), 4200, 480, 975, 255);
  Server = MakeBox("Server", QString::fromLatin1(kDefaultServer), 5280, 360, 1455, 375);
  MakeLabel("lblNode", QStringLiteral("Node Name"), 4200, 960, 975, 255);
  Node = MakeBox("Node", QString::fromLatin1(kDefaultNode), 5280, 840, 1455, 375);
  MakeLabel("lblGroup", QStringLiteral("Group Name"), 4200, 1440, 975, 255);
  Group = MakeBox("Group", QStringLiteral("MyGroup"), 5280, 1320, 1455, 375);
  MakeLabel("lblStatus", QStringLiteral("Status"), 4200, 2160, 975, 255);
  Status = MakeBox("Status", QStringLiteral("off"), 5280, 2040, 1455, 375);
  MakeLabel("lblTime", QStringLiteral("Update Time"), 4200, 2640, 975, 255);
  UTime = MakeBox("UTime", QString(), 5280, 2520, 1455, 375);
  MakeLabel("lblCount", QStringLiteral("Item Count"), 4200, 3120, 975, 255);
  ICount = MakeBox("ICount", QString(), 5280, 3000, 1455, 375);
  MakeLabel("lblState", QStringLiteral("Server State"), 4200, 3600, 975, 255);
  State = MakeBox("State", QStringLiteral("0"), 5280, 3480, 1455, 375);
  Start = MakeButton("Start", QStringLiteral("Start"), 480, 3960, 975, 375);
  Stop = MakeButton("Stop", QStringLiteral("Stop"), 1800, 3960, 975, 375);

  // Tab order follows the boxes, then the buttons.
  QWidget* previous = var_[0];
  for (QWidget* next : std::initializer_list<QWidget*>{
           var_[1], var_[2], var_[3], var_[4], var_[5], Server, Node, Group, Status, UTime,
           ICount, State, Start, Stop}) {
    setTabOrder(previous, next);
    previous = next;
  }

  connect(Start, &QPushButton::clicked, this, [this] { StartClient(); });
  connect(Stop, &QPushButton::clicked, this, [this] { RunHandler([this] { StopClient(); }); });
  for (int n = 1; n <= kItems; ++n) {
    connect(var_[n - 1], &QLineEdit::textChanged, this,
            [this, n] { RunHandler([this, n] { ValueChange(n); }); });
  }
}

CRavolinWindow::~CRavolinWindow() {
  std::lock_guard lock(relay_->mutex);
  relay_->window = nullptr;
}

QLabel* CRavolinWindow::MakeLabel(const char* name, const QString& text, int left, int top,
                                  int width, int height) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                     height / kTwipsPerPixel);
  return label;
}

QLineEdit* CRavolinWindow::MakeBox(const char* name, const QString& text, int left, int top,
                                   int width, int height) {
  auto* box = new QLineEdit(this);
  box->setObjectName(QString::fromLatin1(name));
  Assign(box, text);
  box->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                   height / kTwipsPerPixel);
  return box;
}

QPushButton* CRavolinWindow::MakeButton(const char* name, const QString& text, int left, int top,
                                        int width, int height) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                      height / kTwipsPerPixel);
  return button;
}

template <class Handler>
void CRavolinWindow::RunHandler(Handler handler) {
  try {
    handler();
  } catch (const opcda::OpcError& e) {
    boxes_.Show(this, QStringLiteral("Ravolin"),
                QStringLiteral("Run-time error '%1':\n\n%2")
                    .arg(e.Number())
                    .arg(QString::fromStdString(e.Description())),
                QMessageBox::Critical);
  } catch (const std::exception& e) {
    boxes_.Show(this, QStringLiteral("Ravolin"),
                QStringLiteral("Run-time error:\n\n%1").arg(QString::fromLocal8Bit(e.what())),
                QMessageBox::Critical);
  }
}

void CRavolinWindow::StartClient() {
  try {
    ClientHandles.assign(kItems, 0);
    for (int n = 1; n <= kItems; ++n) ClientHandles[n - 1] = n;
    ServerName = Server->text();
    GroupName = Group->text();
    NodeName = Node->text();
    ItemIDs.assign(kItems, std::string());
    for (int n = 1; n <= kItems; ++n) ItemIDs[n - 1] = "VAR_" + std::to_string(n);

    MyOPCServer = newServer_();
    MyOPCServer->Connect(ServerName.toStdString(), NodeName.toStdString());
    groups = MyOPCServer->OPCGroups();
    groups->DefaultGroupIsActive(true);
    MyOPCGroup = groups->Add(GroupName.toStdString());
    // The group's events are connected as soon as the window holds it;
    // they reach the window through its own event queue.
    MyOPCGroup->ConnectDataChange(
        [relay = relay_, source = std::weak_ptr<opcda::OPCGroup>(MyOPCGroup)](
            const opcda::DataChangeEvent& event) {
          std::lock_guard lock(relay->mutex);
          if (!relay->window) return;
          CRavolinWindow* window = relay->window;
          QMetaObject::invokeMethod(
              window, [window, event, source] { window->DeliverDataChange(event, source); },
              Qt::QueuedConnection);
        });
    items = MyOPCGroup->OPCItems();
    Errors.clear();
    ServerHandles.clear();
    items->AddItems(kItems, ItemIDs, ClientHandles, ServerHandles, Errors);
    MyOPCGroup->IsSubscribed(true);
    Assign(Status, QStringLiteral("Client on"));
    Assign(UTime, DateText(MyOPCServer->LastUpdateTime(), locale()));
    Assign(ICount, QString::number(items->Count()));
    Assign(State, QString::number(MyOPCServer->ServerState()));
  } catch (const std::exception& e) {
    // The objects made so far stay as they are, connected or not.
    const auto* opc = dynamic_cast<const opcda::OpcError*>(&e);
    const QString description = opc ? QString::fromStdString(opc->Description())
                                     : QString::fromLocal8Bit(e.what());
    boxes_.Show(this, QStringLiteral("ERROR"), QStringLiteral("Error: ") + description,
                QMessageBox::Critical);
  }
}

void CRavolinWindow::StopClient() {
  if (State->text() != QLatin1String("1")) return;
  Need(groups).RemoveAll();
  Need(MyOPCServer).Disconnect();
  items.reset();
  MyOPCGroup.reset();
  groups.reset();
  MyOPCServer.reset();
  Assign(Status, QStringLiteral("Client off"));
  Assign(State, QStringLiteral("0"));
}

void CRavolinWindow::WriteValues() {
  if (State->text() == QLatin1String("0")) return;
  Values.assign(kItems, opcda::Variant{});
  for (int n = 1; n <= kItems; ++n) Values[n - 1] = var_[n - 1]->text().toStdString();
  Errors.clear();
  Need(MyOPCGroup).SyncWrite(kItems, ServerHandles, Values, Errors);
}

void CRavolinWindow::ValueChange(int n) {
  QLineEdit* box = var_[n - 1];
  // Setting "0" raises this handler again, which writes from there.
  if (n <= 4 && !opcda::IsNumeric(box->text().toStdString())) Assign(box, QStringLiteral("0"));
  WriteValues();
}

void CRavolinWindow::DeliverDataChange(const opcda::DataChangeEvent& event,
                                       const std::weak_ptr<opcda::OPCGroup>& source) {
  // Events still queued from a group the window has let go are dropped.
  if (source.expired() || source.lock() != MyOPCGroup) return;
  RunHandler([&] { DataChange(event); });
}

void CRavolinWindow::DataChange(const opcda::DataChangeEvent& event) {
  // Only the first element of a notification is looked at.
  if (event.ClientHandles.empty()) throw opcda::OpcError("Subscript out of range", 9);
  const std::int32_t h = event.ClientHandles[0];
  for (int n = 1; n <= kItems; ++n) {
    if (h != n) continue;
    if (event.ItemValues.empty()) throw opcda::OpcError("Subscript out of range", 9);
    Assign(var_[n - 1], ValueText(event.ItemValues[0], locale()));
  }
  Assign(UTime, DateText(Need(MyOPCServer).LastUpdateTime(), locale()));
}

void CRavolinWindow::closeEvent(QCloseEvent* event) {
  RunHandler([this] { StopClient(); });
  event->accept();
}

}  // namespace ravolin
