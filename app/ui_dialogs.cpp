#include "app/ui_dialogs.h"

#include <QDialog>

namespace mq {

int UiDialogs::Exec(QDialog& dialog) { return dialog.exec(); }

UiDialogs& UiDialogs::Default() {
  static UiDialogs dialogs;
  return dialogs;
}

}  // namespace mq
