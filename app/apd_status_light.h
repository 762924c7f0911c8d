// TApdStatusLight: the 13 x 13 lamp that shows serial traffic (RX or TX).
// It fills its area in LitColor or NotLitColor, then draws a white line
// along the top and left edges and a grey (0x808080) line along the right
// edge from y = 1 and the bottom edge from x = 1. Changing Lit repaints at
// once. The serial layer's light controller (TApdSLController) drives it
// through SetLit, as one of its status lights.
//
// Threading: GUI thread only.
#pragma once

#include <QColor>
#include <QWidget>

#include "serial/status_light.h"

namespace mq {

class TApdStatusLight : public QWidget, public serial::StatusLight {
  Q_OBJECT
 public:
  explicit TApdStatusLight(QWidget* parent = nullptr);

  bool Lit() const { return lit_; }
  void SetLit(bool lit) override;

  QColor LitColor() const { return litColor_; }
  void SetLitColor(const QColor& c);
  QColor NotLitColor() const { return notLitColor_; }
  void SetNotLitColor(const QColor& c);

  // The light as painted now (also used by tests).
  QImage Render() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintTo(QPainter& p) const;

  bool lit_ = false;
  QColor litColor_{0xFF, 0x00, 0x00};     // red
  QColor notLitColor_{0x00, 0x80, 0x00};  // green
};

}  // namespace mq
