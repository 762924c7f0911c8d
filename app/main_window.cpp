// TfrmMain's core: creation (FormCreate) and close (FormClose) with the
// settings, the window's size, Refresh and the echo test's duration, and
// what the pad link writes into the window. The layout, the command
// handlers and the language handling are in main_window_layout.cpp,
// main_window_commands.cpp and main_window_language.cpp.

#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/apd_status_light.h"
#include "app/app_fonts.h"
#include "shell/data_folder.h"
#include "app/error_reporter.h"
#include "app/help_window.h"
#include "app/judge_lamp.h"
#include "app/link_state_view.h"
#include "app/log_list_box.h"
#include "app/main_window_internal.h"
#include "app/pad_link_commands.h"
#include "app/radio_group.h"
#include "shell/settings.h"
#include "app/si_task_dialog.h"
#include "app/ui_dialogs.h"
#include "app/windows_1252.h"
#include "i18n/catalogue/builtin_tables.h"
#include "version/file_version_info.h"
#include "i18n/language_startup.h"

// The images and the guide live in this library's resources.
static void InitWindowResources() { Q_INIT_RESOURCE(mqtool); }

namespace mq {
namespace {

// The pad link's start state, shown while no pad link is attached.
class StartLinkState : public LinkStateView {
 public:
  int BasePort() const override { return 0; }
  std::vector<std::string> PadList() const override { return {}; }
  std::vector<std::string> FirmwareList() const override { return {}; }
  std::string BaseIdent() const override { return {}; }
  std::string PortText() const override { return {}; }
  std::string ChannelText() const override { return {}; }
  bool DCSAvailable() const override { return false; }
  bool Broadcast() const override { return false; }
  int CurJudge() const override { return 0; }
};

// Picture names without suffix: SVG, or PNG drawn from the SVG where Qt has
// no SVG module (MQ_IMAGE_SUFFIX, set by the build).
const char* const kImageFiles[24] = {"img00_exit",
                                     "img01_scans",
                                     "img02_full_scan",
                                     "img03_next_dive",
                                     "img04_marq_commands",
                                     "img05_echo_test",
                                     "img06_help",
                                     "img07_judge_id",
                                     "img08_lock_kbd",
                                     "img09_unlock_kbd",
                                     nullptr,
                                     "img11_active_port",
                                     nullptr,
                                     "img13_language",
                                     "img14_flag_english",
                                     "img15_flag_dutch",
                                     "img16_flag_french",
                                     "img17_flag_german",
                                     "img18_flag_spanish",
                                     "img19_flag_italian",
                                     "img20_flag_croatian",
                                     "img21_flag_turkish",
                                     "img22_flag_danish",
                                     "img23_flag_swedish"};

}  // namespace

// Helpers the window's source files share (main_window_internal.h).
namespace main_window_internal {

QString ToQt(const std::string& utf8) {
  QString s = QString::fromStdString(utf8);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.remove(QLatin1Char('\r'));
  return s;
}

std::vector<QToolButton*> ReachableToolbarButtons(const QToolBar* bar) {
  std::vector<QToolButton*> buttons;
  for (QAction* a : bar->actions())
    if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a)); b && b->isVisible() && b->isEnabled())
      buttons.push_back(b);
  return buttons;
}

std::optional<long long> WholeNumber(const QString& text) {
  const std::string s = text.trimmed().toStdString();
  if (s.empty()) return std::nullopt;
  std::size_t start = s[0] == '+' ? 1 : 0;
  if (start == s.size()) return std::nullopt;
  long long v = 0;
  const auto res = std::from_chars(s.data() + start, s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

void SetColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, c);
  w->setPalette(p);
}

}  // namespace main_window_internal

using namespace main_window_internal;

const std::array<const char*, 10> TfrmMain::TestDives = {
    "103B 3m    First Diver", "201B 3m    Diver Two", "301B 1m    Third Diver",   "403B 3m    Diver Four",
    "5134D 3m   Fifth Diver", "107C 5m    Diver Six", "205B 10m   Seventh Diver", "305C 10m   Diver Eight",
    "405B 3m    Ninth Diver", "5152D 3m   Diver Ten"};

