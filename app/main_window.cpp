#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QToolBar>
#include <QTextDocument>
#include <QTime>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>

#include "app/apd_status_light.h"
#include "app/app_fonts.h"
#include "shell/atomic_file_writer.h"
#include "app/control_picture_delegate.h"
#include "shell/data_folder.h"
#include "app/error_reporter.h"
#include "app/help_window.h"
#include "app/judge_lamp.h"
#include "app/link_state_view.h"
#include "app/log_list_box.h"
#include "app/pad_link_commands.h"
#include "app/radio_group.h"
#include "shell/settings.h"
#include "app/si_task_dialog.h"
#include "app/ui_dialogs.h"
#include "app/windows_1252.h"
#include "i18n/catalogue/builtin_tables.h"
#include "version/file_version_info.h"
#include "padlink/echo_report.h"
#include "i18n/language_error.h"
#include "i18n/language_startup.h"
#include "i18n/sib_format_error.h"

// The images and the guide live in this library's resources.
static void InitWindowResources() { Q_INIT_RESOURCE(mqtool); }

namespace mq {
namespace {

// The dynamic property that keeps a hint as given (its tool tip may be
// markup that shows it as plain text).
constexpr const char* kPlainHint = "mqPlainHint";

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
const char* const kImageFiles[24] = {
    "img00_exit",          "img01_scans",        "img02_full_scan",    "img03_next_dive",  "img04_marq_commands",
    "img05_echo_test",     "img06_help",         "img07_judge_id",     "img08_lock_kbd",   "img09_unlock_kbd",
    nullptr,               "img11_active_port",  nullptr,              "img13_language",   "img14_flag_english",
    "img15_flag_dutch",    "img16_flag_french",  "img17_flag_german",  "img18_flag_spanish", "img19_flag_italian",
    "img20_flag_croatian", "img21_flag_turkish", "img22_flag_danish",  "img23_flag_swedish"};

// Captions hold CR LF between lines; Qt draws "\n".
QString ToQt(const std::string& utf8) {
  QString s = QString::fromStdString(utf8);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.remove(QLatin1Char('\r'));
  return s;
}
std::string FromQt(const QString& text) {
  QString s = text;
  s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return s.toStdString();
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The toolbar buttons the keyboard can reach (shown and enabled), in toolbar order.
std::vector<QToolButton*> ReachableToolbarButtons(const QToolBar* bar) {
  std::vector<QToolButton*> buttons;
  for (QAction* a : bar->actions())
    if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a)); b && b->isVisible() && b->isEnabled())
      buttons.push_back(b);
  return buttons;
}

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
    case Qt::Key_Escape:
      button->clearFocus();
      return true;
    default:
      return false;
  }
}

// Whole number in decimal with an optional sign, surrounding blanks allowed.
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

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);
  l->setProperty("autoSize", true);
  l->setMargin(0);
  l->setIndent(0);
  l->move(x, y);
  l->adjustSize();
  return l;
}

QLabel* MakeFixedLabel(QWidget* parent, const char* name, const QString& text, QRect r, Qt::Alignment a) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);
  l->setGeometry(r);
  l->setAlignment(a);
  return l;
}

QLabel* RightJustify(QLabel* l) {
  l->setProperty("rightJustify", true);
  return l;
}

void SetColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, c);
  w->setPalette(p);
}

}  // namespace

