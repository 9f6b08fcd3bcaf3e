#include "Gauge.h"

#include <QPainter>

namespace {
const QColor BarColour(128, 0, 0); // maroon
const QColor TrackColour(138, 150, 163);
const QColor FrameColour(154, 166, 178);
} // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    Model_.SetOnVisibleChange([this] {
        ++RepaintRequests_;
        update();
    });
}

std::string TGauge::Text() const {
    return std::to_string(Model_.Percent()) + Suffix;
}

QRect TGauge::BarRect() const {
    return rect().adjusted(1, 1, -1, -1);
}

void TGauge::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Model_.SetPixelWidth(BarRect().width());
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(FrameColour);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect bar = BarRect();
    painter.fillRect(bar, TrackColour);
    QRect filled = bar;
    filled.setWidth(Model_.FilledPixels(bar.width()));
    painter.fillRect(filled, BarColour);
    painter.setPen(Qt::white);
    painter.drawText(bar, Qt::AlignCenter, QString::fromStdString(Text()));
}
