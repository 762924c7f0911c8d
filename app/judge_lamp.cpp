#include "app/judge_lamp.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>

namespace mq {

TJudgeLamp::TJudgeLamp(QWidget* parent) : QWidget(parent) {
  setFixedSize(17, 17);
  setCursor(Qt::PointingHandCursor);
}

void TJudgeLamp::SetOn(bool on) {
  if (on == on_) return;
  on_ = on;
  update();
}

void TJudgeLamp::SetOnColor(const QColor& c) {
  onColor_ = c;
  update();
}

void TJudgeLamp::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, width() - 1.0, height() - 1.0);
  const QColor c = CurrentColor();
  // A lamp: a light spot up left, the colour itself, a darker rim.
  QRadialGradient g(r.center() - QPointF(2.5, 2.5), r.width() * 0.75);
  g.setColorAt(0.0, c.lighter(170));
  g.setColorAt(0.45, c);
  g.setColorAt(1.0, c.darker(150));
  p.setBrush(g);
  p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.0));
  p.drawEllipse(r);
}

void TJudgeLamp::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Clicked();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace mq
