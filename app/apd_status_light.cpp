#include "app/apd_status_light.h"

#include <QImage>
#include <QPainter>

namespace mq {

TApdStatusLight::TApdStatusLight(QWidget* parent) : QWidget(parent) { setFixedSize(13, 13); }

void TApdStatusLight::SetLit(bool lit) {
  if (lit == lit_) return;
  lit_ = lit;
  repaint();
}

void TApdStatusLight::SetLitColor(const QColor& c) {
  litColor_ = c;
  update();
}

void TApdStatusLight::SetNotLitColor(const QColor& c) {
  notLitColor_ = c;
  update();
}

void TApdStatusLight::PaintTo(QPainter& p) const {
  const int w = width(), h = height();
  p.fillRect(0, 0, w, h, lit_ ? litColor_ : notLitColor_);
  p.setPen(Qt::white);
  p.drawLine(0, 0, w - 1, 0);  // top
  p.drawLine(0, 0, 0, h - 1);  // left
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawLine(w - 1, 1, w - 1, h - 1);  // right, from y = 1
  p.drawLine(1, h - 1, w - 1, h - 1);  // bottom, from x = 1
}

void TApdStatusLight::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintTo(p);
}

QImage TApdStatusLight::Render() const {
  QImage img(size(), QImage::Format_RGB32);
  QPainter p(&img);
  PaintTo(p);
  return img;
}

}  // namespace mq
