#include "gui/dialog_units.h"

#include <QFontMetricsF>
#include <cmath>

namespace tarnwick::gui {

DialogUnits::DialogUnits(const QWidget* dialog) {
    const QFontMetricsF metrics(dialog->font());
    const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = metrics.horizontalAdvance(letters) / letters.size();
    baseY_ = metrics.height();
}

int DialogUnits::X(int units) const { return static_cast<int>(std::lround(units * baseX_ / 4.0)); }

int DialogUnits::Y(int units) const { return static_cast<int>(std::lround(units * baseY_ / 8.0)); }

QRect DialogUnits::Rect(int x, int y, int w, int h) const {
    return QRect(X(x), Y(y), X(w), Y(h));
}

QSize DialogUnits::Size(int w, int h) const { return QSize(X(w), Y(h)); }

void DialogUnits::Place(QWidget* child, int x, int y, int w, int h) const {
    child->setGeometry(Rect(x, y, w, h));
}

}  // namespace tarnwick::gui
