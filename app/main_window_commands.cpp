// TfrmMain's command handlers: the toolbar and its drop-downs, the
// base-station and system controls, the judge lights and labels, the
// toolbar's keyboard use, and the context menus that copy and save the log
// and save the echo report.

#include "app/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cstdint>

#include "shell/atomic_file_writer.h"
#include "app/control_picture_delegate.h"
#include "app/error_reporter.h"
#include "app/help_window.h"
#include "app/judge_lamp.h"
#include "app/link_state_view.h"
#include "app/log_list_box.h"
#include "app/main_window_internal.h"
#include "app/pad_link_commands.h"
#include "app/radio_group.h"
#include "app/ui_dialogs.h"
#include "app/windows_1252.h"
#include "padlink/echo_report.h"
#include "util/ascii_text.h"

namespace mq {

using namespace main_window_internal;

namespace {

// A key on a toolbar button that has the focus, as on a menu bar: Left and
// Right move to the neighbouring button (round the ends), Down and Return
// press it (a drop-down opens its menu), Escape leaves the toolbar. True
// when the key was used.
bool ToolbarKey(const QToolBar* bar, QToolButton* button, int key) {
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
      const auto buttons = ReachableToolbarButtons(bar);
      const auto at = std::find(buttons.begin(), buttons.end(), button);
      if (at == buttons.end()) return false;
      const auto n = static_cast<std::ptrdiff_t>(buttons.size());
      const auto next = (at - buttons.begin() + (key == Qt::Key_Right ? 1 : n - 1)) % n;
      buttons[static_cast<std::size_t>(next)]->setFocus(Qt::OtherFocusReason);
      return true;
    }
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (button->defaultAction() != nullptr && button->defaultAction()->menu() != nullptr)
        button->showMenu();
      else
        button->click();
      return true;
    case Qt::Key_Escape: button->clearFocus(); return true;
    default: return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands

void TfrmMain::SpTBXItemExitClick() { close(); }

void TfrmMain::SpTBXItemFullScanClick() {
  ScansOff();
  ClearEcho();
  ReSetLEDs();
  lbxLog_->clear();
  if (link_) link_->FullScan();
}

void TfrmMain::SpTBXItemActivePortClick() {
  ScansOff();
  ClearEcho();
  ReSetLEDs();
  if (link_) link_->ScanPortForPads();
}

void TfrmMain::SpTBXItemSilentClick() {
  ScansOff();
  ClearEcho();
  ReSetLEDs();
  if (link_) link_->SilentScanAll();
}

void TfrmMain::SpTBXItemNextDiveClick() {
  ClearEcho();
  for (QLabel* j : J_) j->clear();
  if (link_) link_->SendDive(TestDives[static_cast<std::size_t>(shell_.NextDiveIndex % 10)]);
  shell_.NextDiveIndex = (shell_.NextDiveIndex + 1) % 10;
}

void TfrmMain::SpTBXItemJudgeClick() {
  ClearEcho();
  if (link_) link_->RequestJudgeIDs();
}

void TfrmMain::SpTBXItemLockClick() {
  ClearEcho();
  if (link_) link_->KbdLocked(true);
}

void TfrmMain::SpTBXItemUnlockClick() {
  ClearEcho();
  if (link_) link_->KbdLocked(false);
}

void TfrmMain::SpTBXItemEchoClick() {
  pnlEcho_->raise();
  ClearEcho();
  ProgressBar_->setGeometry(150, ProgressBar_->y(), 275, ProgressBar_->height());
  ProgressBar_->setValue(ProgressBar_->minimum());
  ProgressBar_->show();
  ProgressBar_->raise();
  lbxLog_->clear();
  if (link_) link_->TestEcho(SpinValue(TestSpinEdit_));
  UpdateContextMenus();
}

void TfrmMain::SpTBXCharTestClick() {
  if (edtCommand_->text().isEmpty()) edtCommand_->setText(QStringLiteral("160"));
  long long start = 160;
  const auto v = WholeNumber(edtCommand_->text());
  if (!v || *v > INT32_MAX || *v < INT32_MIN) {
    edtCommand_->setText(QStringLiteral("160"));
  } else {
    start = *v;
  }
  if (start > 246) start = 246;
  std::string codes;
  for (long long c = start; c < start + 10; ++c)
    codes.push_back(static_cast<char>(static_cast<unsigned char>(c & 0xFF)));
  if (link_) link_->SendDive(codes);
  edtCommand_->setText(QString::number(start + 10));
}

void TfrmMain::SpTBXItemHelpClick() {
  if (help_ == nullptr) help_ = new THelpWindow(this);
  help_->ShowContents();
}

char TfrmMain::PadIdFromControlName(std::string_view name) {
  const bool light = name.size() >= 3 && AsciiText::EqualNoCase(name.substr(0, 3), "LED");
  const std::size_t shortLength = light ? 4 : 5;  // "LED0", "JLab0"
  if (name.size() == shortLength) return name.back();
  if (name.size() > shortLength) {
    const char next = name[shortLength];  // after "LED1" / "JLab1"
    if (next == '0') return 'a';
    if (next == '1') return 'c';
  }
  return '0';
}

void TfrmMain::LEDClick(QObject* sender) {
  ClearEcho();
  if (auto* lamp = qobject_cast<TJudgeLamp*>(sender)) lamp->SetOn(false);
  if (link_ && sender) link_->SilentScan(PadIdFromControlName(sender->objectName().toStdString()));
}

void TfrmMain::JLabClick(QObject* sender) {
  ClearEcho();
  if (link_ && sender) link_->EchoOneJudge(PadIdFromControlName(sender->objectName().toStdString()));
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
      watched->parent() == ChannelSpinEdit_) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Paste)) {
      event->accept();
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && watched->parent() == SpTBXToolbar1_) {
    auto* button = qobject_cast<QToolButton*>(watched);
    if (button != nullptr && ToolbarKey(SpTBXToolbar1_, button, static_cast<QKeyEvent*>(event)->key())) return true;
  }
  if (event->type() == QEvent::MouseButtonRelease) {
    auto* label = qobject_cast<QLabel*>(watched);
    if (label != nullptr && label->isEnabled() && std::find(JLab_.begin(), JLab_.end(), label) != JLab_.end()) {
      ErrorReporter::Guard([this, label] { JLabClick(label); }, "JLabClick")();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMain::btnAbortClick() {
  if (link_) link_->SetEchoLoops(1);
}

void TfrmMain::btnSetChannelClick() {
  ClearEcho();
  if (link_) link_->SetChannel(SpinValue(ChannelSpinEdit_));
  ReSetLEDs();
}

void TfrmMain::btnResetClick() {
  ClearEcho();
  if (link_) link_->BaseStationReset();
  ChannelSpinEdit_->setValue(7);
  ReSetLEDs();
}

void TfrmMain::btnCmdClick() {
  ClearEcho();
  if (link_) link_->SendCustomCmd(Windows1252::Encode(edtCommand_->text()));
}

void TfrmMain::chk1Click() {
  if (link_) link_->SetBroadcast(chk1_->isChecked());
}

void TfrmMain::rgBandwidthClick() {
  ReSetLEDs();
  if (link_) link_->SetBandwidth(rgBandwidth_->ItemIndex());
}

void TfrmMain::rgDCSClick() {
  const int index = rgDCS_->ItemIndex();
  if (index < 0) return;
  ReSetLEDs();
  ClearEcho();
  if (link_) link_->DCS(index == 0);
}

// ---------------------------------------------------------------------------
// Context menus: copy and save the log, save the echo report.

void TfrmMain::UpdateContextMenus() {
  mnuLogCopy_->setEnabled(!lbxLog_->selectedItems().isEmpty());
  mnuLogSave_->setEnabled(lbxLog_->count() > 0);
  // Cheap: this runs for every log line.
  const padlink::TEchoRecord* record = State().EchoRecord();
  mnuSaveReport_->setEnabled(record != nullptr && State().EchoStats() != nullptr && !record->Running() &&
                             !record->Cells().empty());
}

QString TfrmMain::LogText(bool selectedOnly) const {
#ifdef _WIN32
  const QString eol = QStringLiteral("\r\n");
#else
  const QString eol = QStringLiteral("\n");
#endif
  QString text;
  for (int i = 0; i < lbxLog_->count(); ++i) {
    const QListWidgetItem* item = lbxLog_->item(i);
    if (selectedOnly && !item->isSelected()) continue;
    for (const QChar c : item->text()) {
      if (ControlPictureDelegate::IsControl(c))
        text += QLatin1Char('<') + ControlPictureDelegate::Mnemonic(c) + QLatin1Char('>');
      else
        text += c;
    }
    text += eol;
  }
  return text;
}

std::string TfrmMain::EchoReportHtml() const {
  const padlink::TEchoRecord* record = State().EchoRecord();
  const auto* stats = State().EchoStats();
  if (record == nullptr || stats == nullptr || record->Running() || record->Cells().empty()) return {};
  static constexpr const char* kBandwidths[] = {"12.5 kHz", "25 kHz", "50 kHz", "100 kHz", "300 kHz"};
  padlink::TEchoReportFacts facts;
  facts.DateTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
  facts.ProgramVersion = versionText_.toStdString();
  // The station the test ran against: a link lost since has cleared the
  // link state, not the record.
  const padlink::TEchoStation& station = record->Station();
  const bool recorded = station.Port > 0;
  const int port = recorded ? station.Port : State().BasePort();
  const int bandwidth = recorded ? station.BandwidthIndex : shell_.BandwidthIndex;
  facts.Port = port > 0 ? "COM" + std::to_string(port) : std::string();
  facts.BaseIdent = recorded ? station.BaseIdent : State().BaseIdent();
  facts.Channel = recorded ? station.Channel : State().ChannelText();
  facts.Bandwidth = bandwidth >= 0 && bandwidth <= 4 ? kBandwidths[bandwidth] : std::to_string(bandwidth);
  return padlink::TEchoReport(facts, *record, *stats, EchoReportTexts()).Html();
}

padlink::TEchoReportTexts TfrmMain::EchoReportTexts() const {
  padlink::TEchoReportTexts t;
  static constexpr const char* kCodes[] = {"en", "nl", "fr", "de", "es", "it", "hr", "tr", "da", "sv"};
  const int lang = siLangDispatcher1_.ActiveLanguage();
  if (lang >= 1 && lang <= 10) t.Language = kCodes[lang - 1];
  // An entry a translation file lacks keeps the English text.
  const std::pair<std::string*, const char*> fields[] = {{&t.Title, "IDS_300"},
                                                         {&t.DateTime, "IDS_301"},
                                                         {&t.BaseStation, "IDS_302"},
                                                         {&t.ProgramVersion, "IDS_303"},
                                                         {&t.Channel, "IDS_304"},
                                                         {&t.Port, "IDS_305"},
                                                         {&t.Bandwidth, "IDS_306"},
                                                         {&t.TestDelay, "IDS_307"},
                                                         {&t.Loops, "IDS_308"},
                                                         {&t.Pads, "IDS_309"},
                                                         {&t.Duration, "IDS_310"},
                                                         {&t.LoopsOfAsked, "IDS_311"},
                                                         {&t.EndedEarly, "IDS_312"},
                                                         {&t.Estimate, "IDS_313"},
                                                         {&t.ReportHeading, "IDS_314"},
                                                         {&t.SharesHeading, "IDS_315"},
                                                         {&t.TimelineHeading, "IDS_316"},
                                                         {&t.Judge, "IDS_317"},
                                                         {&t.Pad, "IDS_318"},
                                                         {&t.Replies, "IDS_319"},
                                                         {&t.Resends, "IDS_320"},
                                                         {&t.Missed, "IDS_321"},
                                                         {&t.Steps, "IDS_322"},
                                                         {&t.Reads, "IDS_323"},
                                                         {&t.Sends, "IDS_324"},
                                                         {&t.AtOnce, "IDS_325"},
                                                         {&t.AfterResend, "IDS_326"},
                                                         {&t.NoAnswer, "IDS_327"},
                                                         {&t.LateReplies, "IDS_328"},
                                                         {&t.AnsweredAtOnce, "IDS_329"},
                                                         {&t.MissedSend, "IDS_330"},
                                                         {&t.MissedRead, "IDS_331"},
                                                         {&t.NotRun, "IDS_332"},
                                                         {&t.TimelineLabel, "IDS_333"},
                                                         {&t.JudgeLabel, "IDS_334"},
                                                         {&t.OneLoop, "IDS_335"},
                                                         {&t.LoopRange, "IDS_336"},
                                                         {&t.StepsAtOnce, "IDS_337"},
                                                         {&t.ColumnNote, "IDS_338"},
                                                         {&t.HowToRead, "IDS_339"}};
  for (const auto& [field, entry] : fields) {
    std::string text = siLangRT1_->GetTextOrDefault(entry);
    if (!text.empty()) *field = std::move(text);
  }
  return t;
}

QString TfrmMain::AskSaveFile(const char* objectName, const QAction* action, const QString& suggested,
                              const QString& filter) {
  QString title = action->text();
  title.remove(QChar(0x2026));
  QFileDialog dialog(this, title, QDir(QDir::homePath()).filePath(suggested), filter);
  dialog.setObjectName(QString::fromLatin1(objectName));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (Dialogs().Exec(dialog) != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

void TfrmMain::SaveFile(const QString& path, const std::string& content) {
  try {
    AtomicFileWriter::Write(path.toStdString(), content);
  } catch (const FileWriteError& e) {
    ShowMessage(QMessageBox::Warning, QCoreApplication::applicationName(), QString::fromStdString(e.what()));
  }
}

void TfrmMain::mnuLogCopyClick() {
  const QString text = LogText(true);
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void TfrmMain::mnuLogSaveClick() {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HHmm"));
  const QString path = AskSaveFile("dlgSaveLog", mnuLogSave_, QStringLiteral("MqTool log %1.txt").arg(stamp),
                                   QStringLiteral("Text (*.txt);;* (*)"));
  if (!path.isEmpty()) SaveFile(path, LogText(false).toStdString());
}

void TfrmMain::mnuSaveReportClick() {
  const std::string html = EchoReportHtml();
  if (html.empty()) return;
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HHmm"));
  const QString path = AskSaveFile("dlgSaveReport", mnuSaveReport_, QStringLiteral("Echo test %1.html").arg(stamp),
                                   QStringLiteral("HTML (*.html *.htm)"));
  if (!path.isEmpty()) SaveFile(path, html);
}

}  // namespace mq