const std::array<const char*, 10> TfrmMain::TestDives = {
    "103B 3m    First Diver", "201B 3m    Diver Two",    "301B 1m    Third Diver", "403B 3m    Diver Four",
    "5134D 3m   Fifth Diver", "107C 5m    Diver Six",    "205B 10m   Seventh Diver", "305C 10m   Diver Eight",
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
// Layout

void TfrmMain::BuildToolbar() {
  SpTBXDock1_ = new QWidget(this);
  SpTBXDock1_->setObjectName(QStringLiteral("SpTBXDock1"));
  SpTBXDock1_->setGeometry(0, 0, kClientWidth, 60);
  SpTBXToolbar1_ = new QToolBar(SpTBXDock1_);
  SpTBXToolbar1_->setObjectName(QStringLiteral("SpTBXToolbar1"));
  SpTBXToolbar1_->setGeometry(0, 0, kClientWidth, 60);
  SpTBXToolbar1_->setMovable(false);
  SpTBXToolbar1_->setFloatable(false);
  SpTBXToolbar1_->setIconSize(QSize(24, 24));
  SpTBXToolbar1_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  SpTBXToolbar1_->setContentsMargins(0, 0, 0, 0);

  auto action = [this](const char* name, const QString& caption, int image) {
    auto* a = new QAction(this);
    a->setObjectName(QString::fromLatin1(name));
    a->setText(caption);
    a->setIconText(caption);
    if (image >= 0) a->setIcon(images_[static_cast<std::size_t>(image)]);
    return a;
  };
  auto dropDown = [this, &action](const char* name, const QString& caption, int image, const char* menuName) {
    QAction* a = action(name, caption, image);
    auto* m = new QMenu(this);
    m->setObjectName(QString::fromLatin1(menuName));
    a->setMenu(m);
    return a;
  };

  SpTBXItemExit_ = action("SpTBXItemExit", QStringLiteral("Exit"), 0);
  SpTBXSubmenuItemScans_ = dropDown("SpTBXSubmenuItemScans", QStringLiteral("Scans"), 1, "mnuScans");
  SpTBXItemFullScan_ = action("SpTBXItemFullScan", QStringLiteral("Full Scan"), 2);
  SpTBXItemActivePort_ = action("SpTBXItemActivePort", QStringLiteral("Active port"), 11);
  SpTBXItemSilent_ = action("SpTBXItemSilent", QStringLiteral("Silent"), -1);
  SpTBXSubmenuItemScans_->menu()->addActions({SpTBXItemFullScan_, SpTBXItemActivePort_, SpTBXItemSilent_});
  SpTBXItemNextDive_ = action("SpTBXItemNextDive", QStringLiteral("Next\nDive"), 3);
  SpTBXSubmenuItemCommand_ = dropDown("SpTBXSubmenuItemCommand", QStringLiteral("Marq\nCommands"), 4, "mnuCommand");
  SpTBXItemJudge_ = action("SpTBXItemJudge", QStringLiteral("Judge ID"), 7);
  SpTBXItemLock_ = action("SpTBXItemLock", QStringLiteral("Lock Kbd"), 8);
  SpTBXItemUnlock_ = action("SpTBXItemUnlock", QStringLiteral("Unlock Kbd"), 9);
  SpTBXSubmenuItemCommand_->menu()->addActions({SpTBXItemJudge_, SpTBXItemLock_, SpTBXItemUnlock_});
  SpTBXItemEcho_ = action("SpTBXItemEcho", QStringLiteral("Echo\nTest"), 5);
  SpTBXCharTest_ = action("SpTBXCharTest", QStringLiteral("Character\nTest"), -1);
  {
    // No picture: an empty one keeps the caption on the same lines as the others'.
    QPixmap blank(24, 24);
    blank.fill(Qt::transparent);
    SpTBXCharTest_->setIcon(QIcon(blank));
  }
  SpTBXSubmenuItemLang_ = dropDown("SpTBXSubmenuItemLang", QStringLiteral("Language.."), 13, "mnuLang");
  // Menu order: English, Dansk, Deutsch, Español, Français, Hrvatski,
  // Italiano, Nederland, Svenska, Türkçe (tag = language number).
  struct LangItem {
    int tag;
    const char* caption;
  };
  const LangItem order[] = {{1, "English"}, {9, "Dansk"},    {4, "Deutsch"},   {5, "Español"}, {3, "Français"},
                            {7, "Hrvatski"}, {6, "Italiano"}, {2, "Nederland"}, {10, "Svenska"}, {8, "Türkçe"}};
  auto* langGroup = new QActionGroup(this);
  langGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  for (const auto& item : order) {
    const std::string name = "SpTBXLang" + std::to_string(item.tag);
    QAction* a = action(name.c_str(), QString::fromUtf8(item.caption), item.tag + 13);
    a->setCheckable(true);
    a->setProperty("Tag", item.tag);
    langGroup->addAction(a);
    SpTBXSubmenuItemLang_->menu()->addAction(a);
    SpTBXLang_[static_cast<std::size_t>(item.tag - 1)] = a;
  }
  SpTBXSubmenuItemLang_->menu()->addSeparator();
  SpTBXLangX_ = action("SpTBXLangX", QStringLiteral("Your language"), 13);
  SpTBXSubmenuItemLang_->menu()->addAction(SpTBXLangX_);
  SpTBXItemHelp_ = action("SpTBXItemHelp", QStringLiteral("Help"), 6);

  for (QAction* a : {SpTBXItemExit_, SpTBXSubmenuItemScans_, SpTBXItemNextDive_, SpTBXSubmenuItemCommand_,
                     SpTBXItemEcho_, SpTBXCharTest_, SpTBXSubmenuItemLang_, SpTBXItemHelp_}) {
    SpTBXToolbar1_->addAction(a);
    auto* b = qobject_cast<QToolButton*>(SpTBXToolbar1_->widgetForAction(a));
    if (b == nullptr) continue;
    if (a->menu() != nullptr) b->setPopupMode(QToolButton::InstantPopup);
    b->installEventFilter(this);
  }
  // From the keyboard the toolbar works as a menu bar does: F10 puts the
  // focus on its first button, then ToolbarKey. The buttons stay out of
  // the Tab order.
  connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this, [this] {
    const auto buttons = ReachableToolbarButtons(SpTBXToolbar1_);
    if (!buttons.empty()) buttons.front()->setFocus(Qt::ShortcutFocusReason);
  });
}