TfrmMain::TfrmMain(Options options) : QWidget(nullptr), options_(std::move(options)) {
  setObjectName(QStringLiteral("frmMain"));
  InitWindowResources();
  AppFonts::EnsureTahoma();
  setFont(options_.windowFont ? *options_.windowFont : AppFonts::Window());
  for (int i = 0; i < 24; ++i)
    if (kImageFiles[i] != nullptr)
      images_[i] = QIcon(QStringLiteral(":/images/") + QString::fromLatin1(kImageFiles[i]) +
                         QStringLiteral(MQ_IMAGE_SUFFIX));
  setWindowIcon(QIcon(QStringLiteral(":/images/mqtool" MQ_IMAGE_SUFFIX)));

  BuildLayout();
  Connect();
  apdslcntrlr1_.Lights.RXDLight = apdstslghtRX_;
  apdslcntrlr1_.Lights.TXDLight = apdstslghtTX_;
  // What the pad link reads of the shell besides the settings.
  shell_.TestDelay = SpinValue(TestDelaySpinEdit_);
  shell_.DecimalSeparator = DecimalSeparatorOf(QLocale::system());
  shell_.MillisecondsOfMinute = &TfrmMain::LocalMillisecondsOfMinute;

  // The translation component reads its table with the layout, then links.
  siLangRT1_ = std::make_unique<i18n::TsiLangRT>(this);
  siLangRT1_->ApplyMainWindowSettings();
  siLangRT1_->LoadTranslationData(i18n::BuiltinTranslationData("TfrmMain"));
  siLangRT1_->Loaded(&siLangDispatcher1_);
  siTaskDialog1_->siLang = siLangRT1_.get();
  // The error-report window speaks the window's language.
  ErrorReporter::SetTextSource(this, [this](const char* entry) { return siLangRT1_->GetTextOrDefault(entry); });

  FormCreate();
}

TfrmMain::~TfrmMain() {
  ErrorReporter::ClearTextSource(this);
  SetBusyCursor(false);
  // The log list empties itself as the widgets go, after this object is no
  // longer a TfrmMain: its signals must not reach this window's slots then.
  lbxLog_->disconnect(this);
  lbxLog_->model()->disconnect(this);
  // The component talks to the widgets while it unlinks; drop it first.
  siLangRT1_.reset();
}

void TfrmMain::AttachPadLink(PadLinkCommands* commands, const LinkStateView* state) {
  link_ = commands;
  state_ = state;
  UpdateContextMenus();
}

const LinkStateView& TfrmMain::State() const {
  static const StartLinkState start;
  return state_ != nullptr ? *state_ : start;
}

UiDialogs& TfrmMain::Dialogs() const { return options_.dialogs ? *options_.dialogs : UiDialogs::Default(); }

QIcon TfrmMain::ImageList1(int index) const {
  return index >= 0 && index < 24 ? images_[static_cast<std::size_t>(index)] : QIcon();
}

// ---------------------------------------------------------------------------
// Creation and close

void TfrmMain::ObtainVersionInfo() {
  TFileVersionInfo FVInfo;
  if (!options_.versionFile.empty()) FVInfo.SetVerFileName(options_.versionFile);
  try {
    versionText_ = QString::fromStdU16String(FVInfo.StrVerFileVersion());
    (void)FVInfo.StrVerFileProductVersion();
  } catch (const std::exception& e) {
    // Version data without a translation table: show why instead of a version.
    versionText_ = QString::fromUtf8(e.what()).trimmed();
    std::fprintf(stderr, "MqTool: version information: %s\n", e.what());
  }
  versionText_ = versionText_.trimmed();
}

