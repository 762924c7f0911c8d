// The real main window on the offscreen platform, over a recording pad link.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <fstream>
#include <set>
#include <sstream>

#include "app/app_fonts.h"
#include "app/help_window.h"
#include "app/judge_lamp.h"
#include "app/log_list_box.h"
#include "app/radio_group.h"
#include "app/recording_dialogs.h"
#include "app/recording_pad_link.h"
#include "app/si_task_dialog.h"
#include "padlink/echo_record.h"
#include "i18n/lang_entry.h"
#include "padlink/pad_link.h"

namespace mq {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  std::string Folder() const { return dir_.path().toStdString() + "/"; }
  std::string IniPath() const { return Folder() + "MqTool.ini"; }
  void WriteIni(const std::string& text) { std::ofstream(IniPath(), std::ios::binary) << text; }

  TfrmMain& Create() {
    TfrmMain::Options o;
    o.dataFolder = Folder();
    o.dialogs = &dialogs_;
    w_ = std::make_unique<TfrmMain>(o);
    w_->AttachPadLink(&link_, &link_);
    w_->show();
    return *w_;
  }

  template <class T = QWidget>
  T* C(const char* name) {
    auto* c = w_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  QAction* A(const char* name) { return C<QAction>(name); }

  void StationWithPads(std::vector<std::string> pads) {
    link_.basePort = 3;
    link_.portText = "3";
    link_.baseIdent = "ER400TRS-02V2.01.8";
    link_.channelText = "7";
    link_.padList = std::move(pads);
    w_->Refresh();
  }

  QTemporaryDir dir_;
  RecordingDialogs dialogs_;
  RecordingPadLink link_;
  std::unique_ptr<TfrmMain> w_;
};

// ---- start and enabling table ---------------------------------------------

TEST_F(MainWindowTest, StartStatesBeforeTheFirstRefresh) {
  Create();
  EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
  for (const char* off :
       {"SpTBXItemActivePort", "SpTBXItemSilent", "SpTBXSubmenuItemCommand", "SpTBXItemEcho", "SpTBXCharTest"})
    EXPECT_FALSE(A(off)->isEnabled()) << off;
  EXPECT_FALSE(C("gbStatus")->isEnabled());
  EXPECT_FALSE(C("edtCommand")->isEnabled());
  EXPECT_FALSE(C("btnCmd")->isEnabled());
  EXPECT_FALSE(C("rgDCS")->isEnabled());
  EXPECT_EQ(C<TRadioGroup>("rgDCS")->ItemIndex(), -1);
  EXPECT_EQ(C<TRadioGroup>("rgBandwidth")->ItemIndex(), 4);
  EXPECT_FALSE(C("lblTime")->isVisible());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(C<QLabel>(("J" + std::to_string(i)).c_str())->text(), "");
  EXPECT_EQ(C("lbxLog")->width(), 0);
  EXPECT_FALSE(C("ProgressBar")->isVisible());
  EXPECT_EQ(w_->windowTitle(), "Marq Utility");
  EXPECT_EQ(w_->OuterWidth(), 448);
  EXPECT_EQ(w_->height(), 713);
  EXPECT_EQ(C<QLabel>("Label5")->palette().color(QPalette::WindowText), QColor(Qt::red));
  // Developer off: the developer controls are hidden.
  EXPECT_FALSE(C("btnCmd")->isVisible());
  EXPECT_FALSE(C("edtCommand")->isVisible());
  EXPECT_FALSE(C("rgBandwidth")->isVisible());
  EXPECT_FALSE(A("SpTBXCharTest")->isVisible());
}

TEST_F(MainWindowTest, EnablingTableNoStationStationWithoutPadsWithPadsAndDeveloper) {
  Create();
  auto check = [&](bool base, bool pads, bool dev, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
    EXPECT_EQ(A("SpTBXItemActivePort")->isEnabled(), base);
    EXPECT_EQ(A("SpTBXItemSilent")->isEnabled(), base);
    EXPECT_EQ(C("gbStatus")->isEnabled(), base);
    EXPECT_EQ(C("edtCommand")->isEnabled(), base);
    EXPECT_EQ(C("btnCmd")->isEnabled(), base);
    EXPECT_EQ(A("SpTBXSubmenuItemCommand")->isEnabled(), pads);
    EXPECT_EQ(A("SpTBXItemEcho")->isEnabled(), pads);
    EXPECT_EQ(A("SpTBXCharTest")->isEnabled(), pads && dev);
    EXPECT_EQ(C("lblTime")->isVisible(), pads);
    EXPECT_EQ(C("btnCmd")->isVisible(), dev);
    EXPECT_EQ(A("SpTBXCharTest")->isVisible(), dev);
    for (const char* always : {"SpTBXItemExit", "SpTBXItemNextDive", "SpTBXSubmenuItemLang", "SpTBXItemHelp"})
      EXPECT_TRUE(A(always)->isEnabled()) << always;
    for (const char* always : {"btnSetChannel", "btnReset", "btnAbort", "chk1", "TestSpinEdit", "TestDelaySpinEdit"})
      EXPECT_TRUE(C(always)->isEnabled()) << always;
    EXPECT_EQ(C<QLineEdit>("edtCommand")->placeholderText(), base ? "Marq Utility Translation" : "");
    EXPECT_EQ(w_->Shell().PadsFound, pads);
  };
  w_->Refresh();
  check(false, false, false, "no station");
  link_.dcsAvailable = false;
  StationWithPads({});
  check(true, false, false, "station without pads");
  EXPECT_EQ(C<QLabel>("lblFirmware")->text(), "ER400TRS-02V2.01.8");
  EXPECT_EQ(C<QLabel>("lblPort")->text(), "3");
  EXPECT_FALSE(C("rgDCS")->isEnabled());
  link_.dcsAvailable = true;
  StationWithPads({"0", "3", "a"});
  check(true, true, false, "station with pads");
  EXPECT_TRUE(C("rgDCS")->isEnabled());
  EXPECT_EQ(w_->Shell().PadCount, 3);
  // Developer mode only changes visibility; it comes from the settings.
  w_.reset();
  WriteIni("[General]\r\nDeveloper=1\r\n");
  Create();
  StationWithPads({"0", "3", "a"});
  check(true, true, true, "developer");
  EXPECT_TRUE(C("rgBandwidth")->isVisible());
  EXPECT_TRUE(link_.calls.empty());
}

TEST_F(MainWindowTest, RefreshShowsFirmwareListAndClearsEchoAndShowsBroadcast) {
  Create();
  link_.firmwareList = {"0", "910", "911"};
  w_->SetEchoText("echo");
  link_.broadcast = true;
  w_->Refresh();
  EXPECT_EQ(C<QLabel>("lblMQVer")->text(), "<pre 910>, 910, 911");
  EXPECT_EQ(C<QLabel>("lblEcho")->text(), "");
  EXPECT_TRUE(C<QCheckBox>("chk1")->isChecked());
  link_.firmwareList = {"910"};
  w_->Refresh();
  EXPECT_EQ(C<QLabel>("lblMQVer")->text(), "910");
  link_.firmwareList = {};
  w_->Refresh();
  EXPECT_EQ(C<QLabel>("lblMQVer")->text(), "");
}

TEST_F(MainWindowTest, RefreshSelectsBandwidthWithoutSendingIt) {
  Create();
  w_->Shell().BandwidthIndex = 1;
  w_->Refresh();
  EXPECT_EQ(C<TRadioGroup>("rgBandwidth")->ItemIndex(), 1);
  EXPECT_TRUE(link_.calls.empty());
  // The user's pick does send, and switches the lights off.
  w_->JudgeLightOn(2);
  w_.get()->Shell().Developer = true;
  C<TRadioGroup>("rgBandwidth")->Button(3)->click();
  EXPECT_EQ(link_.calls, std::vector<std::string>{"SetBandwidth(3)"});
  EXPECT_FALSE(C<TJudgeLamp>("LED2")->On());
}

// ---- DoTime and FormResize --------------------------------------------------

TEST_F(MainWindowTest, DoTimeEstimatesTheEchoTest) {
  Create();
  StationWithPads({"0", "1", "2", "3"});
  C<QSpinBox>("TestDelaySpinEdit")->setValue(180);
  C<QSpinBox>("TestSpinEdit")->setValue(10);
  EXPECT_EQ(C<QLabel>("lblTime")->text(), "0:00:07");  // 7524 ms
  C<QSpinBox>("TestSpinEdit")->setValue(10000);
  C<QSpinBox>("TestDelaySpinEdit")->setValue(300);
  EXPECT_EQ(C<QLabel>("lblTime")->text(), "3:29:00");  // 12 540 000 ms
  // A day or more keeps counting hours instead of wrapping.
  EXPECT_EQ(TfrmMain::FormatDuration(90'061'999), "25:01:01");
  EXPECT_EQ(TfrmMain::FormatDuration(0), "0:00:00");
  EXPECT_EQ(TfrmMain::FormatDuration(-5), "0:00:00");
}

TEST_F(MainWindowTest, LogWidthFollowsTheOuterWidth) {
  Create();
  EXPECT_EQ(C("lbxLog")->width(), 0);
  w_->SetOuterWidth(652);
  EXPECT_EQ(w_->OuterWidth(), 652);
  EXPECT_EQ(C("lbxLog")->width(), 200);
  EXPECT_EQ(C("lbxLog")->x(), 431);
  EXPECT_EQ(C("lbxLog")->y(), 70);
  EXPECT_EQ(C("lbxLog")->height(), 639);
  w_->SetOuterWidth(451);
  EXPECT_EQ(C("lbxLog")->width(), 0);
  w_->resize(w_->width(), 813);  // taller: the bottom distance stays
  EXPECT_EQ(C("lbxLog")->height(), 739);
}

// ---- judge panel ---------------------------------------------------------------

TEST_F(MainWindowTest, JudgeLightsAndLabelsTakeThePadIdFromTheirNames) {
  EXPECT_EQ(TfrmMain::PadIdFromControlName("LED0"), '0');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("LED9"), '9');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("LED10"), 'a');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("LED11"), 'c');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("JLab7"), '7');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("JLab10"), 'a');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("JLab11"), 'c');
  EXPECT_EQ(TfrmMain::PadIdFromControlName("LED12"), '0');

  Create();
  // No base station: the panel takes no clicks.
  QTest::mouseClick(C("LED10"), Qt::LeftButton);
  QTest::mouseClick(C("JLab11"), Qt::LeftButton);
  EXPECT_TRUE(link_.calls.empty());

  StationWithPads({"a"});
  w_->JudgeLightOn(10);
  w_->SetEchoText("x");
  QTest::mouseClick(C("LED10"), Qt::LeftButton);
  EXPECT_FALSE(C<TJudgeLamp>("LED10")->On());
  EXPECT_EQ(C<QLabel>("lblEcho")->text(), "");
  QTest::mouseClick(C("JLab11"), Qt::LeftButton);
  QTest::mouseClick(C("LED3"), Qt::LeftButton);  // not registered: polled all the same
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"SilentScan(a)", "EchoOneJudge(c)", "SilentScan(3)"}));
}

