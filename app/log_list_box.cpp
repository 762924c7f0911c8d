#include "app/log_list_box.h"

#include <algorithm>

#include "app/control_picture_delegate.h"

namespace mq {

TLogListBox::TLogListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new ControlPictureDelegate(this));
  setUniformItemSizes(true);
  // Laid out in batches: otherwise every line added and scrolled to lays
  // out the whole list again, which costs milliseconds a line when it is
  // full (bench/log_memory).
  setLayoutMode(QListView::Batched);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // clear() is no virtual: its reset of the model starts the count anew.
  connect(model(), &QAbstractItemModel::modelReset, this, [this] { dropped_ = 0; });
}

TLogListBox::~TLogListBox() {
  // The view's own destructor resets the model after this part of the
  // object has gone: the count must not be reached from there.
  disconnect(model(), nullptr, this, nullptr);
}

void TLogListBox::AddLine(const QString& line) {
  if (count() >= maxLines_) DropOldest(count() - maxLines_ + 1);
  addItem(line);
  scrollToBottom();
}

QString TLogListBox::Line(int i) const {
  const QListWidgetItem* it = item(i);
  return it ? it->text() : QString();
}

void TLogListBox::SetMaxLines(int maxLines) { maxLines_ = std::max(2, maxLines); }

void TLogListBox::SetDroppedCaption(std::function<QString()> caption) {
  droppedCaption_ = std::move(caption);
  UpdateDroppedLine();
}

void TLogListBox::DropOldest(int lines) {
  // Line 0 is the count line once lines have gone; the first time, one more
  // line makes room for it.
  const int first = dropped_ > 0 ? 1 : 0;
  if (first == 0) ++lines;
  lines = std::min(lines, count() - first);
  if (lines <= 0) return;
  model()->removeRows(first, lines);
  dropped_ += lines;
  if (first == 0) insertItem(0, QString());
  UpdateDroppedLine();
}

void TLogListBox::UpdateDroppedLine() {
  if (dropped_ == 0 || count() == 0) return;
  const QString caption = droppedCaption_ ? droppedCaption_() : QStringLiteral("Earlier lines dropped:");
  item(0)->setText(caption + QLatin1Char(' ') + QString::number(dropped_));
}

}  // namespace mq
