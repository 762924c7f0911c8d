// UiDialogs: where the window program runs its modal dialogs (message boxes,
// the "Your language" task dialog, the error report). The program uses the
// default, which simply executes them; tests replace it to see what would be
// shown and to answer without a user.
//
// Threading: GUI thread only.
#pragma once

class QDialog;

namespace mq {

class UiDialogs {
 public:
  virtual ~UiDialogs() = default;
  // Shows the dialog modally and returns its result code.
  virtual int Exec(QDialog& dialog);

  // The instance used when none is given.
  static UiDialogs& Default();
};

}  // namespace mq