TEST_F(MainWindowTest, LampColoursCursorsAndReSetLEDs) {
  Create();
  EXPECT_EQ(C<TJudgeLamp>("LED0")->CurrentColor(), QColor(255, 0, 0));
  w_->JudgeLightOn(0);
  w_->JudgeLightOn(5);
  w_->JudgeLabelHandCursor(5);
  EXPECT_EQ(C<TJudgeLamp>("LED0")->CurrentColor(), QColor(0, 255, 255));  // aqua
  EXPECT_EQ(C<TJudgeLamp>("LED5")->CurrentColor(), QColor(0, 255, 0));    // lime
  EXPECT_EQ(C("JLab5")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(C("JLab4")->cursor().shape(), Qt::ArrowCursor);
  w_->ReSetLEDs();
  EXPECT_FALSE(C<TJudgeLamp>("LED0")->On());
  EXPECT_FALSE(C<TJudgeLamp>("LED5")->On());
  EXPECT_EQ(C("JLab5")->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainWindowTest, DoAwardShowsUnderJudgeCurJudge) {
  Create();
  link_.curJudge = 11;
  w_->DoAward("9,5");
  link_.curJudge = 0;
  w_->DoAward("8,0");
  w_->DoAward("7,5");
  link_.curJudge = 12;
  w_->DoAward("x");
  EXPECT_EQ(C<QLabel>("J11")->text(), "9,5");
  EXPECT_EQ(C<QLabel>("J0")->text(), "7,5");
  for (int i = 1; i < 11; ++i) EXPECT_EQ(C<QLabel>(("J" + std::to_string(i)).c_str())->text(), "");
  EXPECT_EQ(C<QLabel>("J0")->font().pixelSize(), 19);
  EXPECT_EQ(C<QLabel>("J0")->size(), QSize(97, 23));
}

// ---- commands --------------------------------------------------------------------

TEST_F(MainWindowTest, NextDiveCyclesOverTheTenTestDivesAndClearsTheAwards) {
  Create();
  link_.curJudge = 4;
  w_->DoAward("9,0");
  for (int i = 0; i < 11; ++i) A("SpTBXItemNextDive")->trigger();
  ASSERT_EQ(link_.sentDives.size(), 11u);
  EXPECT_EQ(link_.sentDives[0], "103B 3m    First Diver");
  EXPECT_EQ(link_.sentDives[4], "5134D 3m   Fifth Diver");
  EXPECT_EQ(link_.sentDives[9], "5152D 3m   Diver Ten");
  EXPECT_EQ(link_.sentDives[10], "103B 3m    First Diver");
  EXPECT_EQ(C<QLabel>("J4")->text(), "");
  EXPECT_EQ(w_->Shell().NextDiveIndex, 1);
}

TEST_F(MainWindowTest, CharacterTestStartValues) {
  WriteIni("[General]\nDeveloper=1\n");
  Create();
  StationWithPads({"0"});
  auto* edt = C<QLineEdit>("edtCommand");
  auto codes = [](int from) {
    std::string s;
    for (int c = from; c < from + 10; ++c) s.push_back(static_cast<char>(c & 0xFF));
    return s;
  };
  edt->setText("250");
  A("SpTBXCharTest")->trigger();
  EXPECT_EQ(link_.sentDives.back(), codes(246));
  EXPECT_EQ(edt->text(), "256");
  A("SpTBXCharTest")->trigger();
  EXPECT_EQ(link_.sentDives.back(), codes(246));
  edt->setText("abc");
  A("SpTBXCharTest")->trigger();
  EXPECT_EQ(link_.sentDives.back(), codes(160));
  EXPECT_EQ(edt->text(), "170");
  edt->clear();
  A("SpTBXCharTest")->trigger();
  EXPECT_EQ(link_.sentDives.back(), codes(160));
  edt->setText("99999999999999999999");  // not a whole number we can hold
  A("SpTBXCharTest")->trigger();
  EXPECT_EQ(link_.sentDives.back(), codes(160));
  EXPECT_EQ(link_.sentDives.size(), 5u);
}

TEST_F(MainWindowTest, ScanCommandsSwitchScansOffUntilRefresh) {
  Create();
  w_->AddLogLine("old line");
  w_->JudgeLightOn(1);
  A("SpTBXItemFullScan")->trigger();
  EXPECT_FALSE(A("SpTBXSubmenuItemScans")->isEnabled());
  EXPECT_EQ(C<TLogListBox>("lbxLog")->Count(), 0);
  EXPECT_FALSE(C<TJudgeLamp>("LED1")->On());
  StationWithPads({"1"});
  EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
  w_->AddLogLine("kept");
  A("SpTBXItemActivePort")->trigger();
  A("SpTBXItemSilent")->trigger();
  EXPECT_EQ(C<TLogListBox>("lbxLog")->Count(), 1);  // only Full Scan clears the log
  EXPECT_FALSE(A("SpTBXSubmenuItemScans")->isEnabled());
  auto* dropDown = C<QToolBar>("SpTBXToolbar1")->widgetForAction(A("SpTBXSubmenuItemScans"));
  ASSERT_NE(dropDown, nullptr);
  EXPECT_FALSE(dropDown->isEnabled());  // the menu cannot be opened until Refresh
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"FullScan", "ScanPortForPads", "SilentScanAll"}));
}