void TfrmMain::FormCreate() {
  shell_.PadsFound = false;
  exeFolder_ = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString() + "/";
  ObtainVersionInfo();
  lblVersion_->setText(versionText_);
  PlaceVersionLabel();
  setWindowTitle(QString::fromLatin1(kCaption));  // no help file to name: the guide is in the resources
  SetOuterWidth(kStartOuterWidth);                // too narrow for the log, which shows when the user widens the window
  dataFolder_ = options_.dataFolder ? *options_.dataFolder : DataFolder::Locate();
  if (dataFolder_.empty()) {
    // No settings to read or write: say so, and leave the window as laid out.
    const QString text = QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_3")) + QStringLiteral("\n") +
                         QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_4"));
    ShowMessage(QMessageBox::Critical, QStringLiteral("Error"), text);
    return;
  }
  settingsFile_ = std::make_unique<IniFile>(dataFolder_ + Settings::kFileName);
  shell_.NextDiveIndex = 0;
  shell_.PadCount = 0;
  StartStates();
  FileReadResult settingsRead;
  const Settings settings = Settings::Load(*settingsFile_, &settingsRead);  // read once
  // A file that exists but cannot be read is not written over at close;
  // the user learns why once the language is set up.
  if (settingsRead.status != FileReadStatus::Read && settingsRead.status != FileReadStatus::Missing)
    settingsUnread_ = settingsRead;
  shell_.Language = settings.Language;
  // The translation file in the data folder, when there is one.
  try {
    i18n::TLanguageStartup::LoadTranslationFile(siLangDispatcher1_, dataFolder_);
  } catch (...) {
    // A damaged translation file: the built-in tables stay; the user sees
    // why, once. The pad-link form, which links later, must not read the
    // same file again and report the same fault a second time.
    siLangDispatcher1_.FileName.clear();
    ReportTranslationFileError(std::current_exception());
  }
  // The language items the "Languages" setting enables or disables; a
  // setting too short for an item leaves that item as laid out.
  shell_.Languages = settings.Languages;
  const auto enabled = i18n::TLanguageStartup::LanguageItemsEnabled(shell_.Languages);
  for (std::size_t i = 0; i < enabled.size(); ++i)
    if (enabled[i]) SpTBXLang_[i]->setEnabled(*enabled[i]);
  // The saved language becomes active and shows its flag on the Language
  // drop-down; a number the components reject leaves the window as it is.
  const auto act = i18n::TLanguageStartup::ActivateLanguage(siLangDispatcher1_, shell_.Language);
  if (!act.ok) std::fprintf(stderr, "MqTool: setting \"Language\" ignored: %s\n", act.error.c_str());
  langImage_ = act.flagImage;
  SpTBXSubmenuItemLang_->setIcon(ImageList1(langImage_));
  shell_.Developer = settings.Developer;
  shell_.BandwidthIndex = 4;  // 300 kHz until a base station tells its own
  DeveloperStates();
  if (settingsUnread_)
    ShowMessage(QMessageBox::Warning, QStringLiteral("MqTool"), SettingsNotUsedText(*settingsUnread_));
}

QString TfrmMain::SettingsNotUsedText(const FileReadResult& read) const {
  QString reason;
  switch (read.status) {
    case FileReadStatus::Link: reason = Tr("IDS_53"); break;
    case FileReadStatus::NotRegular: reason = Tr("IDS_54"); break;
    case FileReadStatus::TooLarge: reason = Tr("IDS_55", {QString::number(IniFile::kMaxFileSize)}); break;
    default:
      reason = read.systemError != 0 && !read.owner.empty()
                   ? Tr("IDS_56", {QString::fromStdString(read.owner), QString::fromStdString(read.mode)})
                   : Tr("IDS_57", {QString::fromStdString(read.systemText)});
      break;
  }
  return Tr("IDS_52", {QString::fromStdString(dataFolder_ + Settings::kFileName), reason});
}

QString TfrmMain::SettingsAdvice(const WriteProblem& problem) const {
  const QString folder = QString::fromStdString(dataFolder_);
  switch (problem.kind) {
    case WriteProblem::Kind::FolderMissing: return Tr("IDS_58", {folder});
    case WriteProblem::Kind::JoinGroup: return Tr("IDS_59", {QString::fromStdString(problem.group), folder});
    case WriteProblem::Kind::LogInAgain: return Tr("IDS_60", {QString::fromStdString(problem.group)});
    case WriteProblem::Kind::FolderNotWritable:
      return Tr("IDS_61", {folder, QString::fromStdString(problem.owner), QString::fromStdString(problem.group),
                           QString::fromStdString(problem.mode)});
    case WriteProblem::Kind::AskForAccess: return Tr("IDS_63", {folder});
    case WriteProblem::Kind::Unknown: break;
  }
  return {};
}

