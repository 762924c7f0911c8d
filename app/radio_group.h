// TRadioGroup: a captioned group of radio buttons laid out in columns, with
// the selected index (-1 for none) and a click handler that runs only when
// the user picks an item; selecting from code (SetItemIndex) never runs it.
//
// Threading: GUI thread only.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <functional>
#include <vector>

class QRadioButton;
class QButtonGroup;

namespace mq {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  explicit TRadioGroup(QWidget* parent = nullptr);

  QStringList Items() const;
  // Replaces the items in place; the selected index is kept when it still
  // names an item.
  void SetItems(const QStringList& items);
  int Columns() const { return columns_; }
  void SetColumns(int columns);
  int ItemIndex() const;
  void SetItemIndex(int index);
  QRadioButton* Button(int index) const;

  // Runs after the user picked an item.
  std::function<void()> OnClick;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Arrange();

  std::vector<QRadioButton*> buttons_;
  QButtonGroup* group_;
  int columns_ = 1;
};

}  // namespace mq