TEST_F(MainWindowTest, TheToolbarWorksFromTheKeyboardAsAMenuBarDoes) {
  Create();
  w_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w_.get()));
  auto* bar = C<QToolBar>("SpTBXToolbar1");
  auto button = [&](const char* name) { return bar->widgetForAction(A(name)); };
  auto press = [](int key) { QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key)); };
  EXPECT_EQ(button("SpTBXItemExit")->focusPolicy(), Qt::NoFocus);  // not in the Tab order
  QTest::keyClick(w_.get(), Qt::Key_F10);
  EXPECT_EQ(QApplication::focusWidget(), button("SpTBXItemExit"));
  // Round the ends; the hidden Character Test and the disabled Commands and
  // Echo Test are passed over.
  press(Qt::Key_Left);
  EXPECT_EQ(QApplication::focusWidget(), button("SpTBXItemHelp"));
  for (const char* next : {"SpTBXItemExit", "SpTBXSubmenuItemScans", "SpTBXItemNextDive", "SpTBXSubmenuItemLang"}) {
    press(Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), button(next)) << next;
  }
  press(Qt::Key_Left);
  press(Qt::Key_Return);  // a plain button: pressed
  EXPECT_EQ(link_.sentDives.size(), 1u);
  press(Qt::Key_Left);
  // A drop-down opens its menu (which runs until it closes: closed from a timer).
  auto* menu = C<QMenu>("mnuScans");
  bool opened = false;
  QTimer::singleShot(0, menu, [&] {
    opened = menu->isVisible();
    menu->close();
  });
  press(Qt::Key_Down);
  EXPECT_TRUE(opened);
  press(Qt::Key_Escape);
  EXPECT_FALSE(bar->isAncestorOf(QApplication::focusWidget()));
}

TEST_F(MainWindowTest, TargetChannelTakesNoClipboardCommands) {
  Create();
  auto* spin = C<QSpinBox>("ChannelSpinEdit");
  QApplication::clipboard()->setText("3");
  auto* edit = spin->findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  QTest::keySequence(edit, QKeySequence::Paste);
  QTest::keySequence(edit, QKeySequence::Cut);
  EXPECT_EQ(spin->value(), 7);
  EXPECT_EQ(spin->text(), "7");
  EXPECT_EQ(QApplication::clipboard()->text(), "3");
  QTest::keyClick(edit, Qt::Key_Up);
  EXPECT_EQ(spin->value(), 8);
}

TEST_F(MainWindowTest, PadCommandsResetBroadcastAbortAndSendCmd) {
  WriteIni("[General]\nDeveloper=1\n");
  Create();
  StationWithPads({"0", "1"});
  A("SpTBXItemJudge")->trigger();
  A("SpTBXItemLock")->trigger();
  A("SpTBXItemUnlock")->trigger();
  C<QSpinBox>("ChannelSpinEdit")->setValue(3);
  C<QPushButton>("btnSetChannel")->click();
  w_->JudgeLightOn(0);
  C<QSpinBox>("ChannelSpinEdit")->setValue(2);
  C<QPushButton>("btnReset")->click();
  EXPECT_EQ(C<QSpinBox>("ChannelSpinEdit")->value(), 7);
  EXPECT_FALSE(C<TJudgeLamp>("LED0")->On());
  C<QPushButton>("btnAbort")->click();
  C<QCheckBox>("chk1")->click();
  C<QLineEdit>("edtCommand")->setText(QString::fromUtf8("ER_CMD#\u20AC\u00E9\u4E2D"));
  C<QPushButton>("btnCmd")->click();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"RequestJudgeIDs", "KbdLocked(true)", "KbdLocked(false)",
                                                   "SetChannel(3)", "BaseStationReset", "SetEchoLoops(1)",
                                                   "SetBroadcast(true)", "SendCustomCmd(ER_CMD#\x80\xE9?)"}));
}

TEST_F(MainWindowTest, EchoTestPreparesTheReportAndProgressBar) {
  Create();
  StationWithPads({"0", "1"});
  w_->AddLogLine("x");
  C<QSpinBox>("TestSpinEdit")->setValue(25);
  A("SpTBXItemEcho")->trigger();
  auto* bar = C<QProgressBar>("ProgressBar");
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->geometry(), QRect(150, 682, 275, 18));
  EXPECT_EQ(bar->value(), bar->minimum());
  EXPECT_EQ(C<TLogListBox>("lbxLog")->Count(), 0);
  EXPECT_EQ(link_.calls, std::vector<std::string>{"TestEcho(25)"});
}