void TfrmMain::StartStates() {
  lblTime_->setVisible(false);
  SpTBXItemActivePort_->setEnabled(false);
  SpTBXItemSilent_->setEnabled(false);
  SpTBXSubmenuItemCommand_->setEnabled(false);
  SpTBXItemEcho_->setEnabled(false);
  SpTBXCharTest_->setEnabled(false);
  rgDCS_->setEnabled(false);
  rgDCS_->SetItemIndex(-1);
  for (QLabel* j : J_) j->clear();
  for (QLabel* l : {lblEcho_, lblFirmware_, lblPort_, lblChannel_, lblMQVer_}) {
    l->clear();
    l->adjustSize();
  }
  chk1_->setChecked(false);
  lbxLog_->resize(0, lbxLog_->height());
  for (const char* red : {"Label5", "Label7", "Label8"})
    if (auto* l = findChild<QLabel*>(QString::fromLatin1(red))) SetColour(l, QColor(0xFF, 0x00, 0x00));
}

void TfrmMain::DeveloperStates() {
  rgBandwidth_->SetItemIndex(shell_.BandwidthIndex);
  btnCmd_->setVisible(shell_.Developer);
  edtCommand_->setVisible(shell_.Developer);
  rgBandwidth_->setVisible(shell_.Developer);
  SpTBXCharTest_->setVisible(shell_.Developer);
}

void TfrmMain::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (settingsFile_) {
    Settings s;
    s.Language = shell_.Language;
    s.Languages = shell_.Languages;
    s.Developer = shell_.Developer;
    // The close goes on whatever happens here; the user's choice of
    // language is lost this time. A desktop user never sees stderr: the box
    // says what failed, why, and what fixes it.
    QString problem, advice;
    if (settingsUnread_) {
      // Never written over: it is not ours to replace, or we could not see
      // what it holds.
      problem = SettingsNotUsedText(*settingsUnread_);
      advice = settingsUnread_->owner.empty() ? Tr("IDS_64")
                                              : Tr("IDS_62", {QString::fromStdString(settingsUnread_->owner)});
    } else {
      try {
        s.Save(*settingsFile_);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "MqTool: the settings could not be written: %s\n", e.what());
        problem = QString::fromUtf8(e.what());
        advice = SettingsAdvice(DataFolder::DiagnoseWrite(dataFolder_));
      }
    }
    if (!problem.isEmpty()) {
      // A failed save replaces nothing (one atomic replacement of the file).
      QString text = Tr("IDS_50") + QStringLiteral("\n\n") + problem;
      if (!advice.isEmpty()) text += QStringLiteral("\n\n") + advice;
      ShowMessage(QMessageBox::Warning, QStringLiteral("MqTool"), text + QStringLiteral("\n\n") + Tr("IDS_51"));
    }
  }
  if (link_ != nullptr) {
    try {
      link_->CloseComPort();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MqTool: closing the port failed: %s\n", e.what());
    }
  }
  settingsFile_.reset();
  if (help_ != nullptr) help_->close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownOnce_ = true;
  FixStartWidth();
}

void TfrmMain::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // Some window systems tell the frame's size only after the window has
  // been shown (and move it then): the start width counts the frame.
  if (shownOnce_) FixStartWidth();
  FormResize();
}

