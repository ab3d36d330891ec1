// The message boxes ravolin shows, behind an interface so that tests can
// record them instead of running a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace ravolin {

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows a box with an OK button and returns when it is closed.
  virtual void Show(QWidget* parent, const QString& title, const QString& text,
                    QMessageBox::Icon icon) = 0;
};

// Real, modal message boxes.
class QtMessageBoxes : public MessageBoxes {
 public:
  void Show(QWidget* parent, const QString& title, const QString& text,
            QMessageBox::Icon icon) override;
};

}  // namespace ravolin