TEST_F(MainWindowTest, ChannelSeparationRunsOnlyOnTheUsersPick) {
  Create();
  link_.dcsAvailable = true;
  StationWithPads({"0"});
  w_->JudgeLightOn(0);
  C<TRadioGroup>("rgDCS")->Button(1)->click();  // "OFF"
  EXPECT_EQ(link_.calls, std::vector<std::string>{"DCS(false)"});
  EXPECT_FALSE(C<TJudgeLamp>("LED0")->On());
  C<TRadioGroup>("rgDCS")->Button(0)->click();
  EXPECT_EQ(link_.calls.back(), "DCS(true)");
  link_.calls.clear();
  C<TRadioGroup>("rgDCS")->SetItemIndex(1);
  w_->Refresh();
  EXPECT_TRUE(link_.calls.empty());
}

// ---- languages ---------------------------------------------------------------------

TEST_F(MainWindowTest, DutchAndGermanCaptions) {
  WriteIni("[General]\nLanguages=1111111111\n");
  Create();
  A("SpTBXLang2")->trigger();
  EXPECT_EQ(C<QPushButton>("btnAbort")->text(), "Test afbreken");
  EXPECT_EQ(C<QPushButton>("btnCmd")->text(), "Send cmd");  // no Dutch text: English
  EXPECT_EQ(w_->GetText("SpTBXItemNextDive", "Caption"), "Volgende\r\nSprong");
  EXPECT_EQ(A("SpTBXItemNextDive")->iconText(), "Volgende\nSprong");
  EXPECT_EQ(w_->siTaskDialog1().ExpandButtonCaption, "Meer..");
  EXPECT_EQ(C<TRadioGroup>("rgDCS")->Items(), (QStringList{"ON", "OFF"}));
  EXPECT_EQ(w_->Shell().Language, 2);
  EXPECT_EQ(w_->LanguageImageIndex(), 15);
  EXPECT_TRUE(A("SpTBXLang2")->isChecked());
  A("SpTBXLang4")->trigger();
  EXPECT_EQ(A("SpTBXItemHelp")->text(), "&Hilfe");
  EXPECT_EQ(C<QPushButton>("btnAbort")->text(), "Abort test");
  EXPECT_EQ(C<QLabel>("lblVersion")->text(), "3.5.0.0");  // never translated
  EXPECT_TRUE(A("SpTBXLang4")->isChecked());
  EXPECT_FALSE(A("SpTBXLang2")->isChecked());
  // Dansk and Svenska switch like the others.
  A("SpTBXLang9")->trigger();
  EXPECT_EQ(w_->Shell().Language, 9);
  EXPECT_EQ(w_->LanguageImageIndex(), 22);
  EXPECT_EQ(A("SpTBXItemHelp")->text(), QString::fromUtf8("Hj\u00E6lp"));
  A("SpTBXLang10")->trigger();
  EXPECT_EQ(A("SpTBXItemHelp")->text(), QString::fromUtf8("Hj\u00E4lp"));
}

TEST_F(MainWindowTest, LanguageItemsFollowTheMask) {
  Create();  // default mask "1110100000"
  const bool expected[10] = {true, true, true, false, true, false, false, false, false, false};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(A(("SpTBXLang" + std::to_string(i + 1)).c_str())->isEnabled(), expected[i]) << i + 1;
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(A(("SpTBXLang" + std::to_string(i + 1)).c_str())->isChecked());
  EXPECT_EQ(w_->LanguageImageIndex(), 14);
}

// A hint from the translation file that looks like markup is shown as the
// text it is, and reads back as given.
TEST_F(MainWindowTest, AHintThatLooksLikeMarkupIsShownAsPlainText) {
  Create();
  const std::string hint = "<img src=x> <b>Full</b> scan";
  w_->SetText("SpTBXItemFullScan", "Hint", hint);
  const QString tip = A("SpTBXItemFullScan")->toolTip();
  QTextDocument shown;
  shown.setHtml(tip);
  EXPECT_EQ(shown.toPlainText(), QString::fromStdString(hint));
  EXPECT_EQ(w_->GetText("SpTBXItemFullScan", "Hint"), hint);
}

TEST_F(MainWindowTest, YourLanguageShowsTheTaskDialogRelabelledOrTheFallback) {
  WriteIni("[General]\nLanguages=1111111111\nLanguage=7\n");
  Create();
  A("SpTBXLangX")->trigger();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  const auto& d = dialogs_.shown[0];
  EXPECT_EQ(d.objectName, "siTaskDialog1");
  EXPECT_EQ(d.markupLabels, 0);  // its texts may come from the translation file
  EXPECT_TRUE(d.buttons.contains("U redu")) << d.buttons.join("|").toStdString();
  EXPECT_EQ(w_->Shell().Language, 7);

  A("SpTBXLang1")->trigger();
  dialogs_.Throw = "siTaskDialog1";
  A("SpTBXLangX")->trigger();
  ASSERT_EQ(dialogs_.shown.size(), 3u);
  EXPECT_EQ(dialogs_.shown[1].title, "Marq Utility Translation");
  EXPECT_TRUE(dialogs_.shown[1].labels.contains("Translation"));
  EXPECT_TRUE(dialogs_.shown[1].buttons.contains("More.."));
  EXPECT_EQ(dialogs_.shown[2].icon, static_cast<int>(QMessageBox::Information));
  EXPECT_EQ(dialogs_.shown[2].text,
            "If you are willing to help translate this program\ninto your language, please send me an email.");
}

// ---- settings, version, help -----------------------------------------------------------

TEST_F(MainWindowTest, SettingsRoundTripThroughCreateAndClose) {
  Create();
  EXPECT_EQ(w_->Shell().Language, 1);
  EXPECT_EQ(w_->Shell().Languages, "1110100000");
  EXPECT_FALSE(w_->Shell().Developer);
  w_->close();
  const std::string ini = ReadFile(IniPath());
  EXPECT_NE(ini.find("[General]"), std::string::npos);
  EXPECT_NE(ini.find("Language=1"), std::string::npos);
  EXPECT_NE(ini.find("Languages=1110100000"), std::string::npos);
  EXPECT_NE(ini.find("Developer=0"), std::string::npos);
  EXPECT_EQ(link_.calls, std::vector<std::string>{"CloseComPort"});

  WriteIni("; kept\n[Other]\nx=1\n[General]\nLanguage=0x4\nLanguages=1111111111\nDeveloper=5\n");
  Create();
  EXPECT_EQ(w_->Shell().Language, 4);
  EXPECT_EQ(A("SpTBXItemHelp")->text(), "&Hilfe");
  EXPECT_EQ(w_->LanguageImageIndex(), 17);
  EXPECT_TRUE(w_->Shell().Developer);
  A("SpTBXLang5")->trigger();
  w_->close();
  w_->close();  // a second close writes nothing more
  const std::string after = ReadFile(IniPath());
  EXPECT_NE(after.find("Language=5"), std::string::npos);
  EXPECT_NE(after.find("Developer=1"), std::string::npos);
  EXPECT_NE(after.find("; kept"), std::string::npos);
  EXPECT_NE(after.find("x=1"), std::string::npos);

  WriteIni("[General]\nDeveloper=yes\nLanguage=11\n");
  Create();
  EXPECT_FALSE(w_->Shell().Developer);
  EXPECT_EQ(w_->LanguageImageIndex(), 14);  // not a language: English stays, with its flag
  EXPECT_EQ(C<QPushButton>("btnAbort")->text(), "Abort test");
}

