// Ravolin's one window: six value boxes bound to the items VAR_1 to VAR_6 of
// one group, the connection fields and Start/Stop. Every change of a value
// box, typed or notified, writes all six boxes back to the server.
#pragma once

#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "opctest/message_boxes.h"
#include "opctest/opc_automation.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ravolin {

class CRavolinWindow : public QWidget {
  Q_OBJECT

 public:
  // The form's size and places are given in twips; the screen shows 15 twips
  // to a pixel.
  static constexpr int kTwipsPerPixel = 15;

  CRavolinWindow(opcda::ServerFactory newServer, MessageBoxes& boxes, QWidget* parent = nullptr);
  ~CRavolinWindow() override;

  // The window's procedures.
  void StartClient();
  void StopClient();
  void WriteValues();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Relay;

  QLabel* MakeLabel(const char* name, const QString& text, int left, int top, int width,
                    int height);
  QLineEdit* MakeBox(const char* name, const QString& text, int left, int top, int width,
                     int height);
  QPushButton* MakeButton(const char* name, const QString& text, int left, int top, int width,
                          int height);

  // Event handlers.
  void ValueChange(int n);
  void DataChange(const opcda::DataChangeEvent& event);
  void DeliverDataChange(const opcda::DataChangeEvent& event,
                         const std::weak_ptr<opcda::OPCGroup>& source);

  // The program's default error handling for everything but StartClient:
  // the error is shown in a message box of its own and the program goes on.
  template <class Handler>
  void RunHandler(Handler handler);

  opcda::ServerFactory newServer_;
  MessageBoxes& boxes_;
  std::shared_ptr<Relay> relay_;

  // Controls.
  std::array<QLabel*, 6> lbl_{};
  std::array<QLineEdit*, 6> var_{};
  QLineEdit* Server = nullptr;
  QLineEdit* Node = nullptr;
  QLineEdit* Group = nullptr;
  QLineEdit* Status = nullptr;
  QLineEdit* UTime = nullptr;
  QLineEdit* ICount = nullptr;
  QLineEdit* State = nullptr;
  QPushButton* Start = nullptr;
  QPushButton* Stop = nullptr;

  // Window state.
  std::shared_ptr<opcda::OPCServer> MyOPCServer;
  std::shared_ptr<opcda::OPCGroups> groups;
  std::shared_ptr<opcda::OPCGroup> MyOPCGroup;
  std::shared_ptr<opcda::OPCItems> items;
  std::vector<std::int32_t> ClientHandles;
  std::vector<std::string> ItemIDs;
  std::vector<std::int32_t> ServerHandles;
  std::vector<std::int32_t> Errors;
  std::vector<opcda::Variant> Values;
  QString ServerName;
  QString NodeName;
  QString GroupName;
};

}  // namespace ravolin
