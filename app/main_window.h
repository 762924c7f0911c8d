// TfrmMain: the main window of the Marq Utility — toolbar with its three
// drop-downs, base-station group, system configuration, judge panel, awards,
// echo-test report, progress bar, version label and the serial log. It owns
// the language dispatcher, its own translation component and the RX/TX light
// controller apdslcntrlr1, implements the localisation's window interface
// over its widgets (object names are the component names, matched without
// regard to case), implements the pad link's window interface
// (TMainWindowLink: log lines, Refresh, DoAward, lights, report, progress,
// cursor, messages), and runs every command handler. It reads the pad link's
// state through LinkStateView and calls it through PadLinkCommands; both are
// attached after creation, the way the pad-link form is created after the
// window (PadLinkAdapter does that for the real pad link). Its ShellState is
// the pad link's TShellState.
//
// Creation runs FormCreate (settings, language start-up, version label);
// the first close runs FormClose (settings written once, port closed).
// Enabling rules live only in Refresh.
//
// The class is defined in four sources: main_window.cpp (creation, close,
// Refresh, what the pad link writes), main_window_layout.cpp,
// main_window_commands.cpp and main_window_language.cpp.
//
// Threading: GUI (loop) thread only.
#pragma once

#include <QFont>
#include <QIcon>
#include <QWidget>
#include <array>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/data_folder.h"
#include "shell/ini_file.h"
#include "app/shell_state.h"
#include "i18n/lang_window.h"
#include "padlink/echo_report_texts.h"
#include "padlink/main_window_link.h"
#include "serial/sl_controller.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/si_lang_rt.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLocale;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QToolBar;

namespace mq {

class LinkStateView;
class PadLinkCommands;
class TApdStatusLight;
class TJudgeLamp;
class THelpWindow;
class TLogListBox;
class TRadioGroup;
class TsiTaskDialog;
class UiDialogs;

struct TfrmMainOptions {
  // The data folder (with trailing separator); unset means DataFolder::Locate().
  std::optional<std::string> dataFolder;
  // Where modal dialogs run; null means UiDialogs::Default().
  UiDialogs* dialogs = nullptr;
  // File whose version data fills lblVersion; empty means this program.
  std::filesystem::path versionFile;
  // The font of the window's controls; unset means AppFonts::Window(). (Other
  // systems' metrics differ; the layout makes room for longer captions.)
  std::optional<QFont> windowFont;
};

class TfrmMain : public QWidget, public i18n::TLangWindow, public padlink::TMainWindowLink {
  Q_OBJECT
 public:
  using Options = TfrmMainOptions;

  static constexpr int kJudges = 12;
  static constexpr int kClientWidth = 435;
  static constexpr int kClientHeight = 713;
  static constexpr int kStartOuterWidth = 448;
  static constexpr const char* kCaption = "Marq Utility";
  // First line of the message shown when the settings cannot be written at
  // close (window title "MqTool"), in English; the window shows it in the
  // active language.
  static constexpr const char* kSettingsNotSaved = "MqTool could not save its settings.";
  static const std::array<const char*, 10> TestDives;

  explicit TfrmMain(Options options = {});
  ~TfrmMain() override;

  // Connects the pad link (after creation, as the pad-link form is created
  // after the window). Either may be null: no commands go out, and the
  // window shows the link's start state.
  void AttachPadLink(PadLinkCommands* commands, const LinkStateView* state);

  ShellState& Shell() { return shell_; }
  const std::string& DataFolderPath() const { return dataFolder_; }
  const QString& VersionText() const { return versionText_; }
  i18n::TsiLangDispatcher& siLangDispatcher1() { return siLangDispatcher1_; }
  i18n::TsiLangRT& siLangRT1() { return *siLangRT1_; }
  TsiTaskDialog& siTaskDialog1() { return *siTaskDialog1_; }
  // The image list: 24 images, indexes 10 and 12 empty.
  QIcon ImageList1(int index) const;
  // Index of the image the Language drop-down shows.
  int LanguageImageIndex() const { return langImage_; }
  THelpWindow* HelpWindow() const { return help_; }
  // Reports an error raised while a window read the translation file
  // "MqTool.sib", naming the file.
  void ReportTranslationFileError(std::exception_ptr error) const;
  // The window's text id in the active language, with %1, %2, ... replaced.
  QString Tr(const char* id, std::initializer_list<QString> args = {}) const;
  // Why the settings file read at start is not used ("The settings in ...").
  QString SettingsNotUsedText(const FileReadResult& read) const;
  // What the user can do about a settings file that could not be written.
  QString SettingsAdvice(const WriteProblem& problem) const;