TEST_F(MainWindowTest, MissingDataFolderShowsTheCriticalErrorAndCloseCompletes) {
  TfrmMain::Options o;
  o.dataFolder = std::string();
  o.dialogs = &dialogs_;
  w_ = std::make_unique<TfrmMain>(o);
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].text, "Unable to locate Common Application Data folder.\nThis is a Critical Error.");
  EXPECT_EQ(dialogs_.shown[0].icon, static_cast<int>(QMessageBox::Critical));
  w_->close();
  EXPECT_FALSE(w_->isVisible());

  // A data folder that is gone at close: reported, and the close completes.
  TfrmMain::Options gone;
  gone.dataFolder = Folder() + "missing/";
  gone.dialogs = &dialogs_;
  w_ = std::make_unique<TfrmMain>(gone);
  w_->show();
  testing::internal::CaptureStderr();
  w_->close();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("settings could not be written"), std::string::npos) << err;
  EXPECT_FALSE(w_->isVisible());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Folder() + "missing/MqTool.ini")));
}

TEST_F(MainWindowTest, ASettingsWriteThatFailsAtCloseIsShownNamingTheFileAndTheCloseCompletes) {
  // A folder that is gone (the program never makes it): the box at close
  // says so and how the folder is made, instead of advice about groups.
#ifdef _WIN32
  const QString gone = QStringLiteral("Path not found");
#else
  const QString gone = QStringLiteral("No such file or directory");
#endif
  TfrmMain::Options o;
  o.dataFolder = Folder() + "missing/";
  o.dialogs = &dialogs_;
  w_ = std::make_unique<TfrmMain>(o);
  w_->show();
  w_->close();
  EXPECT_FALSE(w_->isVisible());
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  const auto& box = dialogs_.shown[0];
  EXPECT_EQ(box.title, "MqTool");
  EXPECT_EQ(box.icon, static_cast<int>(QMessageBox::Warning));
  EXPECT_TRUE(box.text.startsWith(TfrmMain::kSettingsNotSaved)) << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(QString::fromStdString(Folder() + "missing/MqTool.ini"))) << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(gone)) << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(QString::fromStdString("The folder " + Folder() + "missing/ does not exist.")))
      << box.text.toStdString();
  EXPECT_TRUE(box.text.endsWith(QStringLiteral("The settings file is unchanged."))) << box.text.toStdString();
  w_->close();
  EXPECT_EQ(dialogs_.shown.size(), 1u);  // once
}

// Something in the settings file's place that is not a file of settings (a
// folder here; a link or a FIFO planted by another user alike): the user
// learns at start that its settings are not used and why, and at close, in
// the language chosen meanwhile, that it was left as it is.
TEST_F(MainWindowTest, ASettingsFileThatCannotBeReadIsReportedAtStartAndNeverWrittenOver) {
  QDir(dir_.path()).mkpath(QStringLiteral("MqTool.ini"));
  Create();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].title, "MqTool");
  EXPECT_EQ(dialogs_.shown[0].markupLabels, 0);  // file names are shown as they are
  EXPECT_EQ(dialogs_.shown[0].text, QString::fromStdString("The settings in " + IniPath() +
                                                           " are not used this time: it is not a regular file."));
  A("SpTBXLang3")->trigger();  // Français
  w_->close();
  ASSERT_EQ(dialogs_.shown.size(), 2u);
  const QString& text = dialogs_.shown[1].text;
  EXPECT_TRUE(
      text.startsWith(QString::fromUtf8("MqTool n'a pas pu enregistrer ses paramètres.\n\n"
                                        "Les paramètres de ")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromUtf8("ce n'est pas un fichier ordinaire"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromUtf8("Supprimez le fichier"))) << text.toStdString();
  EXPECT_TRUE(text.endsWith(QString::fromUtf8("Le fichier de paramètres n'a pas été modifié."))) << text.toStdString();
  EXPECT_TRUE(QFileInfo(QString::fromStdString(IniPath())).isDir());
}

