#include "app/control_picture_delegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

namespace mq {
namespace {

constexpr const char* kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
                                    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

int BoxWidth(const QFontMetrics& fm) { return 2 * fm.horizontalAdvance(QLatin1Char('M')); }

}  // namespace

QString ControlPictureDelegate::Mnemonic(QChar c) {
  if (c.unicode() < 0x20) return QString::fromLatin1(kNames[c.unicode()]);
  if (c.unicode() == 0x7F) return QStringLiteral("DEL");
  if (c.unicode() >= 0x80 && c.unicode() <= 0x9F) return QString::number(c.unicode(), 16).toUpper();
  return {};
}

int ControlPictureDelegate::LineWidth(const QString& text, const QFont& f) {
  const QFontMetrics fm(f);
  int w = 0;
  QString run;
  for (QChar c : text) {
    if (IsControl(c)) {
      w += fm.horizontalAdvance(run) + BoxWidth(fm);
      run.clear();
    } else {
      run.append(c);
    }
  }
  return w + fm.horizontalAdvance(run);
}

QSize ControlPictureDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QString text = index.data(Qt::DisplayRole).toString();
  return {LineWidth(text, option.font) + 4, 14};
}

void ControlPictureDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString text = opt.text;
  opt.text.clear();
  const QWidget* w = opt.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, w);  // background and selection

  painter->save();
  painter->setFont(opt.font);
  const QFontMetrics fm(opt.font);
  const bool selected = (opt.state & QStyle::State_Selected) != 0;
  const QColor ink = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  painter->setPen(ink);
  const QRect r = opt.rect;
  int x = r.left() + 2;
  const int baseline = r.top() + (r.height() - fm.height()) / 2 + fm.ascent();
  QFont small = opt.font;
  small.setPixelSize(qMax(7, fm.height() * 2 / 3));
  QString run;
  auto flush = [&] {
    if (run.isEmpty()) return;
    painter->drawText(x, baseline, run);
    x += fm.horizontalAdvance(run);
    run.clear();
  };
  for (QChar c : text) {
    if (!IsControl(c)) {
      run.append(c);
      continue;
    }
    flush();
    const int bw = BoxWidth(fm);
    const QRect box(x + 1, r.top() + 1, bw - 2, r.height() - 3);
    painter->save();
    painter->setPen(QPen(ink, 1));
    painter->drawRect(box);
    painter->setFont(small);
    const QString name = Mnemonic(c);
    // Squeeze the mnemonic into the box when the small font is still too wide.
    const QFontMetrics sm(small);
    const int tw = sm.horizontalAdvance(name);
    const double sx = tw > box.width() - 2 ? double(box.width() - 2) / tw : 1.0;
    painter->translate(box.center().x() + 1, box.center().y() + 1);
    painter->scale(sx, 1.0);
    painter->drawText(QRect(-tw / 2 - 1, -sm.height() / 2, tw + 2, sm.height()), Qt::AlignCenter, name);
    painter->restore();
    x += bw;
  }
  flush();
  painter->restore();
}

}  // namespace mq