  // ---- called by the pad link (TMainWindowLink) ----------------------
  void Refresh() override;
  // Shows text (UTF-8) in the award field of judge CurJudge.
  void DoAward(const std::string& text) override;
  // Appends a log line (UTF-8; control characters are kept and drawn).
  void AddLogLine(const std::string& line) override;
  void JudgeLightOn(int judge) override;
  // Gives a judge label the hand cursor (its pad registered).
  void JudgeLabelHandCursor(int judge) override;
  void SetEchoText(const std::string& text) override;
  // apdslcntrlr1's Monitoring (EPortNotAssigned before it has a port).
  void SetLightMonitoring(bool on) override;
  // The echo test's progress bar: maximum, one step, hide.
  void ProgressSetMax(int max) override;
  void ProgressStep() override;
  void ProgressHide() override;
  // Echo-report rows Pad0..Pad11: text and colour (window text or red), or
  // the text alone keeping the row's colour.
  void SetReportRow(int row, const std::string& text, padlink::TReportColour colour) override;
  void SetReportRowText(int row, const std::string& text) override;
  // Hourglass while scanning, normal afterwards (application-wide).
  void SetBusyCursor(bool busy) override;
  // An information message box (OK) with a text in the active language.
  void ShowInformation(const std::string& text) override;
  // The RX/TX light controller; bound to the pad link's ComPort after the
  // pad link has been created.
  serial::TApdSLController& apdslcntrlr1() { return apdslcntrlr1_; }
  QProgressBar* ProgressBar() const { return ProgressBar_; }
  TApdStatusLight* RxLight() const { return apdstslghtRX_; }
  TApdStatusLight* TxLight() const { return apdstslghtTX_; }

  // ---- window operations ---------------------------------------------
  void DoTime();
  // Also what the pad link calls when the link is lost.
  void ReSetLEDs() override;
  void FormResize();
  // Outer (frame) width of the window, and setting it.
  int OuterWidth() const;
  void SetOuterWidth(int width);

  // ---- command handlers ----------------------------------------------
  void SpTBXItemExitClick();
  void SpTBXItemFullScanClick();
  void SpTBXItemActivePortClick();
  void SpTBXItemSilentClick();
  void SpTBXItemNextDiveClick();
  void SpTBXItemJudgeClick();
  void SpTBXItemLockClick();
  void SpTBXItemUnlockClick();
  void SpTBXItemEchoClick();
  void SpTBXCharTestClick();
  void SpTBXItemHelpClick();
  void LEDClick(QObject* sender);
  void JLabClick(QObject* sender);
  void btnAbortClick();
  void btnSetChannelClick();
  void btnResetClick();
  void btnCmdClick();
  void chk1Click();
  void rgBandwidthClick();
  void rgDCSClick();
  void SpTBXLang1Click(QObject* sender);
  void SpTBXLangXClick();
  // Context menus of the log list and the echo report.
  void mnuLogCopyClick();
  void mnuLogSaveClick();
  void mnuSaveReportClick();

  // The log's lines as text (all, or the selected one), control characters
  // written by the names the list shows ("<STX>"), platform line ends.
  QString LogText(bool selectedOnly) const;
  // The last echo test as the HTML report mqtool-cli writes; empty when no
  // test has run or one is running.
  std::string EchoReportHtml() const;
  // The report's texts in the window's language (English where the table
  // has no text).
  padlink::TEchoReportTexts EchoReportTexts() const;

  // Pad id of a judge light or judge label from its component name.
  static char PadIdFromControlName(std::string_view name);
  // "h:nn:ss"; hours keep counting past 23 (an estimate of a day or more).
  static QString FormatDuration(long long ms);
  // A locale's decimal separator as one Windows-1252 byte; '.' when it is
  // not exactly one character of that code page.
  static char DecimalSeparatorOf(const QLocale& locale);
  // Milliseconds within the current minute of the local time of day.
  static int LocalMillisecondsOfMinute();

  // ---- TLangWindow ---------------------------------------------------
  std::string ClassName() const override { return "TfrmMain"; }
  std::string Name() const override { return "frmMain"; }
  bool HasComponent(std::string_view component) const override;
  std::string ComponentClassName(std::string_view component) const override;
  std::optional<std::string> GetText(std::string_view component, std::string_view property) override;
  void SetText(std::string_view component, std::string_view property, const std::string& value) override;
  std::optional<std::vector<std::string>> GetList(std::string_view component, std::string_view property) override;
  void SetList(std::string_view component, std::string_view property, const std::vector<std::string>& items) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void BuildToolbar();
  void Connect();
  void FormCreate();
  void FormClose();
  void ObtainVersionInfo();
  void StartStates();
  void DeveloperStates();
  void ScansOff();
  void ClearEcho();
  // Writes the report rows' last texts from the pad link back over what a
  // language switch put there.
  void ReapplyReport();
  void ShowMessage(int icon, const QString& caption, const QString& text);
  int SpinValue(const QSpinBox* spin) const;
  QObject* FindComponent(std::string_view name) const;
  const LinkStateView& State() const;
  UiDialogs& Dialogs() const;
  // Makes room for captions in front of values that are wider than their
  // designed room (see its definition in main_window_layout.cpp).
  void FitCaptions();
  // Where a group box's title is drawn to (its right edge, exclusive).
  static int TitleEnd(const QGroupBox* group);
  void PlaceVersionLabel();
  void PlaceEchoLabel();
  void FixStartWidth();
  // Asks for a file to save to (empty: cancelled).
  QString AskSaveFile(const char* objectName, const QAction* action, const QString& suggested, const QString& filter);
  // Writes the file whole or not at all; a failure is shown, naming it.
  void SaveFile(const QString& path, const std::string& content);
  void UpdateContextMenus();