TEST_F(MainWindowTest, ALanguageSwitchKeepsTheEchoReport) {
  Create();
  w_->SetReportRow(3, "3       1       0       0       0", padlink::TReportColour::Red);
  w_->SetReportRowText(4, "4");  // a new test's caption
  A("SpTBXLang2")->trigger();
  EXPECT_EQ(C<QLabel>("Label19")->text(), "Test Resultaten");
  EXPECT_EQ(C<QLabel>("Pad3")->text(), "3       1       0       0       0");
  EXPECT_EQ(C<QLabel>("Pad3")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(C<QLabel>("Pad4")->text(), "4");
  EXPECT_EQ(C<QLabel>("Pad11")->text(), "11");
  A("SpTBXLang1")->trigger();
  EXPECT_EQ(C<QLabel>("Pad3")->text(), "3       1       0       0       0");
}

TEST_F(MainWindowTest, LogAndReportContextMenusCopyAndSaveAndAreTranslated) {
  WriteIni("[General]\nLanguages=1111111111\n");
  Create();
  StationWithPads({"3", "c"});
  auto* log = C<TLogListBox>("lbxLog");
  auto* panel = C<QFrame>("pnlEcho");
  const QRect logPlace = log->geometry(), panelPlace = panel->geometry();
  EXPECT_EQ(log->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_EQ(panel->contextMenuPolicy(), Qt::ActionsContextMenu);
  ASSERT_EQ(log->actions(), (QList<QAction*>{A("mnuLogCopy"), A("mnuLogSave")}));
  ASSERT_EQ(panel->actions(), (QList<QAction*>{A("mnuSaveReport")}));
  EXPECT_EQ(A("mnuLogCopy")->text(), "Copy");
  EXPECT_EQ(A("mnuLogSave")->text(), QString::fromUtf8("Save log\u2026"));
  EXPECT_EQ(A("mnuSaveReport")->text(), QString::fromUtf8("Save report\u2026"));
  // Nothing to copy, save or report yet.
  EXPECT_FALSE(A("mnuLogCopy")->isEnabled());
  EXPECT_FALSE(A("mnuLogSave")->isEnabled());
  EXPECT_FALSE(A("mnuSaveReport")->isEnabled());

  w_->AddLogLine(
      "3 --> \x02"
      "3J3  1\x1b"
      "4\x04");
  w_->AddLogLine(
      "3 <-- \x02"
      "3\x06"
      "J3  1\x04\xc2\x81");
  EXPECT_TRUE(A("mnuLogSave")->isEnabled());
  EXPECT_FALSE(A("mnuLogCopy")->isEnabled());
  log->setCurrentRow(0);
  ASSERT_TRUE(A("mnuLogCopy")->isEnabled());
  A("mnuLogCopy")->trigger();
#ifdef _WIN32
  const QString eol = "\r\n";
#else
  const QString eol = "\n";
#endif
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "3 --> <STX>3J3  1<ESC>4<EOT>" + eol);

  dialogs_.Result = QDialog::Accepted;
  dialogs_.SaveAs = dir_.filePath("log.txt");
  A("mnuLogSave")->trigger();
  ASSERT_FALSE(dialogs_.shown.empty());
  EXPECT_EQ(dialogs_.shown.back().objectName, "dlgSaveLog");
  EXPECT_EQ(dialogs_.shown.back().title, "Save log");
  EXPECT_EQ(ReadFile(dir_.filePath("log.txt").toStdString()),
            ("3 --> <STX>3J3  1<ESC>4<EOT>" + eol + "3 <-- <STX>3<ACK>J3  1<EOT><81>" + eol).toStdString());
  // A file that cannot be written is said, naming it.
  dialogs_.SaveAs = dir_.filePath("missing/log.txt");
  A("mnuLogSave")->trigger();
  EXPECT_EQ(dialogs_.shown.back().objectName, "MessageBox");
  EXPECT_EQ(dialogs_.shown.back().icon, static_cast<int>(QMessageBox::Warning));
  EXPECT_TRUE(dialogs_.shown.back().text.contains(dir_.filePath("missing/log.txt")))
      << dialogs_.shown.back().text.toStdString();

  // A finished test's report: the same document as mqtool-cli's.
  padlink::TEchoRecord record;
  record.Start(2, 180, {3, 11}, 0);
  for (int loop = 1; loop <= 2; ++loop) {
    record.StepStarted(loop, 3);
    record.Reply(3, loop);
    record.StepStarted(loop, 11);
    record.Resent();
  }
  record.Ended(4 * 360);
  std::array<padlink::TEchoStat, 12> stats{};
  stats[3] = {2, 0, 0, 0};
  stats[11] = {0, 2, 0, 0};
  link_.echoRecord = &record;
  link_.echoStats = &stats;
  w_->ProgressHide();  // the pad link's end of the test
  ASSERT_TRUE(A("mnuSaveReport")->isEnabled());
  dialogs_.SaveAs = dir_.filePath("echo.html");
  A("mnuSaveReport")->trigger();
  EXPECT_EQ(dialogs_.shown.back().objectName, "dlgSaveReport");
  const std::string html = ReadFile(dir_.filePath("echo.html").toStdString());
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("id=\"timeline-J11\""), std::string::npos);
  EXPECT_NE(html.find("<th>Port</th><td>COM3</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Base station</th><td>ER400TRS-02V2.01.8</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Program version</th><td>3.5.0.0</td>"), std::string::npos);
  // A running test has no report yet.
  record.Start(2, 180, {3}, 0);
  A("SpTBXItemEcho")->trigger();
  EXPECT_FALSE(A("mnuSaveReport")->isEnabled());

  // Translated like every caption; the layout stays as it was.
  const std::pair<const char*, std::array<const char*, 3>> languages[] = {
      {"SpTBXLang2", {"Kopi\u00EBren", "Log opslaan\u2026", "Rapport opslaan\u2026"}},
      {"SpTBXLang4", {"Kopieren", "Protokoll speichern\u2026", "Bericht speichern\u2026"}},
      {"SpTBXLang8", {"Kopyala", "G\u00FCnl\u00FC\u011F\u00FC kaydet\u2026", "Raporu kaydet\u2026"}},
      {"SpTBXLang1", {"Copy", "Save log\u2026", "Save report\u2026"}},
  };
  for (const auto& [item, texts] : languages) {
    A(item)->trigger();
    EXPECT_EQ(A("mnuLogCopy")->text(), QString::fromUtf8(texts[0])) << item;
    EXPECT_EQ(A("mnuLogSave")->text(), QString::fromUtf8(texts[1])) << item;
    EXPECT_EQ(A("mnuSaveReport")->text(), QString::fromUtf8(texts[2])) << item;
  }
  EXPECT_EQ(log->geometry(), logPlace);
  EXPECT_EQ(panel->geometry(), panelPlace);
}

// A long day with a busy radio: the log keeps its most recent 20,000
// lines, the first of them saying how many went before, in the window's
// language; "Save log..." saves what is kept; clearing starts afresh.
TEST_F(MainWindowTest, TheLogKeepsItsMostRecentLinesAndSaysHowManyWentBefore) {
  WriteIni("[General]\nLanguages=1111111111\n");
  Create();
  auto* log = C<TLogListBox>("lbxLog");
  ASSERT_EQ(log->MaxLines(), 20000);
  for (int i = 1; i <= 20010; ++i) w_->AddLogLine("3 --> line " + std::to_string(i));
  ASSERT_EQ(log->count(), 20000);
  EXPECT_EQ(log->Line(0), "Earlier lines dropped: 11");
  EXPECT_EQ(log->Line(1), "3 --> line 12");
  EXPECT_EQ(log->Line(19999), "3 --> line 20010");
  dialogs_.Result = QDialog::Accepted;
  dialogs_.SaveAs = dir_.filePath("log.txt");
  A("mnuLogSave")->trigger();
  const std::string saved = ReadFile(dir_.filePath("log.txt").toStdString());
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 20000);
  EXPECT_EQ(saved.rfind("Earlier lines dropped: 11", 0), 0u);
  EXPECT_NE(saved.find("3 --> line 20010"), std::string::npos);
  A("SpTBXLang4")->trigger();
  EXPECT_EQ(log->Line(0), "Fr\u00FChere Zeilen verworfen: 11");
  w_->AddLogLine("3 --> line 20011");
  EXPECT_EQ(log->count(), 20000);
  EXPECT_EQ(log->Line(0), "Fr\u00FChere Zeilen verworfen: 12");
  EXPECT_EQ(log->Line(1), "3 --> line 13");
  A("SpTBXLang1")->trigger();
  // A full scan clears the log: nothing has been dropped from it.
  A("SpTBXItemFullScan")->trigger();
  w_->AddLogLine("0 -->       1   12345");
  EXPECT_EQ(log->count(), 1);
  EXPECT_EQ(log->Dropped(), 0);
}

