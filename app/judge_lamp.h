// TJudgeLamp: the round 17 x 17 judge light of the judge panel. Off shows
// red, on shows OnColor (lime, aqua for judge 0). A click emits Clicked;
// a disabled lamp (its group disabled) takes no clicks.
//
// Threading: GUI thread only.
#pragma once

#include <QColor>
#include <QWidget>

namespace mq {

class TJudgeLamp : public QWidget {
  Q_OBJECT
 public:
  explicit TJudgeLamp(QWidget* parent = nullptr);

  bool On() const { return on_; }
  void SetOn(bool on);
  QColor OnColor() const { return onColor_; }
  void SetOnColor(const QColor& c);
  static QColor OffColor() { return QColor(0xFF, 0x00, 0x00); }
  // The colour the lamp shows now.
  QColor CurrentColor() const { return on_ ? onColor_ : OffColor(); }

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool on_ = false;
  QColor onColor_{0x00, 0xFF, 0x00};  // lime
};

}  // namespace mq
