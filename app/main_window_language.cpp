// TfrmMain's language handling: the language drop-down and "Your language",
// the window's components as the translation component reads and writes
// them (captions, hints, radio items), its own texts from the translation
// tables, and the report of a damaged translation file.

#include "app/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

#include "app/error_reporter.h"
#include "app/log_list_box.h"
#include "app/main_window_internal.h"
#include "app/radio_group.h"
#include "app/si_task_dialog.h"
#include "app/ui_dialogs.h"
#include "i18n/language_startup.h"
#include "i18n/sib_format_error.h"
#include "util/ascii_text.h"

namespace mq {

using namespace main_window_internal;

namespace {

// The dynamic property that keeps a hint as given (its tool tip may be
// markup that shows it as plain text).
constexpr const char* kPlainHint = "mqPlainHint";

// Qt's "\n" back to the captions' CR LF.
std::string FromQt(const QString& text) {
  QString s = text;
  s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return s.toStdString();
}

}  // namespace

// ---------------------------------------------------------------------------
// Texts from the translation tables

QString TfrmMain::Tr(const char* id, std::initializer_list<QString> args) const {
  QString text = QString::fromStdString(siLangRT1_->GetTextOrDefault(id));
  int n = 1;
  for (const QString& arg : args) text.replace(QStringLiteral("%") + QString::number(n++), arg);
  return text;
}

void TfrmMain::ReportTranslationFileError(std::exception_ptr error) const {
  // "Unrecognized stream format!" and the record errors do not say which
  // file; the user has to know which one to replace or remove.
  QString message = ErrorReporter::Message(error);
  const QString file = QString::fromStdString(dataFolder_ + std::string(i18n::TLanguageStartup::kTranslationFileName));
  if (!message.contains(file)) message = file + QStringLiteral(": ") + message;
  ErrorReporter::ReportAny(std::make_exception_ptr(i18n::ESibFormatError(message.toStdString())),
                           QStringLiteral("loading MqTool.sib"));
}

// ---------------------------------------------------------------------------
// The language drop-down

void TfrmMain::SpTBXLang1Click(QObject* sender) {
  auto* item = qobject_cast<QAction*>(sender);
  if (item == nullptr) return;
  const int tag = item->property("Tag").toInt();
  siLangDispatcher1_.SetActiveLanguage(tag);  // throws before anything changed
  // The switch gives the report rows their translated captions ("0".."11")
  // back; the results of the last echo test stay.
  ReapplyReport();
  lbxLog_->UpdateDroppedLine();
  shell_.Language = tag;
  langImage_ = i18n::TLanguageStartup::FlagImageIndex(tag);
  SpTBXSubmenuItemLang_->setIcon(ImageList1(langImage_));
}

void TfrmMain::SpTBXLangXClick() {
  const auto texts = i18n::TLanguageStartup::YourLanguageTexts(*siLangRT1_);
  siTaskDialog1_->Caption = ToQt(texts.caption);
  siTaskDialog1_->Title = ToQt(texts.instruction);
  siTaskDialog1_->Text = ToQt(texts.content);
  siTaskDialog1_->ExpandedText = ToQt(texts.expandedText);
  try {
    siTaskDialog1_->Execute(this, Dialogs());
  } catch (...) {
    ShowMessage(QMessageBox::Information, QCoreApplication::applicationName(),
                ToQt(i18n::TLanguageStartup::YourLanguageFallbackMessage(*siLangRT1_)));
  }
}

// ---------------------------------------------------------------------------
// The window as the translation component sees it

QObject* TfrmMain::FindComponent(std::string_view name) const {
  if (name.empty()) return const_cast<TfrmMain*>(this);
  if (AsciiText::EqualNoCase(name, "siTaskDialog1")) return siTaskDialog1_;
  for (QObject* o : findChildren<QObject*>()) {
    const QByteArray n = o->objectName().toLatin1();
    if (!n.isEmpty() &&
        AsciiText::EqualNoCase(std::string_view(n.constData(), static_cast<std::size_t>(n.size())), name)) {
      // Widgets inside the built dialogs are not components of this window.
      if (o->parent() != nullptr && o->parent()->objectName() == QLatin1String("siTaskDialog1") && o != siTaskDialog1_)
        continue;
      return o;
    }
  }
  return nullptr;
}

bool TfrmMain::HasComponent(std::string_view component) const { return FindComponent(component) != nullptr; }

std::string TfrmMain::ComponentClassName(std::string_view component) const {
  QObject* o = FindComponent(component);
  return o == nullptr ? std::string() : std::string(o->metaObject()->className());
}

std::optional<std::string> TfrmMain::GetText(std::string_view component, std::string_view property) {
  QObject* o = FindComponent(component);
  if (o == nullptr) return std::nullopt;
  if (AsciiText::EqualNoCase(property, "Caption")) {
    if (o == this) return windowTitle().toStdString();
    if (auto* a = qobject_cast<QAction*>(o)) return FromQt(a->text());
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return FromQt(b->text());
    if (auto* l = qobject_cast<QLabel*>(o)) return FromQt(l->text());
    if (auto* g = qobject_cast<QGroupBox*>(o)) return FromQt(g->title());
    return std::nullopt;
  }
  if (AsciiText::EqualNoCase(property, "Hint")) {
    // The hint as it was given, not the markup that shows it as plain text.
    if (const QVariant plain = o->property(kPlainHint); plain.isValid()) return FromQt(plain.toString());
    if (auto* a = qobject_cast<QAction*>(o)) return FromQt(a->toolTip());
    if (auto* w = qobject_cast<QWidget*>(o)) return FromQt(w->toolTip());
    return std::nullopt;
  }
  if (AsciiText::EqualNoCase(property, "ExpandButtonCaption") && o == siTaskDialog1_)
    return FromQt(siTaskDialog1_->ExpandButtonCaption);
  return std::nullopt;
}

void TfrmMain::SetText(std::string_view component, std::string_view property, const std::string& value) {
  QObject* o = FindComponent(component);
  if (o == nullptr) return;
  const QString text = ToQt(value);
  if (AsciiText::EqualNoCase(property, "Caption")) {
    if (o == this) {
      setWindowTitle(text);
    } else if (auto* a = qobject_cast<QAction*>(o)) {
      a->setText(text);
      a->setIconText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
      b->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(o)) {
      l->setText(text);
      if (l->property("autoSize").toBool()) l->adjustSize();
      if (l->property("rightJustify").toBool()) FitCaptions();
      if (l == lblVersion_) PlaceVersionLabel();
    } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
      g->setTitle(text);
      if (g == gbStatus_ || g == gbSystem_ || g == rgDCS_) FitCaptions();
    }
    return;
  }
  if (AsciiText::EqualNoCase(property, "Hint")) {
    // A tool tip that looks like markup is drawn as markup: a hint from the
    // translation file is shown as the text it is.
    const QString tip = Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text;
    o->setProperty(kPlainHint, text);
    if (auto* a = qobject_cast<QAction*>(o))
      a->setToolTip(tip);
    else if (auto* w = qobject_cast<QWidget*>(o))
      w->setToolTip(tip);
    return;
  }
  if (AsciiText::EqualNoCase(property, "ExpandButtonCaption") && o == siTaskDialog1_)
    siTaskDialog1_->ExpandButtonCaption = text;
}

std::optional<std::vector<std::string>> TfrmMain::GetList(std::string_view component, std::string_view property) {
  auto* rg = qobject_cast<TRadioGroup*>(FindComponent(component));
  if (rg == nullptr || !AsciiText::EqualNoCase(property, "Items")) return std::nullopt;
  std::vector<std::string> items;
  for (const QString& s : rg->Items()) items.push_back(FromQt(s));
  return items;
}

void TfrmMain::SetList(std::string_view component, std::string_view property, const std::vector<std::string>& items) {
  auto* rg = qobject_cast<TRadioGroup*>(FindComponent(component));
  if (rg == nullptr || !AsciiText::EqualNoCase(property, "Items")) return;
  QStringList list;
  for (const auto& s : items) list << ToQt(s);
  rg->SetItems(list);
}

}  // namespace mq