TEST_F(MainWindowTest, VersionLabelIsGreenWithItsRightEdgeAt401) {
  Create();
  auto* v = C<QLabel>("lblVersion");
  EXPECT_EQ(v->text(), "3.5.0.0");
  EXPECT_EQ(v->x() + v->width(), 401);
  EXPECT_EQ(v->y(), 683);
  EXPECT_EQ(v->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));

  // A file without version data shows why, still right-aligned at 401.
  TfrmMain::Options o;
  o.dataFolder = Folder();
  o.dialogs = &dialogs_;
  o.versionFile = Folder() + "no-such-program.exe";
  TfrmMain other(o);
  auto* ov = other.findChild<QLabel*>("lblVersion");
  EXPECT_TRUE(ov->text().startsWith("Error #2 - ")) << ov->text().toStdString();
  EXPECT_FALSE(ov->text().endsWith("\n"));
  EXPECT_EQ(ov->x() + ov->width(), 401);
}

TEST_F(MainWindowTest, HelpShowsTheGuideAtItsContentsAndFollowsLinks) {
  Create();
  A("SpTBXItemHelp")->trigger();
  THelpWindow* help = w_->HelpWindow();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->Browser()->source(), QUrl("qrc:/guide/index.html"));
  EXPECT_FALSE(help->Browser()->toPlainText().trimmed().isEmpty());
  const QString contents = help->Browser()->toPlainText();
  help->Browser()->setSource(QUrl("commands.html"));  // a link as the index page has it
  EXPECT_NE(help->Browser()->toPlainText(), contents);
  EXPECT_TRUE(help->Browser()->toPlainText().contains("Full Scan"));
  EXPECT_TRUE(help->Browser()->isBackwardAvailable());
  w_->close();
  EXPECT_FALSE(help->isVisible());
}

TEST_F(MainWindowTest, TheWindowOffersItsControlsToTheTranslationComponent) {
  Create();
  EXPECT_TRUE(w_->HasComponent("BTNABORT"));
  EXPECT_TRUE(w_->HasComponent("spTBXlang3"));
  EXPECT_FALSE(w_->HasComponent("nothing"));
  EXPECT_EQ(w_->GetText("gbStatus", "caption"), "Marq Status");
  EXPECT_EQ(w_->GetText("TestSpinEdit", "Caption"), std::nullopt);
  EXPECT_EQ(w_->GetList("rgDCS", "Items"), (std::vector<std::string>{"ON", "OFF"}));
  w_->SetList("rgDCS", "Items", {"AN", "AUS", "X"});
  EXPECT_EQ(C<TRadioGroup>("rgDCS")->Items(), (QStringList{"AN", "AUS", "X"}));
  EXPECT_GE(C("lblEcho")->x(), 72);  // 72 unless the title is drawn wider
  EXPECT_EQ(C("lblEcho")->y(), 8);
  w_->SetText("gbStatus", "Caption", "A much longer group caption");
  EXPECT_GT(C("lblEcho")->x(),
            C<QGroupBox>("gbStatus")->fontMetrics().horizontalAdvance("A much longer group caption"));
  // A longer caption that still fits grows to the left; its value stays.
  auto* l = C<QLabel>("lbl12");
  const int before = l->x();
  w_->SetText("lbl12", "Caption", "Firmware versions:");
  EXPECT_LT(l->x(), before);
  EXPECT_LE(l->x() + l->width(), 120);
  EXPECT_EQ(C("lblFirmware")->x(), 124);
}

}  // namespace
}  // namespace mq

