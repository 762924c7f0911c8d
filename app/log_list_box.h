// TLogListBox: the log list lbxLog. Lines keep every character as received
// (control bytes included) and are drawn through ControlPictureDelegate,
// one line per 14-pixel item. The pad link appends; the window clears.
//
// Threading: GUI thread only.
#pragma once

#include <QListWidget>

namespace mq {

class TLogListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TLogListBox(QWidget* parent = nullptr);

  void AddLine(const QString& line);
  int Count() const { return count(); }
  QString Line(int i) const;
};

}  // namespace mq
