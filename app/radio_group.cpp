#include "app/radio_group.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QRadioButton>

namespace mq {

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent), group_(new QButtonGroup(this)) {
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton*) {
    if (OnClick) OnClick();
  });
}

QStringList TRadioGroup::Items() const {
  QStringList items;
  for (auto* b : buttons_) items << b->text();
  return items;
}

void TRadioGroup::SetItems(const QStringList& items) {
  const int selected = ItemIndex();
  while (buttons_.size() > static_cast<std::size_t>(items.size())) {
    delete buttons_.back();
    buttons_.pop_back();
  }
  for (int i = 0; i < items.size(); ++i) {
    if (static_cast<std::size_t>(i) < buttons_.size()) {
      buttons_[i]->setText(items[i]);
    } else {
      auto* b = new QRadioButton(items[i], this);
      group_->addButton(b, i);
      b->show();
      buttons_.push_back(b);
    }
  }
  if (selected >= 0 && selected < items.size()) SetItemIndex(selected);
  Arrange();
}

void TRadioGroup::SetColumns(int columns) {
  columns_ = columns < 1 ? 1 : columns;
  Arrange();
}

int TRadioGroup::ItemIndex() const {
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < buttons_.size()) {
    buttons_[index]->setChecked(true);
    return;
  }
  // No selection: an exclusive group cannot uncheck, so suspend it.
  group_->setExclusive(false);
  for (auto* b : buttons_) b->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Button(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < buttons_.size() ? buttons_[index] : nullptr;
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  Arrange();
}

void TRadioGroup::Arrange() {
  if (buttons_.empty()) return;
  const int count = static_cast<int>(buttons_.size());
  const int perColumn = (count + columns_ - 1) / columns_;
  const int top = QFontMetrics(font()).height() + 2;
  const int buttonWidth = (width() - 10) / columns_;
  const int rowHeight = (height() - top - 4) / perColumn;
  for (int i = 0; i < count; ++i) {
    const int col = i / perColumn, row = i % perColumn;
    buttons_[i]->setGeometry(8 + col * buttonWidth, top + row * rowHeight, buttonWidth - 2, rowHeight);
  }
}

}  // namespace mq
