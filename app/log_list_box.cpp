#include "app/log_list_box.h"

#include "app/control_picture_delegate.h"

namespace mq {

TLogListBox::TLogListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new ControlPictureDelegate(this));
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void TLogListBox::AddLine(const QString& line) {
  addItem(line);
  scrollToBottom();
}

QString TLogListBox::Line(int i) const {
  const QListWidgetItem* it = item(i);
  return it ? it->text() : QString();
}

}  // namespace mq