  Options options_;
  ShellState shell_;
  std::string dataFolder_;
  std::string exeFolder_;
  std::unique_ptr<IniFile> settingsFile_;
  // Set when the settings file exists but could not be read at start: its
  // settings are not in use and it is never written over.
  std::optional<FileReadResult> settingsUnread_;
  QString versionText_;
  bool closed_ = false;
  bool busy_ = false;
  bool shownOnce_ = false;
  bool startWidthFixed_ = false;
  int langImage_ = 13;
  PadLinkCommands* link_ = nullptr;
  const LinkStateView* state_ = nullptr;

  i18n::TsiLangDispatcher siLangDispatcher1_;
  std::unique_ptr<i18n::TsiLangRT> siLangRT1_;
  TsiTaskDialog* siTaskDialog1_ = nullptr;
  THelpWindow* help_ = nullptr;
  std::array<QIcon, 24> images_;

  // Toolbar.
  QWidget* SpTBXDock1_ = nullptr;
  QToolBar* SpTBXToolbar1_ = nullptr;
  QAction *SpTBXItemExit_ = nullptr, *SpTBXSubmenuItemScans_ = nullptr, *SpTBXItemFullScan_ = nullptr,
          *SpTBXItemActivePort_ = nullptr, *SpTBXItemSilent_ = nullptr, *SpTBXItemNextDive_ = nullptr,
          *SpTBXSubmenuItemCommand_ = nullptr, *SpTBXItemJudge_ = nullptr, *SpTBXItemLock_ = nullptr,
          *SpTBXItemUnlock_ = nullptr, *SpTBXItemEcho_ = nullptr, *SpTBXCharTest_ = nullptr,
          *SpTBXSubmenuItemLang_ = nullptr, *SpTBXLangX_ = nullptr, *SpTBXItemHelp_ = nullptr;
  std::array<QAction*, 10> SpTBXLang_{};  // index = language number - 1

  // Base station.
  QGroupBox* gbxBaseStation_ = nullptr;
  QLabel *lblFirmware_ = nullptr, *lblPort_ = nullptr, *lblChannel_ = nullptr;
  QSpinBox* ChannelSpinEdit_ = nullptr;
  QPushButton *btnSetChannel_ = nullptr, *btnReset_ = nullptr, *btnCmd_ = nullptr;
  QLineEdit* edtCommand_ = nullptr;
  TApdStatusLight *apdstslghtRX_ = nullptr, *apdstslghtTX_ = nullptr;
  serial::TApdSLController apdslcntrlr1_;

  // System configuration.
  QGroupBox* gbSystem_ = nullptr;
  QCheckBox* chk1_ = nullptr;
  TRadioGroup *rgDCS_ = nullptr, *rgBandwidth_ = nullptr;

  // Judge panel.
  QGroupBox* gbStatus_ = nullptr;
  std::array<TJudgeLamp*, kJudges> LED_{};
  std::array<QLabel*, kJudges> JLab_{};
  QLabel *lblEcho_ = nullptr, *lblMQVer_ = nullptr;

  // Echo test.
  QSpinBox *TestSpinEdit_ = nullptr, *TestDelaySpinEdit_ = nullptr;
  QLabel* lblTime_ = nullptr;
  QPushButton* btnAbort_ = nullptr;
  QGroupBox* gbInput_ = nullptr;
  std::array<QLabel*, kJudges> lblJ_{};
  std::array<QLabel*, kJudges> J_{};
  QFrame* pnlEcho_ = nullptr;
  std::array<QLabel*, kJudges> Pad_{};
  std::array<std::optional<std::string>, kJudges> reportRows_{};  // as the pad link last wrote them
  QProgressBar* ProgressBar_ = nullptr;
  QLabel* lblVersion_ = nullptr;
  TLogListBox* lbxLog_ = nullptr;
  // Context menus: lbxLog (Copy, Save log...) and pnlEcho (Save report...).
  QAction *mnuLogCopy_ = nullptr, *mnuLogSave_ = nullptr, *mnuSaveReport_ = nullptr;
};

}  // namespace mq
