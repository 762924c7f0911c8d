// TsiTaskDialog: the task dialog of the main window ("Your language"): a
// window caption, a main instruction, the content, an expandable text behind
// an expand button (ExpandButtonCaption, "More.." in English) and one OK
// button. With siLang set, Execute relabels the dialog's buttons and labels
// from that component's dialog captions in the active language before the
// dialog is shown. The translation component reaches ExpandButtonCaption as
// "siTaskDialog1.ExpandButtonCaption".
//
// Threading: GUI thread only.
#pragma once

#include <QObject>
#include <QString>

class QDialog;
class QWidget;

namespace mq {
namespace i18n {
class TsiCustomLang;
}
class UiDialogs;

class TsiTaskDialog : public QObject {
  Q_OBJECT
 public:
  explicit TsiTaskDialog(QObject* parent = nullptr) : QObject(parent) {}

  QString Caption;
  QString Title;
  QString Text;
  QString ExpandedText;
  QString ExpandButtonCaption = QStringLiteral("More..");
  i18n::TsiCustomLang* siLang = nullptr;

  // Builds the dialog, relabels it and runs it through dialogs; whatever
  // prevents showing it propagates to the caller.
  void Execute(QWidget* owner, UiDialogs& dialogs);

  // Object names inside the built dialog (for tests).
  static constexpr const char* kExpandButton = "btnExpand";
  static constexpr const char* kExpandedLabel = "lblExpanded";
};

}  // namespace mq
