#pragma once
// Dialog layouts are given in dialog units: a quarter of the average
// character width and an eighth of the character height of the dialog's
// font. Placing controls by them keeps the proportions of the dialogs
// whatever font the desktop uses.
#include <QRect>
#include <QWidget>

namespace tarnwick::gui {

class DialogUnits {
public:
    explicit DialogUnits(const QWidget* dialog);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int w, int h) const;
    QSize Size(int w, int h) const;

    // Places child at x, y with size w × h in dialog units.
    void Place(QWidget* child, int x, int y, int w, int h) const;

private:
    double baseX_ = 6;
    double baseY_ = 13;
};

}  // namespace tarnwick::gui
