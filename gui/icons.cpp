#include "gui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include "gui/gui_texts.h"

namespace tarnwick::gui {
namespace {

constexpr int kW = 16;
constexpr int kH = 15;

QPixmap Blank(int scale) {
    QPixmap pixmap(kW * scale, kH * scale);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawFolder(QPainter& p) {
    p.setPen(QColor(0x80, 0x60, 0x00));
    p.setBrush(QColor(0xF0, 0xC8, 0x40));
    p.drawPolygon(QPolygonF({{1, 4}, {5, 4}, {6, 5.5}, {13, 5.5}, {13, 13}, {1, 13}}));
    p.setBrush(QColor(0xFF, 0xE0, 0x70));
    p.drawPolygon(QPolygonF({{3, 7.5}, {15, 7.5}, {13, 13}, {1, 13}}));
}

void DrawDisk(QPainter& p) {
    p.setPen(QColor(0x10, 0x20, 0x60));
    p.setBrush(QColor(0x30, 0x50, 0xA0));
    p.drawRect(QRectF(1.5, 1.5, 12, 12));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 1.5, 7, 4.5));
    p.setBrush(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(QRectF(3.5, 8.5, 8, 5));
}

void DrawPanel(QPainter& p, qreal x) {
    // An operator panel: a frame with a screen.
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.setBrush(QColor(0xB0, 0xB0, 0xB0));
    p.drawRoundedRect(QRectF(x, 3.5, 7, 10), 1, 1);
    p.setBrush(QColor(0x20, 0x90, 0x60));
    p.drawRect(QRectF(x + 1.5, 5, 4, 4));
}

void DrawArrow(QPainter& p, qreal fromX, qreal toX, QColor colour) {
    p.setPen(QPen(colour, 1.6));
    p.drawLine(QPointF(fromX, 7.5), QPointF(toX, 7.5));
    const qreal dir = toX > fromX ? -1 : 1;
    p.setBrush(colour);
    p.drawPolygon(QPolygonF({{toX, 7.5}, {toX + dir * 3, 4.5}, {toX + dir * 3, 10.5}}));
}

void DrawSettings(QPainter& p) {
    // A plug on its cable.
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.2));
    p.setBrush(QColor(0x50, 0x70, 0xB0));
    p.drawRoundedRect(QRectF(2, 4, 9, 7), 1.5, 1.5);
    p.setBrush(QColor(0xE0, 0xE0, 0xE0));
    for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(4 + 2.5 * i, 7.5), 0.8, 0.8);
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.6));
    p.drawLine(QPointF(11, 7.5), QPointF(15, 7.5));
}

QPixmap Draw(unsigned command, int scale) {
    QPixmap pixmap = Blank(scale);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    switch (command) {
    case kCmdFileOpen: DrawFolder(p); break;
    case kCmdFileSave: DrawDisk(p); break;
    case kCmdDownload:
        DrawPanel(p, 8.5);
        DrawArrow(p, 0.5, 8.5, QColor(0x00, 0x80, 0x00));
        break;
    case kCmdUpload:
        DrawPanel(p, 0.5);
        DrawArrow(p, 7.5, 15.5, QColor(0x00, 0x50, 0xC0));
        break;
    case kCmdSettings: DrawSettings(p); break;
    default: break;
    }
    return pixmap;
}

}  // namespace

QIcon ToolbarIcon(unsigned command) {
    QIcon icon;
    icon.addPixmap(Draw(command, 1));
    icon.addPixmap(Draw(command, 2));
    return icon;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        p.setPen(QColor(0x20, 0x20, 0x20));
        p.setBrush(QColor(0x90, 0x98, 0xA8));
        p.drawRoundedRect(QRectF(1, 1.5, 14, 13), 2, 2);
        p.setBrush(QColor(0x10, 0x60, 0xA0));
        p.drawRect(QRectF(3, 3.5, 10, 7));
        p.setPen(QPen(QColor(0xF0, 0xF0, 0x40), 1.4));
        p.drawLine(QPointF(5, 7), QPointF(11, 7));
        p.drawLine(QPointF(8, 4.5), QPointF(8, 9.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x30, 0xB0, 0x30));
        p.drawEllipse(QPointF(8, 12.5), 1, 1);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tarnwick::gui