void TfrmMain::BuildLayout() {
  setWindowTitle(QString::fromLatin1(kCaption));
  resize(kClientWidth, kClientHeight);
  // Group frames as the layout was designed: the frame line runs through
  // the middle of the caption, and children are placed from the group's
  // top-left corner.
  setStyleSheet(QStringLiteral(
      "QGroupBox { border: 1px solid #b4b4b4; border-radius: 2px; margin-top: 6px; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 2px; }"));
  BuildToolbar();

  // Base station.
  gbxBaseStation_ = new QGroupBox(QStringLiteral("Base Station"), this);
  gbxBaseStation_->setObjectName(QStringLiteral("gbxBaseStation"));
  gbxBaseStation_->setGeometry(10, 64, 415, 113);
  RightJustify(MakeLabel(gbxBaseStation_, "lbl12", QStringLiteral("Firmware version:"), 32, 32));
  lblFirmware_ = MakeLabel(gbxBaseStation_, "lblFirmware", QString(), 124, 32);
  RightJustify(MakeLabel(gbxBaseStation_, "Label6", QStringLiteral("Port:"), 94, 48));
  lblPort_ = MakeLabel(gbxBaseStation_, "lblPort", QString(), 124, 48);
  RightJustify(MakeLabel(gbxBaseStation_, "lbl15", QStringLiteral("Active channel:"), 44, 64));
  lblChannel_ = MakeLabel(gbxBaseStation_, "lblChannel", QString(), 124, 64);
  RightJustify(MakeLabel(gbxBaseStation_, "lbl14", QStringLiteral("Target channel:"), 42, 88));
  ChannelSpinEdit_ = new QSpinBox(gbxBaseStation_);
  ChannelSpinEdit_->setObjectName(QStringLiteral("ChannelSpinEdit"));
  ChannelSpinEdit_->setRange(0, 9);
  ChannelSpinEdit_->setValue(7);
  ChannelSpinEdit_->setGeometry(124, 84, 42, 21);
  btnSetChannel_ = new QPushButton(QStringLiteral("Set channel"), gbxBaseStation_);
  btnSetChannel_->setObjectName(QStringLiteral("btnSetChannel"));
  btnSetChannel_->setGeometry(183, 80, 98, 25);
  btnReset_ = new QPushButton(QStringLiteral("Reset"), gbxBaseStation_);
  btnReset_->setObjectName(QStringLiteral("btnReset"));
  btnReset_->setGeometry(302, 80, 100, 25);
  edtCommand_ = new QLineEdit(gbxBaseStation_);
  edtCommand_->setObjectName(QStringLiteral("edtCommand"));
  edtCommand_->setGeometry(302, 29, 100, 21);
  btnCmd_ = new QPushButton(QStringLiteral("Send cmd"), gbxBaseStation_);
  btnCmd_->setObjectName(QStringLiteral("btnCmd"));
  btnCmd_->setGeometry(302, 49, 100, 25);
  edtCommand_->setEnabled(false);  // until a base station is found
  btnCmd_->setEnabled(false);
  MakeLabel(gbxBaseStation_, "lblRX", QStringLiteral("RX"), 152, 13);
  apdstslghtRX_ = new TApdStatusLight(gbxBaseStation_);
  apdstslghtRX_->setObjectName(QStringLiteral("apdstslghtRX"));
  apdstslghtRX_->move(171, 13);
  apdstslghtRX_->SetLitColor(QColor(0x00, 0xFF, 0xFF));    // aqua
  apdstslghtRX_->SetNotLitColor(QColor(0x00, 0x00, 0xFF));  // blue
  apdstslghtTX_ = new TApdStatusLight(gbxBaseStation_);
  apdstslghtTX_->setObjectName(QStringLiteral("apdstslghtTX"));
  apdstslghtTX_->move(198, 13);
  apdstslghtTX_->SetLitColor(QColor(0xFF, 0x00, 0x00));    // red
  apdstslghtTX_->SetNotLitColor(QColor(0x80, 0x00, 0x00));  // maroon
  MakeLabel(gbxBaseStation_, "lblTX", QStringLiteral("TX"), 217, 13);
  // The target channel takes typed digits and the arrows only: no
  // clipboard commands, no context menu.
  ChannelSpinEdit_->setContextMenuPolicy(Qt::NoContextMenu);
  for (QLineEdit* e : ChannelSpinEdit_->findChildren<QLineEdit*>()) {
    e->setContextMenuPolicy(Qt::NoContextMenu);
    e->installEventFilter(this);
  }

  // System configuration. rgDCS lies over the check box's unused width, so
  // it is created later and stays on top.
  gbSystem_ = new QGroupBox(QStringLiteral("System configuration"), this);
  gbSystem_->setObjectName(QStringLiteral("gbSystem"));
  gbSystem_->setGeometry(8, 183, 417, 106);
  chk1_ = new QCheckBox(QStringLiteral("Broadcast"), gbSystem_);
  chk1_->setObjectName(QStringLiteral("chk1"));
  chk1_->setGeometry(23, 29, 143, 17);
  rgDCS_ = new TRadioGroup(gbSystem_);
  rgDCS_->setObjectName(QStringLiteral("rgDCS"));
  rgDCS_->setTitle(QStringLiteral("Digital Chanel Separation (see Help)"));
  rgDCS_->setGeometry(139, 12, 265, 42);
  rgDCS_->SetColumns(2);
  rgDCS_->SetItems({QStringLiteral("ON"), QStringLiteral("OFF")});
  rgBandwidth_ = new TRadioGroup(gbSystem_);
  rgBandwidth_->setObjectName(QStringLiteral("rgBandwidth"));
  rgBandwidth_->setTitle(QStringLiteral("Bandwidth Khz"));
  rgBandwidth_->setGeometry(12, 56, 392, 42);
  rgBandwidth_->SetColumns(5);
  rgBandwidth_->SetItems({QStringLiteral("12.5"), QStringLiteral("25"), QStringLiteral("50"), QStringLiteral("100"),
                          QStringLiteral("300")});
  rgBandwidth_->SetItemIndex(4);

  // Judge panel.
  gbStatus_ = new QGroupBox(QStringLiteral("Marq Status"), this);
  gbStatus_->setObjectName(QStringLiteral("gbStatus"));
  gbStatus_->setGeometry(9, 295, 417, 82);
  gbStatus_->setEnabled(false);
  for (int i = 0; i < kJudges; ++i) {
    auto* lamp = new TJudgeLamp(gbStatus_);
    lamp->setObjectName(QStringLiteral("LED%1").arg(i));
    lamp->move(27 + 32 * i, 24);
    lamp->SetOnColor(i == 0 ? QColor(0x00, 0xFF, 0xFF) : QColor(0x00, 0xFF, 0x00));
    LED_[static_cast<std::size_t>(i)] = lamp;
    const int left = i < 10 ? 30 + 32 * i : (i == 10 ? 347 : 379);
    const std::string name = "JLab" + std::to_string(i);
    QLabel* l = MakeLabel(gbStatus_, name.c_str(), QStringLiteral("J%1").arg(i), left, 43);
    l->setCursor(Qt::ArrowCursor);
    l->installEventFilter(this);
    JLab_[static_cast<std::size_t>(i)] = l;
  }
  lblEcho_ = MakeLabel(gbStatus_, "lblEcho", QString(), 72, 8);
  RightJustify(MakeLabel(gbStatus_, "lbl1", QStringLiteral("Firmware versions:"), 34, 62));
  lblMQVer_ = MakeLabel(gbStatus_, "lblMQVer", QString(), 131, 62);

  // Echo test settings.
  RightJustify(MakeLabel(this, "lblLoops", QStringLiteral("Test loops"), 175, 388));
  TestSpinEdit_ = new QSpinBox(this);
  TestSpinEdit_->setObjectName(QStringLiteral("TestSpinEdit"));
  TestSpinEdit_->setRange(1, 10000);
  TestSpinEdit_->setSingleStep(1);
  TestSpinEdit_->setValue(10);
  TestSpinEdit_->setGeometry(230, 383, 48, 23);
  RightJustify(MakeLabel(this, "Label1", QStringLiteral("Test delay"), 174, 412));
  TestDelaySpinEdit_ = new QSpinBox(this);
  TestDelaySpinEdit_->setObjectName(QStringLiteral("TestDelaySpinEdit"));
  TestDelaySpinEdit_->setRange(130, 300);
  TestDelaySpinEdit_->setSingleStep(10);
  TestDelaySpinEdit_->setValue(180);
  TestDelaySpinEdit_->setGeometry(230, 407, 48, 23);
  for (QSpinBox* s : {TestSpinEdit_, TestDelaySpinEdit_}) s->setContextMenuPolicy(Qt::NoContextMenu);
  RightJustify(MakeLabel(this, "Label9", QStringLiteral("Duration:"), 294, 388));
  lblTime_ = MakeLabel(this, "lblTime", QStringLiteral("0:00:00"), 350, 388);
  btnAbort_ = new QPushButton(QStringLiteral("Abort test"), this);
  btnAbort_->setObjectName(QStringLiteral("btnAbort"));
  btnAbort_->setGeometry(287, 405, 125, 25);

  // Awards.
  gbInput_ = new QGroupBox(QStringLiteral("Awards"), this);
  gbInput_->setObjectName(QStringLiteral("gbInput"));
  gbInput_->setGeometry(7, 383, 137, 317);
  for (int i = 0; i < kJudges; ++i) {
    const std::string cap = "lblJ" + std::to_string(i);
    lblJ_[static_cast<std::size_t>(i)] = MakeLabel(gbInput_, cap.c_str(), QStringLiteral("J%1").arg(i), i < 10 ? 16 : 13, 27 + 24 * i);
    const std::string field = "J" + std::to_string(i);
    QLabel* j = MakeFixedLabel(gbInput_, field.c_str(), QStringLiteral("10.0"), QRect(32, 22 + 24 * i, 97, 23),
                               Qt::AlignHCenter | Qt::AlignTop);
    j->setFont(AppFonts::Award());
    J_[static_cast<std::size_t>(i)] = j;
  }

  // Echo report.
  pnlEcho_ = new QFrame(this);
  pnlEcho_->setObjectName(QStringLiteral("pnlEcho"));
  pnlEcho_->setGeometry(152, 431, 275, 250);
  pnlEcho_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pnlEcho_->setLineWidth(1);
  MakeLabel(pnlEcho_, "Label19", QStringLiteral("Test Results"), 8, 8);
  MakeFixedLabel(pnlEcho_, "Label8", QStringLiteral("Missed"), QRect(168, 5, 79, 13), Qt::AlignHCenter | Qt::AlignTop);
  MakeLabel(pnlEcho_, "Label2", QStringLiteral("Marq"), 8, 24);
  MakeFixedLabel(pnlEcho_, "Label3", QStringLiteral("Replies"), QRect(42, 24, 61, 13), Qt::AlignHCenter | Qt::AlignTop);
  MakeFixedLabel(pnlEcho_, "Label4", QStringLiteral("Resends"), QRect(96, 24, 66, 13), Qt::AlignHCenter | Qt::AlignTop);
  MakeFixedLabel(pnlEcho_, "Label5", QStringLiteral("Reads"), QRect(161, 24, 49, 13), Qt::AlignHCenter | Qt::AlignTop);
  MakeFixedLabel(pnlEcho_, "Label7", QStringLiteral("Sends"), QRect(216, 24, 57, 13), Qt::AlignHCenter | Qt::AlignTop);
  for (int i = 0; i < kJudges; ++i) {
    const std::string name = "Pad" + std::to_string(i);
    QLabel* row = MakeLabel(pnlEcho_, name.c_str(), QString::number(i), i < 10 ? 16 : 12, 40 + 16 * i);
    row->setFont(AppFonts::Log());
    row->adjustSize();
    Pad_[static_cast<std::size_t>(i)] = row;
  }

  ProgressBar_ = new QProgressBar(this);
  ProgressBar_->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar_->setGeometry(150, 682, 275, 18);
  ProgressBar_->setTextVisible(false);
  ProgressBar_->setValue(0);
  ProgressBar_->hide();

  lblVersion_ = MakeLabel(this, "lblVersion", QString(), 0, 683);
  SetColour(lblVersion_, QColor(0x00, 0x80, 0x00));

  lbxLog_ = new TLogListBox(this);
  lbxLog_->setObjectName(QStringLiteral("lbxLog"));
  lbxLog_->setFont(AppFonts::Log());
  lbxLog_->setGeometry(431, 70, 0, 639);
  lbxLog_->SetDroppedCaption([this] { return QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_20")); });

  // Context menus; they add no control to the layout.
  auto menuItem = [this](QWidget* owner, const char* name, const QString& text) {
    auto* a = new QAction(text, this);
    a->setObjectName(QString::fromLatin1(name));
    owner->addAction(a);
    owner->setContextMenuPolicy(Qt::ActionsContextMenu);
    return a;
  };
  mnuLogCopy_ = menuItem(lbxLog_, "mnuLogCopy", QStringLiteral("Copy"));
  mnuLogSave_ = menuItem(lbxLog_, "mnuLogSave", QStringLiteral("Save log\u2026"));
  mnuSaveReport_ = menuItem(pnlEcho_, "mnuSaveReport", QStringLiteral("Save report\u2026"));

  // Every control takes the window's font explicitly (a style sheet would
  // otherwise hand some of them the application font); the award fields,
  // the report rows and the log keep their own.
  const QFont windowFont = options_.windowFont ? *options_.windowFont : AppFonts::Window();
  for (QWidget* w : findChildren<QWidget*>()) {
    const QString n = w->objectName();
    const bool own = w == lbxLog_ || std::find(J_.begin(), J_.end(), w) != J_.end() ||
                     std::find(Pad_.begin(), Pad_.end(), w) != Pad_.end();
    if (!own) w->setFont(windowFont);
    if (auto* l = qobject_cast<QLabel*>(w); l != nullptr && l->property("autoSize").toBool()) {
      l->adjustSize();
      // Captions in front of a value or a field keep their right edge, so a
      // longer translation grows to the left instead of over the field.
      if (l->property("rightJustify").toBool()) l->setProperty("rightEdge", l->x() + l->width());
    }
  }
  // The designed places of what FitCaptions may move.
  for (const char* name : {"lbl12", "Label6", "lbl15", "lbl14", "lbl1", "lblLoops", "Label1", "Label9", "Label8",
                           "Label3", "Label4", "Label5", "Label7"})
    if (auto* l = findChild<QLabel*>(QString::fromLatin1(name))) l->setProperty("designRect", l->geometry());
  for (QWidget* w : std::initializer_list<QWidget*>{lblFirmware_, lblPort_, lblChannel_, ChannelSpinEdit_, btnSetChannel_,
                                                    btnReset_, lblMQVer_, TestSpinEdit_, TestDelaySpinEdit_, lblTime_,
                                                    btnAbort_, rgDCS_})
    w->setProperty("designRect", w->geometry());
  FitCaptions();

  siTaskDialog1_ = new TsiTaskDialog(this);
  siTaskDialog1_->setObjectName(QStringLiteral("siTaskDialog1"));
}

void TfrmMain::Connect() {
  using G = ErrorReporter;
  auto on = [this](QAction* a, void (TfrmMain::*handler)(), const char* where) {
    connect(a, &QAction::triggered, this, G::Guard([this, handler](bool) { (this->*handler)(); }, where));
  };
  on(SpTBXItemExit_, &TfrmMain::SpTBXItemExitClick, "SpTBXItemExitClick");
  on(mnuLogCopy_, &TfrmMain::mnuLogCopyClick, "mnuLogCopyClick");
  on(mnuLogSave_, &TfrmMain::mnuLogSaveClick, "mnuLogSaveClick");
  on(mnuSaveReport_, &TfrmMain::mnuSaveReportClick, "mnuSaveReportClick");
  auto update = [this] { UpdateContextMenus(); };
  connect(lbxLog_, &QListWidget::itemSelectionChanged, this, update);
  connect(lbxLog_->model(), &QAbstractItemModel::rowsInserted, this, update);
  connect(lbxLog_->model(), &QAbstractItemModel::modelReset, this, update);
  connect(lbxLog_->model(), &QAbstractItemModel::rowsRemoved, this, update);
  on(SpTBXItemFullScan_, &TfrmMain::SpTBXItemFullScanClick, "SpTBXItemFullScanClick");
  on(SpTBXItemActivePort_, &TfrmMain::SpTBXItemActivePortClick, "SpTBXItemActivePortClick");
  on(SpTBXItemSilent_, &TfrmMain::SpTBXItemSilentClick, "SpTBXItemSilentClick");
  on(SpTBXItemNextDive_, &TfrmMain::SpTBXItemNextDiveClick, "SpTBXItemNextDiveClick");
  on(SpTBXItemJudge_, &TfrmMain::SpTBXItemJudgeClick, "SpTBXItemJudgeClick");
  on(SpTBXItemLock_, &TfrmMain::SpTBXItemLockClick, "SpTBXItemLockClick");
  on(SpTBXItemUnlock_, &TfrmMain::SpTBXItemUnlockClick, "SpTBXItemUnlockClick");
  on(SpTBXItemEcho_, &TfrmMain::SpTBXItemEchoClick, "SpTBXItemEchoClick");
  on(SpTBXCharTest_, &TfrmMain::SpTBXCharTestClick, "SpTBXCharTestClick");
  on(SpTBXItemHelp_, &TfrmMain::SpTBXItemHelpClick, "SpTBXItemHelpClick");
  on(SpTBXLangX_, &TfrmMain::SpTBXLangXClick, "SpTBXLangXClick");
  for (QAction* a : SpTBXLang_)
    connect(a, &QAction::triggered, this, G::Guard([this, a](bool) { SpTBXLang1Click(a); }, "SpTBXLang1Click"));
  for (TJudgeLamp* lamp : LED_)
    connect(lamp, &TJudgeLamp::Clicked, this, G::Guard([this, lamp] { LEDClick(lamp); }, "LEDClick"));
  auto button = [this](QAbstractButton* b, void (TfrmMain::*handler)(), const char* where) {
    connect(b, &QAbstractButton::clicked, this, G::Guard([this, handler](bool) { (this->*handler)(); }, where));
  };
  button(btnAbort_, &TfrmMain::btnAbortClick, "btnAbortClick");
  button(btnSetChannel_, &TfrmMain::btnSetChannelClick, "btnSetChannelClick");
  button(btnReset_, &TfrmMain::btnResetClick, "btnResetClick");
  button(btnCmd_, &TfrmMain::btnCmdClick, "btnCmdClick");
  button(chk1_, &TfrmMain::chk1Click, "chk1Click");
  rgBandwidth_->OnClick = G::Guard([this] { rgBandwidthClick(); }, "rgBandwidthClick");
  rgDCS_->OnClick = G::Guard([this] { rgDCSClick(); }, "rgDCSClick");
  connect(TestSpinEdit_, &QSpinBox::textChanged, this, G::Guard([this](const QString&) { DoTime(); }, "TestSpinEditChange"));
  connect(TestDelaySpinEdit_, &QSpinBox::textChanged, this, G::Guard([this](const QString&) {
            shell_.TestDelay = SpinValue(TestDelaySpinEdit_);
            DoTime();
          }, "TestDelaySpinEditChange"));
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

void TfrmMain::FitCaptions() {
  // A caption in front of a value keeps the designed place and right edge
  // while its text fits there (at most the design's right edge, and kGap
  // before the value). A longer text — a translation, or wider metrics than
  // the design's Tahoma — grows to the left up to the panel's edge or the
  // control before it; what still does not fit moves the value column to
  // the right, and the controls after it in its rows follow, taking width
  // from buttons (down to what their text needs) before they pass the
  // panel's right edge.
  constexpr int kGap = 4, kButtonGap = 8, kEdge = 6;
  auto label = [this](const char* name) { return findChild<QLabel*>(QString::fromLatin1(name)); };
  auto restore = [](QWidget* w) {
    const QRect r = w->property("designRect").toRect();
    if (r.isNull()) return;
    w->move(r.topLeft());
    if (!w->property("autoSize").toBool()) w->resize(r.size());
  };
  for (QWidget* w : findChildren<QWidget*>())
    if (w->property("designRect").isValid()) restore(w);  // those BuildLayout recorded

  struct Row {
    QLabel* caption;
    QWidget* value;
  };
  // Places a column of captions before their values, moving all the values
  // right by what the widest caption lacks.
  auto column = [&](std::initializer_list<Row> rows, int leftLimit) {
    auto edgeOf = [](const Row& r) {
      const int designValueX = r.value->property("designRect").toRect().x();
      return std::min(r.caption->property("rightEdge").toInt(), designValueX - kGap);
    };
    int shift = 0;
    for (const Row& r : rows) shift = std::max(shift, leftLimit + r.caption->width() - edgeOf(r));
    for (const Row& r : rows) {
      r.value->move(r.value->x() + shift, r.value->y());
      r.caption->move(edgeOf(r) + shift - r.caption->width(), r.caption->y());
    }
  };
  // Controls of one row after `from`: each stays at its place unless the one
  // before reaches it; buttons give up width to stay left of `limit`.
  auto follow = [&](QWidget* from, std::initializer_list<QWidget*> after, int limit) {
    int x = from->x() + from->width() + kButtonGap;
    for (QWidget* w : after) {
      if (w->x() < x) w->move(x, w->y());
      x = w->x() + w->width() + kButtonGap;
    }
    int over = x - kButtonGap - limit;
    for (auto it = after.begin(); it != after.end() && over > 0; ++it) {
      auto* b = qobject_cast<QPushButton*>(*it);
      if (b == nullptr) continue;
      const int need = b->fontMetrics().horizontalAdvance(b->text()) + 12;
      const int take = std::min(over, std::max(0, b->width() - need));
      b->resize(b->width() - take, b->height());
      for (auto later = it + 1; later != after.end(); ++later) (*later)->move((*later)->x() - take, (*later)->y());
      over -= take;
    }
  };

  column({{label("lbl12"), lblFirmware_},
          {label("Label6"), lblPort_},
          {label("lbl15"), lblChannel_},
          {label("lbl14"), ChannelSpinEdit_}},
         kEdge);
  follow(ChannelSpinEdit_, {btnSetChannel_, btnReset_}, gbxBaseStation_->width() - kEdge);
  column({{label("lbl1"), lblMQVer_}}, kEdge);
  column({{label("lblLoops"), TestSpinEdit_}, {label("Label1"), TestDelaySpinEdit_}},
         gbInput_->geometry().right() + 1 + kGap);
  column({{label("Label9"), lblTime_}}, TestSpinEdit_->geometry().right() + 1 + kGap);
  follow(TestDelaySpinEdit_, {btnAbort_}, kClientWidth - kEdge);
  // The report's column heads are centred over their columns: one wider
  // than its column widens about the same centre, staying in the panel.
  for (const char* name : {"Label8", "Label3", "Label4", "Label5", "Label7"}) {
    QLabel* head = label(name);
    const int need = head->fontMetrics().horizontalAdvance(head->text()) + 2;
    if (need <= head->width()) continue;
    const int centre = head->x() + head->width() / 2;
    const int x = std::clamp(centre - need / 2, 2, pnlEcho_->width() - 2 - need);
    head->setGeometry(x, head->y(), need, head->height());
  }
  // Group titles: the echo text after the judge panel's; the channel
  // separation, which stands beside the check box at the height of the
  // system group's title, gives up width from its left, down to its own
  // title's.
  PlaceEchoLabel();
  const int dcsRight = rgDCS_->geometry().right() + 1;
  const int dcsLeft = std::min(std::max(rgDCS_->x(), TitleEnd(gbSystem_) + kGap), dcsRight - (TitleEnd(rgDCS_) + 8));
  rgDCS_->setGeometry(dcsLeft, rgDCS_->y(), dcsRight - dcsLeft, rgDCS_->height());
}

void TfrmMain::PlaceEchoLabel() {
  // The echo text sits right of the group's caption: at 72, or after a
  // longer (translated, or wider drawn) caption.
  lblEcho_->move(std::max(72, TitleEnd(gbStatus_) + 4), 8);
}

int TfrmMain::TitleEnd(const QGroupBox* group) {
  QStyleOptionGroupBox opt;
  opt.initFrom(group);
  opt.text = group->title();
  opt.subControls = QStyle::SC_GroupBoxLabel;
  return group->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, group).right() + 1;
}

void TfrmMain::PlaceVersionLabel() {
  lblVersion_->adjustSize();
  lblVersion_->move(401 - lblVersion_->width(), 683);
}

void TfrmMain::FormCreate() {
  shell_.PadsFound = false;                                              // 1
  exeFolder_ = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString() + "/";  // 2
  ObtainVersionInfo();
  lblVersion_->setText(versionText_);
  PlaceVersionLabel();
  setWindowTitle(QString::fromLatin1(kCaption));                        // 3 (help: the guide in the resources)
  SetOuterWidth(kStartOuterWidth);                                       // 4
  dataFolder_ = options_.dataFolder ? *options_.dataFolder : DataFolder::Locate();  // 5
  if (dataFolder_.empty()) {                                             // 6
    const QString text = QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_3")) + QStringLiteral("\n") +
                         QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_4"));
    ShowMessage(QMessageBox::Critical, QStringLiteral("Error"), text);
    return;
  }
  settingsFile_ = std::make_unique<IniFile>(dataFolder_ + Settings::kFileName);  // 7
  shell_.NextDiveIndex = 0;                                              // 8
  shell_.PadCount = 0;
  StartStates();                                                         // 9
  FileReadResult settingsRead;
  const Settings settings = Settings::Load(*settingsFile_, &settingsRead);  // read once
  // A file that exists but cannot be read is not written over at close;
  // the user learns why once the language is set up.
  if (settingsRead.status != FileReadStatus::Read && settingsRead.status != FileReadStatus::Missing)
    settingsUnread_ = settingsRead;
  shell_.Language = settings.Language;                                   // 10
  try {                                                                  // 11
    i18n::TLanguageStartup::LoadTranslationFile(siLangDispatcher1_, dataFolder_);
  } catch (...) {
    // A damaged translation file: the built-in tables stay; the user sees
    // why, once. The pad-link form, which links later, must not read the
    // same file again and report the same fault a second time.
    siLangDispatcher1_.FileName.clear();
    ReportTranslationFileError(std::current_exception());
  }
  shell_.Languages = settings.Languages;                                 // 12
  const auto enabled = i18n::TLanguageStartup::LanguageItemsEnabled(shell_.Languages);
  for (std::size_t i = 0; i < enabled.size(); ++i)
    if (enabled[i]) SpTBXLang_[i]->setEnabled(*enabled[i]);
  const auto act = i18n::TLanguageStartup::ActivateLanguage(siLangDispatcher1_, shell_.Language);  // 13
  if (!act.ok) std::fprintf(stderr, "MqTool: setting \"Language\" ignored: %s\n", act.error.c_str());
  langImage_ = act.flagImage;
  SpTBXSubmenuItemLang_->setIcon(ImageList1(langImage_));
  shell_.Developer = settings.Developer;                                 // 14
  shell_.BandwidthIndex = 4;                                             // 15
  DeveloperStates();                                                     // 16
  if (settingsUnread_)
    ShowMessage(QMessageBox::Warning, QStringLiteral("MqTool"), SettingsNotUsedText(*settingsUnread_));
}

QString TfrmMain::Tr(const char* id, std::initializer_list<QString> args) const {
  QString text = QString::fromStdString(siLangRT1_->GetTextOrDefault(id));
  int n = 1;
  for (const QString& arg : args) text.replace(QStringLiteral("%") + QString::number(n++), arg);
  return text;
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

void TfrmMain::ReportTranslationFileError(std::exception_ptr error) const {
  // "Unrecognized stream format!" and the record errors do not say which
  // file; the user has to know which one to replace or remove.
  QString message = ErrorReporter::Message(error);
  const QString file = QString::fromStdString(dataFolder_ + std::string(i18n::TLanguageStartup::kTranslationFileName));
  if (!message.contains(file)) message = file + QStringLiteral(": ") + message;
  ErrorReporter::ReportAny(std::make_exception_ptr(i18n::ESibFormatError(message.toStdString())),
                           QStringLiteral("loading MqTool.sib"));
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
      advice = settingsUnread_->owner.empty()
                   ? Tr("IDS_64")
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
  shell_.PadCount = static_cast<int>(pads.size());                       // 1
  shell_.PadsFound = shell_.PadCount > 0;
  lblTime_->setVisible(shell_.PadsFound);                                // 2
  lblFirmware_->setText(QString::fromStdString(s.BaseIdent()));          // 3
  lblPort_->setText(QString::fromStdString(s.PortText()));
  lblChannel_->setText(QString::fromStdString(s.ChannelText()));
  for (QLabel* l : {lblFirmware_, lblPort_, lblChannel_}) l->adjustSize();
  auto handler = std::move(rgBandwidth_->OnClick);                       // 4: detach, select, attach
  rgBandwidth_->OnClick = nullptr;
  rgBandwidth_->SetItemIndex(shell_.BandwidthIndex);
  rgBandwidth_->OnClick = std::move(handler);
  const bool base = s.BasePort() > 0;                                    // 5
  SpTBXItemActivePort_->setEnabled(base);
  SpTBXItemSilent_->setEnabled(base);
  gbStatus_->setEnabled(base);
  edtCommand_->setEnabled(base);
  btnCmd_->setEnabled(base);
  rgDCS_->setEnabled(s.DCSAvailable());                                  // 6
  edtCommand_->setPlaceholderText(base ? QString::fromStdString(siLangRT1_->GetTextOrDefault("IDS_5")) : QString());  // 7
  SpTBXSubmenuItemCommand_->setEnabled(shell_.PadsFound);                // 8
  SpTBXItemEcho_->setEnabled(shell_.PadsFound);
  SpTBXCharTest_->setEnabled(shell_.PadsFound && shell_.Developer);
  const std::vector<std::string> fw = s.FirmwareList();                  // 9
  QString mqVer;
  for (std::size_t i = 0; i < fw.size(); ++i) {
    if (i == 0)
      mqVer = fw[0] == "0" ? QStringLiteral("<pre 910>") : QString::fromStdString(fw[0]);
    else
      mqVer += QStringLiteral(", ") + QString::fromStdString(fw[i]);
  }
  lblMQVer_->setText(mqVer);
  lblMQVer_->adjustSize();
  ClearEcho();                                                           // 10
  chk1_->setChecked(s.Broadcast());                                      // 11
  if (shell_.PadsFound) DoTime();                                        // 12
  SpTBXSubmenuItemScans_->setEnabled(true);                              // 13
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
  p.setColor(QPalette::WindowText, colour == padlink::TReportColour::Red ? QColor(0xFF, 0x00, 0x00)
                                                                         : palette().color(QPalette::WindowText));
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
  for (long long c = start; c < start + 10; ++c) codes.push_back(static_cast<char>(static_cast<unsigned char>(c & 0xFF)));
  if (link_) link_->SendDive(codes);
  edtCommand_->setText(QString::number(start + 10));
}

void TfrmMain::SpTBXItemHelpClick() {
  if (help_ == nullptr) help_ = new THelpWindow(this);
  help_->ShowContents();
}

char TfrmMain::PadIdFromControlName(std::string_view name) {
  const bool light = name.size() >= 3 && SameName(name.substr(0, 3), "LED");
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
  if (SameName(name, "siTaskDialog1")) return siTaskDialog1_;
  for (QObject* o : findChildren<QObject*>()) {
    const QByteArray n = o->objectName().toLatin1();
    if (!n.isEmpty() && SameName(std::string_view(n.constData(), static_cast<std::size_t>(n.size())), name)) {
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
  if (SameName(property, "Caption")) {
    if (o == this) return windowTitle().toStdString();
    if (auto* a = qobject_cast<QAction*>(o)) return FromQt(a->text());
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return FromQt(b->text());
    if (auto* l = qobject_cast<QLabel*>(o)) return FromQt(l->text());
    if (auto* g = qobject_cast<QGroupBox*>(o)) return FromQt(g->title());
    return std::nullopt;
  }
  if (SameName(property, "Hint")) {
    // The hint as it was given, not the markup that shows it as plain text.
    if (const QVariant plain = o->property(kPlainHint); plain.isValid()) return FromQt(plain.toString());
    if (auto* a = qobject_cast<QAction*>(o)) return FromQt(a->toolTip());
    if (auto* w = qobject_cast<QWidget*>(o)) return FromQt(w->toolTip());
    return std::nullopt;
  }
  if (SameName(property, "ExpandButtonCaption") && o == siTaskDialog1_)
    return FromQt(siTaskDialog1_->ExpandButtonCaption);
  return std::nullopt;
}

void TfrmMain::SetText(std::string_view component, std::string_view property, const std::string& value) {
  QObject* o = FindComponent(component);
  if (o == nullptr) return;
  const QString text = ToQt(value);
  if (SameName(property, "Caption")) {
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
  if (SameName(property, "Hint")) {
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
  if (SameName(property, "ExpandButtonCaption") && o == siTaskDialog1_) siTaskDialog1_->ExpandButtonCaption = text;
}

std::optional<std::vector<std::string>> TfrmMain::GetList(std::string_view component, std::string_view property) {
  auto* rg = qobject_cast<TRadioGroup*>(FindComponent(component));
  if (rg == nullptr || !SameName(property, "Items")) return std::nullopt;
  std::vector<std::string> items;
  for (const QString& s : rg->Items()) items.push_back(FromQt(s));
  return items;
}

void TfrmMain::SetList(std::string_view component, std::string_view property, const std::vector<std::string>& items) {
  auto* rg = qobject_cast<TRadioGroup*>(FindComponent(component));
  if (rg == nullptr || !SameName(property, "Items")) return;
  QStringList list;
  for (const auto& s : items) list << ToQt(s);
  rg->SetItems(list);
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
  const std::pair<std::string*, const char*> fields[] = {
      {&t.Title, "IDS_300"},          {&t.DateTime, "IDS_301"},       {&t.BaseStation, "IDS_302"},
      {&t.ProgramVersion, "IDS_303"}, {&t.Channel, "IDS_304"},        {&t.Port, "IDS_305"},
      {&t.Bandwidth, "IDS_306"},      {&t.TestDelay, "IDS_307"},      {&t.Loops, "IDS_308"},
      {&t.Pads, "IDS_309"},           {&t.Duration, "IDS_310"},       {&t.LoopsOfAsked, "IDS_311"},
      {&t.EndedEarly, "IDS_312"},     {&t.Estimate, "IDS_313"},       {&t.ReportHeading, "IDS_314"},
      {&t.SharesHeading, "IDS_315"},  {&t.TimelineHeading, "IDS_316"}, {&t.Judge, "IDS_317"},
      {&t.Pad, "IDS_318"},            {&t.Replies, "IDS_319"},        {&t.Resends, "IDS_320"},
      {&t.Missed, "IDS_321"},         {&t.Steps, "IDS_322"},          {&t.Reads, "IDS_323"},
      {&t.Sends, "IDS_324"},          {&t.AtOnce, "IDS_325"},         {&t.AfterResend, "IDS_326"},
      {&t.NoAnswer, "IDS_327"},       {&t.LateReplies, "IDS_328"},    {&t.AnsweredAtOnce, "IDS_329"},
      {&t.MissedSend, "IDS_330"},     {&t.MissedRead, "IDS_331"},     {&t.NotRun, "IDS_332"},
      {&t.TimelineLabel, "IDS_333"},  {&t.JudgeLabel, "IDS_334"},     {&t.OneLoop, "IDS_335"},
      {&t.LoopRange, "IDS_336"},      {&t.StepsAtOnce, "IDS_337"},    {&t.ColumnNote, "IDS_338"},
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
  const QString path = AskSaveFile("dlgSaveReport", mnuSaveReport_,
                                   QStringLiteral("Echo test %1.html").arg(stamp), QStringLiteral("HTML (*.html *.htm)"));
  if (!path.isEmpty()) SaveFile(path, html);
}

}  // namespace mq
