// RecordingDialogs: UiDialogs for tests. Every dialog is recorded (object
// name, window title, the texts of its labels and buttons, the message-box
// text and icon) instead of being shown, and answered at once with Result;
// Throw makes the named dialog fail as if it could not be shown. A file
// dialog is answered with the file SaveAs.
//
// Threading: test thread only.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <stdexcept>
#include <vector>

#include "app/ui_dialogs.h"

namespace mq {

class RecordingDialogs : public UiDialogs {
 public:
  struct Shown {
    QString objectName, title, text;
    int icon = 0;
    QStringList labels, buttons;
    // Labels (a message box's text included) that would read their text as
    // markup: texts from outside must never be.
    int markupLabels = 0;
  };
  std::vector<Shown> shown;
  int Result = 0;
  QString Throw;   // object name of a dialog that fails
  QString SaveAs;  // the file a file dialog picks

  int Exec(QDialog& dialog) override {
    Shown s;
    s.objectName = dialog.objectName();
    s.title = dialog.windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      s.text = box->text();
      s.icon = static_cast<int>(box->icon());
      if (box->textFormat() != Qt::PlainText) ++s.markupLabels;
    }
    for (auto* l : dialog.findChildren<QLabel*>()) {
      s.labels << l->text();
      const bool ownedByBox = qobject_cast<QMessageBox*>(&dialog) != nullptr;  // counted above
      if (!ownedByBox && !l->text().isEmpty() && l->textFormat() != Qt::PlainText) ++s.markupLabels;
    }
    for (auto* b : dialog.findChildren<QAbstractButton*>()) s.buttons << b->text();
    shown.push_back(s);
    if (!Throw.isEmpty() && dialog.objectName() == Throw) throw std::runtime_error("no task dialog here");
    if (auto* files = qobject_cast<QFileDialog*>(&dialog); files != nullptr && !SaveAs.isEmpty())
      files->selectFile(SaveAs);
    return Result;
  }
};

}  // namespace mq
