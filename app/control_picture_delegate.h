// ControlPictureDelegate: draws the log list's lines with every control
// character (0x00..0x1F, 0x7F..0x9F) visible as a small boxed mnemonic ("STX",
// "EOT", "ESC", ...) instead of dropping it. The machine's fixed fonts
// rarely carry the Unicode control pictures, so the boxes are drawn here,
// two character cells wide, in any font.
//
// Threading: GUI thread only.
#pragma once

#include <QStyledItemDelegate>

namespace mq {

class ControlPictureDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // "NUL", "SOH", ... "US", "DEL", and the C1 controls (bytes that code
  // page 1252 leaves undefined) as their hex value "81"; empty otherwise.
  static QString Mnemonic(QChar c);
  static bool IsControl(QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F); }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Width in pixels of a line drawn in font f.
  static int LineWidth(const QString& text, const QFont& f);
};

}  // namespace mq