namespace mq {
namespace {

// Every caption fits its control in every language, developer controls included.
TEST_F(MainWindowTest, NoCaptionIsClippedInAnyLanguage) {
  WriteIni("[General]\nLanguages=1111111111\nDeveloper=1\n");
  Create();
  StationWithPads({"0"});
  auto plain = [](QString t) { return t.remove(QLatin1Char('&')); };
  for (int lang = 1; lang <= 10; ++lang) {
    A(("SpTBXLang" + std::to_string(lang)).c_str())->trigger();
    QApplication::processEvents();
    SCOPED_TRACE("language " + std::to_string(lang) + ", font " + QFontInfo(w_->font()).family().toStdString());
    for (auto* b : w_->findChildren<QPushButton*>()) {
      if (b->text().isEmpty()) continue;
      EXPECT_LE(b->fontMetrics().horizontalAdvance(plain(b->text())) + 4, b->width()) << b->objectName().toStdString();
    }
    for (auto* c : w_->findChildren<QCheckBox*>())
      EXPECT_LE(c->fontMetrics().horizontalAdvance(plain(c->text())) + 20, c->width()) << c->objectName().toStdString();
    for (auto* g : w_->findChildren<QGroupBox*>())
      EXPECT_LE(g->fontMetrics().horizontalAdvance(plain(g->title())) + 12, g->width())
          << g->objectName().toStdString();
    for (auto* l : w_->findChildren<QLabel*>()) {
      if (l->text().isEmpty() || l->parentWidget() == nullptr) continue;
      const int textWidth = l->fontMetrics().horizontalAdvance(l->text());
      EXPECT_LE(textWidth, l->width()) << l->objectName().toStdString();
      EXPECT_GE(l->x(), 0) << l->objectName().toStdString();
      EXPECT_LE(l->x() + l->width(), l->parentWidget()->width()) << l->objectName().toStdString();
    }
    // Every toolbar item fits: no overflow button.
    for (auto* b : C<QToolBar>("SpTBXToolbar1")->findChildren<QToolButton*>()) {
      if (b->objectName() == QLatin1String("qt_toolbar_ext_button")) {
        EXPECT_FALSE(b->isVisible());
      }
    }
  }
}

// The rectangle a label's text is drawn in, in the window's coordinates.
QRect DrawnText(const QLabel* l, const QWidget* window) {
  const QRect r = QStyle::alignedRect(l->layoutDirection(), l->alignment(), l->fontMetrics().size(0, l->text()),
                                      l->contentsRect());
  return QRect(l->mapTo(window, r.topLeft()), r.size());
}

// At a font wider than any the design knew, in every language (developer
// controls shown, a station and pads found): the text of every caption —
// each label the translation table names, and the group titles — lies in
// its panel and meets no other control and no other label's text.
TEST_F(MainWindowTest, NoCaptionMeetsAnotherControlAtAWiderFontInEveryLanguage) {
  WriteIni("[General]\nLanguages=1111111111\nDeveloper=1\n");
  // A tenth wider than the design's Tahoma — more than systems' metrics
  // differ — by letter spacing, which every font engine honours.
  AppFonts::EnsureTahoma();  // as the window does before it takes its font
  QFont wide = AppFonts::Window();
  wide.setLetterSpacing(QFont::PercentageSpacing, 110);
  ASSERT_GT(QFontMetrics(wide).horizontalAdvance("Firmware version:"),
            QFontMetrics(AppFonts::Window()).horizontalAdvance("Firmware version:") + 6)
      << "the wider font is not wider: this test would test nothing";
  TfrmMain::Options o;
  o.dataFolder = Folder();
  o.dialogs = &dialogs_;
  o.windowFont = wide;
  w_ = std::make_unique<TfrmMain>(o);
  w_->AttachPadLink(&link_, &link_);
  w_->show();
  link_.firmwareList = {"911", "910", "912"};
  StationWithPads({"0", "1", "a"});
  w_->SetEchoText("Echo 12");
  std::set<QString> captions;
  for (const std::string& e : *w_->siLangRT1().GetPropListByType(i18n::stCaptions))
    captions.insert(QString::fromStdString(std::string(i18n::TLangEntry::Name(e, w_->siLangRT1().LangDelimText()))));
  for (int lang = 1; lang <= 10; ++lang) {
    A(("SpTBXLang" + std::to_string(lang)).c_str())->trigger();
    QApplication::processEvents();
    SCOPED_TRACE("language " + std::to_string(lang));
    // What each caption's text must not meet: other labels' texts, and every
    // other visible control but the caption's own panels.
    auto occupied = [this](QWidget* c) {
      if (auto* l = qobject_cast<QLabel*>(c)) return l->text().isEmpty() ? QRect() : DrawnText(l, w_.get());
      return QRect(c->mapTo(w_.get(), QPoint(0, 0)), c->size());
    };
    auto check = [&](QWidget* owner, const QRect& text, const QString& what) {
      const QRect panel(owner->parentWidget()->mapTo(w_.get(), QPoint(0, 0)), owner->parentWidget()->size());
      EXPECT_TRUE(panel.contains(text)) << what.toStdString() << " leaves its panel";
      for (QWidget* c : w_->findChildren<QWidget*>()) {
        if (c == owner || !c->isVisibleTo(w_.get()) || c->isAncestorOf(owner) || owner->isAncestorOf(c)) continue;
        if (c->window() != w_.get()) continue;
        const QRect other = occupied(c);
        EXPECT_FALSE(other.isValid() && text.intersects(other))
            << what.toStdString() << " meets " << c->objectName().toStdString();
      }
    };
    for (QLabel* l : w_->findChildren<QLabel*>())
      if (captions.count(l->objectName()) && l->isVisibleTo(w_.get()) && !l->text().isEmpty())
        check(l, DrawnText(l, w_.get()), l->objectName() + " \"" + l->text() + "\"");
    for (QGroupBox* g : w_->findChildren<QGroupBox*>()) {
      if (!g->isVisibleTo(w_.get()) || g->title().isEmpty()) continue;
      QStyleOptionGroupBox opt;
      opt.initFrom(g);
      opt.text = g->title();
      opt.subControls = QStyle::SC_GroupBoxLabel;
      const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
      const QRect title(g->mapTo(w_.get(), label.topLeft()), label.size());
      for (QWidget* child : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisibleTo(w_.get())) continue;
        const QRect other = occupied(child);
        EXPECT_FALSE(other.isValid() && title.intersects(other))
            << g->objectName().toStdString() << "'s title meets " << child->objectName().toStdString();
      }
    }
    if (HasFailure()) break;
  }
}

// At the design's font the captions fit: every control keeps its designed
// place, also after a longer translation has come and gone.
TEST_F(MainWindowTest, CaptionsThatFitKeepTheDesignedPlaces) {
  WriteIni("[General]\nLanguages=1111111111\n");
  Create();
  auto places = [this] {
    std::vector<QRect> r;
    for (const char* n :
         {"lbl12", "lblFirmware", "Label6", "lbl15", "lbl14", "ChannelSpinEdit", "btnSetChannel", "btnReset", "lbl1",
          "lblMQVer", "lblLoops", "TestSpinEdit", "Label1", "TestDelaySpinEdit", "Label9", "lblTime", "btnAbort"})
      r.push_back(C(n)->geometry());
    return r;
  };
  const std::vector<QRect> english = places();
  EXPECT_EQ(C("lblFirmware")->pos(), QPoint(124, 32));
  EXPECT_EQ(C("ChannelSpinEdit")->geometry(), QRect(124, 84, 42, 21));
  EXPECT_EQ(C("TestSpinEdit")->geometry(), QRect(230, 383, 48, 23));
  EXPECT_EQ(C("btnAbort")->geometry(), QRect(287, 405, 125, 25));
  w_->SetText("lbl14", "Caption", "A caption far too long for the room in front of its field:");
  EXPECT_GT(C("ChannelSpinEdit")->x(), 124);  // the field made room
  EXPECT_GE(C("lbl14")->x(), 0);
  EXPECT_LE(C("lbl14")->geometry().right() + 1, C("ChannelSpinEdit")->x());
  EXPECT_GE(C("btnSetChannel")->x(), C("ChannelSpinEdit")->geometry().right() + 1);
  A("SpTBXLang3")->trigger();
  A("SpTBXLang1")->trigger();
  EXPECT_EQ(places(), english);
}

}  // namespace
}  // namespace mq

namespace mq {
namespace {

TEST_F(MainWindowTest, WhatThePadLinkWritesIntoTheWindow) {
  Create();
  w_->SetOuterWidth(652);
  w_->AddLogLine(
      "3 --> \x02"
      "0\x1b"
      "3\x04");
  auto* log = C<TLogListBox>("lbxLog");
  EXPECT_EQ(log->Line(0), QString::fromLatin1("3 --> \x02"
                                              "0\x1b"
                                              "3\x04"));
  EXPECT_EQ(log->visualItemRect(log->item(0)).height(), 14);
#ifndef _WIN32
  // The Windows build's offscreen test platform has no monospaced font to
  // offer under Wine; the installed window's log is checked on its screenshot.
  EXPECT_TRUE(QFontInfo(log->font()).fixedPitch()) << QFontInfo(log->font()).family().toStdString();
#endif
  w_->SetReportRow(11, "11       9       1       0       0", padlink::TReportColour::Red);
  EXPECT_EQ(C<QLabel>("Pad11")->text(), "11       9       1       0       0");
  EXPECT_EQ(C<QLabel>("Pad11")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  w_->SetReportRowText(11, "11");  // the colour stays as it was
  EXPECT_EQ(C<QLabel>("Pad11")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  w_->SetReportRow(11, "11", padlink::TReportColour::WindowText);
  EXPECT_NE(C<QLabel>("Pad11")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  StationWithPads({"0"});
  A("SpTBXItemEcho")->trigger();
  w_->ProgressSetMax(2);
  for (int i = 0; i < 3; ++i) w_->ProgressStep();
  EXPECT_EQ(w_->ProgressBar()->value(), 2);
  w_->ProgressHide();
  EXPECT_FALSE(w_->ProgressBar()->isVisible());
  w_->SetBusyCursor(true);
  w_->SetBusyCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  w_->SetBusyCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // one restore undoes it
  w_->ShowInformation("Please run a 'Scans, Full Scan' first");
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].text, "Please run a 'Scans, Full Scan' first");
}

}  // namespace
}  // namespace mq