void TfrmMain::FixStartWidth() {
  if (startWidthFixed_) return;
  if (frameGeometry().width() != geometry().width()) {
    startWidthFixed_ = true;
    SetOuterWidth(kStartOuterWidth);
  }
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

int TfrmMain::OuterWidth() const { return frameGeometry().width(); }

void TfrmMain::SetOuterWidth(int width) {
  const int frame = frameGeometry().width() - geometry().width();
  resize(width - frame, height());
}

void TfrmMain::FormResize() {
  const int outer = OuterWidth();
  lbxLog_->setGeometry(431, 70, outer >= 452 ? outer - 452 : 0, height() - 70 - (kClientHeight - 70 - 639));
  lbxLog_->setVisible(lbxLog_->width() > 0);
  SpTBXDock1_->resize(width(), 60);
  SpTBXToolbar1_->resize(width(), 60);
}

void TfrmMain::ShowMessage(int icon, const QString& caption, const QString& text) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), caption, text, QMessageBox::Ok, isVisible() ? this : nullptr);
  // Texts here carry file names, system messages and translations from a
  // file anyone in the group may write: never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setObjectName(QStringLiteral("MessageBox"));
  Dialogs().Exec(box);
}

// ---------------------------------------------------------------------------
// Refresh and what it uses

void TfrmMain::Refresh() {
  const LinkStateView& s = State();
  const std::vector<std::string> pads = s.PadList();
  shell_.PadCount = static_cast<int>(pads.size());
  shell_.PadsFound = shell_.PadCount > 0;
  lblTime_->setVisible(shell_.PadsFound);
  lblFirmware_->setText(QString::fromStdString(s.BaseIdent()));
  lblPort_->setText(QString::fromStdString(s.PortText()));
  lblChannel_->setText(QString::fromStdString(s.ChannelText()));
  for (QLabel* l : {lblFirmware_, lblPort_, lblChannel_}) l->adjustSize();
  // Showing the bandwidth is not the user's pick: the handler is detached
  // while the item is selected.
  auto handler = std::move(rgBandwidth_->OnClick);
  rgBandwidth_->OnClick = nullptr;
  rgBandwidth_->SetItemIndex(shell_.BandwidthIndex);
  rgBandwidth_->OnClick = std::move(handler);
  // What needs a base station.
  const bool base = s.BasePort() > 0;
  SpTBXItemActivePort_->setEnabled(base);
  SpTBXItemSilent_->setEnabled(base);
  gbStatus_->setEnabled(base);
  edtCommand_->setEnabled(base);
  btnCmd_->setEnabled(base);
  rgDCS_->setEnabled(s.DCSAvailable());
  edtCommand_->setPlaceholderText(base ? QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_5")) : QString());
  // What needs pads (the character test developer mode too).
  SpTBXSubmenuItemCommand_->setEnabled(shell_.PadsFound);
  SpTBXItemEcho_->setEnabled(shell_.PadsFound);
  SpTBXCharTest_->setEnabled(shell_.PadsFound && shell_.Developer);
  // The pads' firmware versions; a first pad reporting "0" has one older than 910.
  const std::vector<std::string> fw = s.FirmwareList();
  QString mqVer;
  for (std::size_t i = 0; i < fw.size(); ++i) {
    if (i == 0)
      mqVer = fw[0] == "0" ? QStringLiteral("<pre 910>") : QString::fromStdString(fw[0]);
    else
      mqVer += QStringLiteral(", ") + QString::fromStdString(fw[i]);
  }
  lblMQVer_->setText(mqVer);
  lblMQVer_->adjustSize();
  ClearEcho();
  chk1_->setChecked(s.Broadcast());
  if (shell_.PadsFound) DoTime();
  SpTBXSubmenuItemScans_->setEnabled(true);  // a scan turns the scans off while it runs
}

int TfrmMain::SpinValue(const QSpinBox* spin) const {
  const auto v = WholeNumber(spin->cleanText());
  if (!v || *v > 1'000'000'000LL || *v < -1'000'000'000LL) return spin->minimum();
  return static_cast<int>(*v);
}

QString TfrmMain::FormatDuration(long long ms) {
  if (ms < 0) ms = 0;
  const long long totalSeconds = ms / 1000;
  const long long h = totalSeconds / 3600, m = (totalSeconds / 60) % 60, sec = totalSeconds % 60;
  return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
}

char TfrmMain::DecimalSeparatorOf(const QLocale& locale) {
  const QString point = locale.decimalPoint();
  if (point.size() != 1) return '.';
  const std::string byte = Windows1252::Encode(point);
  if (byte.size() != 1 || Windows1252::Decode(byte) != point) return '.';
  return byte[0];
}

int TfrmMain::LocalMillisecondsOfMinute() { return QTime::currentTime().msecsSinceStartOfDay() % 60000; }

void TfrmMain::DoTime() {
  const double ms = std::floor(static_cast<double>(SpinValue(TestDelaySpinEdit_)) * SpinValue(TestSpinEdit_) *
                               shell_.PadCount * 1.045);
  lblTime_->setText(FormatDuration(ms > 9e15 ? 9'000'000'000'000'000LL : static_cast<long long>(ms)));
  lblTime_->adjustSize();
}

void TfrmMain::ReSetLEDs() {
  for (TJudgeLamp* lamp : LED_) lamp->SetOn(false);
  for (QLabel* l : JLab_) l->setCursor(Qt::ArrowCursor);
}

void TfrmMain::ScansOff() { SpTBXSubmenuItemScans_->setEnabled(false); }

void TfrmMain::ClearEcho() {
  lblEcho_->clear();
  lblEcho_->adjustSize();
}

// ---------------------------------------------------------------------------
// Written by the pad link

void TfrmMain::DoAward(const std::string& text) {
  const int judge = State().CurJudge();
  if (judge < 0 || judge >= kJudges) return;
  J_[static_cast<std::size_t>(judge)]->setText(QString::fromStdString(text));
}

void TfrmMain::AddLogLine(const std::string& line) { lbxLog_->AddLine(QString::fromStdString(line)); }

void TfrmMain::JudgeLightOn(int judge) {
  if (judge >= 0 && judge < kJudges) LED_[static_cast<std::size_t>(judge)]->SetOn(true);
}

void TfrmMain::JudgeLabelHandCursor(int judge) {
  if (judge >= 0 && judge < kJudges) JLab_[static_cast<std::size_t>(judge)]->setCursor(Qt::PointingHandCursor);
}

void TfrmMain::SetEchoText(const std::string& text) {
  lblEcho_->setText(QString::fromStdString(text));
  lblEcho_->adjustSize();
}

void TfrmMain::SetLightMonitoring(bool on) { apdslcntrlr1_.SetMonitoring(on); }

void TfrmMain::SetReportRowText(int row, const std::string& text) {
  if (row < 0 || row >= kJudges) return;
  QLabel* l = Pad_[static_cast<std::size_t>(row)];
  l->setText(QString::fromStdString(text));
  l->adjustSize();
  reportRows_[static_cast<std::size_t>(row)] = text;
}

void TfrmMain::ReapplyReport() {
  for (int row = 0; row < kJudges; ++row)
    if (const auto& text = reportRows_[static_cast<std::size_t>(row)]) {
      QLabel* l = Pad_[static_cast<std::size_t>(row)];
      l->setText(QString::fromStdString(*text));
      l->adjustSize();
    }
}

void TfrmMain::SetReportRow(int row, const std::string& text, padlink::TReportColour colour) {
  if (row < 0 || row >= kJudges) return;
  SetReportRowText(row, text);
  QLabel* l = Pad_[static_cast<std::size_t>(row)];
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText,
             colour == padlink::TReportColour::Red ? QColor(0xFF, 0x00, 0x00) : palette().color(QPalette::WindowText));
  l->setPalette(p);
}

void TfrmMain::ProgressSetMax(int max) { ProgressBar_->setMaximum(max < 0 ? 0 : max); }

void TfrmMain::ProgressStep() {
  if (ProgressBar_->value() < ProgressBar_->maximum()) ProgressBar_->setValue(ProgressBar_->value() + 1);
}

void TfrmMain::ProgressHide() {
  ProgressBar_->hide();
  UpdateContextMenus();  // the test is over: its report can be saved
}

void TfrmMain::SetBusyCursor(bool busy) {
  if (busy == busy_) return;  // never stack override cursors
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TfrmMain::ShowInformation(const std::string& text) {
  ShowMessage(QMessageBox::Information, QCoreApplication::applicationName(), ToQt(text));
}

}  // namespace mq
