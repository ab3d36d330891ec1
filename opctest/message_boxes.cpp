#include "opctest/message_boxes.h"

namespace ravolin {

void QtMessageBoxes::Show(QWidget* parent, const QString& title, const QString& text,
                          QMessageBox::Icon icon) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace ravolin
