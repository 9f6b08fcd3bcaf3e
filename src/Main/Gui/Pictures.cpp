#include "Pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace {

void DrawChip(QPainter& p, const QRectF& body) {
    p.setPen(QPen(QColor(150, 156, 164), body.width() / 14));
    const int pins = 4;
    for (int i = 0; i < pins; ++i) {
        const qreal y = body.top() + body.height() * (i + 0.5) / pins;
        p.drawLine(QPointF(body.left() - body.width() / 6, y), QPointF(body.left(), y));
        p.drawLine(QPointF(body.right(), y), QPointF(body.right() + body.width() / 6, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(45, 52, 62));
    p.drawRoundedRect(body, body.width() / 10, body.width() / 10);
    p.setBrush(QColor(90, 127, 168));
    p.drawEllipse(QPointF(body.left() + body.width() / 4, body.top() + body.height() / 4),
                  body.width() / 12, body.width() / 12);
}

void DrawSyringe(QPainter& p, qreal size) {
    p.save();
    p.translate(size * 0.62, size * 0.38);
    p.rotate(45);
    const qreal len = size * 0.62;
    const qreal w = size * 0.16;
    p.setPen(QPen(QColor(60, 60, 60), size / 32));
    p.setBrush(QColor(230, 240, 250, 230));
    p.drawRect(QRectF(-len / 2, -w / 2, len * 0.7, w)); // barrel
    p.setBrush(QColor(128, 0, 0));
    p.drawRect(QRectF(-len / 2 + len * 0.35, -w / 2 + 1, len * 0.33, w - 2)); // dose
    p.drawLine(QPointF(len * 0.2, 0), QPointF(len / 2 + size * 0.1, 0));      // needle
    p.drawLine(QPointF(-len / 2 - size * 0.08, 0), QPointF(-len / 2, 0));     // plunger
    p.drawLine(QPointF(-len / 2 - size * 0.08, -w / 2), QPointF(-len / 2 - size * 0.08, w / 2));
    p.restore();
}

QPixmap Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawChip(p, QRectF(size * 0.22, size * 0.42, size * 0.5, size * 0.5));
    DrawSyringe(p, size);
    return pixmap;
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(ProgramPicture(16));
    icon.addPixmap(ProgramPicture(32));
    return icon;
}

QPixmap ProgramPicture(int size) {
    return Draw(size);
}

QPixmap WritePicture() {
    return Draw(24);
}
