// TLogListBox: the log list lbxLog. Lines keep every character as received
// (control bytes included) and are drawn through ControlPictureDelegate,
// one line per 14-pixel item. The pad link appends; the window clears.
//
// The list is bounded: it keeps the most recent MaxLines() lines, so a long
// competition day with a busy radio does not grow the window without end.
// Once lines have been dropped, the first line kept says how many (its text
// comes from the window, in the window's language); copying and saving the
// log see exactly the lines kept.
//
// Threading: GUI thread only.
#pragma once

#include <QListWidget>
#include <functional>

namespace mq {

class TLogListBox : public QListWidget {
  Q_OBJECT
 public:
  static constexpr int DefaultMaxLines = 20000;

  explicit TLogListBox(QWidget* parent = nullptr);
  ~TLogListBox() override;

  void AddLine(const QString& line);
  int Count() const { return count(); }
  QString Line(int i) const;

  // Lines kept at most, the count line included (at least 2). A smaller
  // bound takes effect with the next line added.
  void SetMaxLines(int maxLines);
  int MaxLines() const { return maxLines_; }
  // Lines dropped since the list was last cleared.
  long long Dropped() const { return dropped_; }
  // The text of the count line before the number ("Earlier lines dropped:").
  void SetDroppedCaption(std::function<QString()> caption);
  // Writes the count line again (after a change of language).
  void UpdateDroppedLine();

 private:
  void DropOldest(int lines);

  int maxLines_ = DefaultMaxLines;
  long long dropped_ = 0;
  std::function<QString()> droppedCaption_;
};

}  // namespace mq
