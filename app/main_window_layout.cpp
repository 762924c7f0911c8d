// TfrmMain's fixed layout: the toolbar and its drop-downs, the groups and
// their controls at their designed places, the context menus, the handlers'
// connections, and the fitting of captions whose text is longer than the
// design's.

#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "app/apd_status_light.h"
#include "app/app_fonts.h"
#include "app/error_reporter.h"
#include "app/judge_lamp.h"
#include "app/log_list_box.h"
#include "app/main_window_internal.h"
#include "app/radio_group.h"
#include "app/si_task_dialog.h"

namespace mq {

using namespace main_window_internal;

namespace {

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

}  // namespace

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
  const LangItem order[] = {{1, "English"},  {9, "Dansk"},    {4, "Deutsch"},   {5, "Español"},  {3, "Français"},
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
  apdstslghtRX_->SetLitColor(QColor(0x00, 0xFF, 0xFF));     // aqua
  apdstslghtRX_->SetNotLitColor(QColor(0x00, 0x00, 0xFF));  // blue
  apdstslghtTX_ = new TApdStatusLight(gbxBaseStation_);
  apdstslghtTX_->setObjectName(QStringLiteral("apdstslghtTX"));
  apdstslghtTX_->move(198, 13);
  apdstslghtTX_->SetLitColor(QColor(0xFF, 0x00, 0x00));     // red
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
    lblJ_[static_cast<std::size_t>(i)] = MakeLabel(gbInput_, cap.c_str(), QStringLiteral("J%1").arg(i),
                                                   i < 10 ? 16 : 13, 27 + 24 * i);
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
  for (QWidget* w :
       std::initializer_list<QWidget*>{lblFirmware_, lblPort_, lblChannel_, ChannelSpinEdit_, btnSetChannel_, btnReset_,
                                       lblMQVer_, TestSpinEdit_, TestDelaySpinEdit_, lblTime_, btnAbort_, rgDCS_})
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
  connect(TestSpinEdit_, &QSpinBox::textChanged, this,
          G::Guard([this](const QString&) { DoTime(); }, "TestSpinEditChange"));
  connect(TestDelaySpinEdit_, &QSpinBox::textChanged, this,
          G::Guard(
              [this](const QString&) {
                shell_.TestDelay = SpinValue(TestDelaySpinEdit_);
                DoTime();
              },
              "TestDelaySpinEditChange"));
}

// ---------------------------------------------------------------------------
// Fitting the captions

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

}  // namespace mq
