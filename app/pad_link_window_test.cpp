// The real main window over the real pad link (TMarqsForm) on virtual time,
// with fake serial ports: a scripted base station answers what the link
// writes, and its replies and the pads' frames reach the link through the
// real framers. Checks the bytes on the line and what the window shows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fstream>
#include <map>
#include <memory>

#include "app/apd_status_light.h"
#include "app/error_reporter.h"
#include "app/judge_lamp.h"
#include "app/log_list_box.h"
#include "app/main_window.h"
#include "app/pad_link_adapter.h"
#include "app/radio_group.h"
#include "app/recording_dialogs.h"
#include "i18n/lang_entry.h"
#include "loop/virtual_loop.h"
#include "padlink/echo_report.h"
#include "padlink/pad_link.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq {
namespace {

const std::string kStx = "\x02", kEot = "\x04", kAck = "\x06", kEsc = "\x1b";
constexpr unsigned kBasePort = 3;

std::string Message(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown";
  }
}

class RealLinkWindowTest : public ::testing::Test {
 protected:
  RealLinkWindowTest() : fake_(std::make_shared<serial::FakeSerialPlatform>(loop_)) {
    loop_.setErrorHandler([this](std::exception_ptr e) { errors_.push_back(Message(e)); });
  }
  ~RealLinkWindowTest() override {
    // Reverse order of creation: adapter, pad link, window.
    link_.reset();
    form_.reset();
    w_.reset();
  }

  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  void Create(bool developer = false, const char* moreSettings = "") {
    std::ofstream(dir_.path().toStdString() + "/MqTool.ini", std::ios::binary)
        << "[General]\r\nDeveloper=" << (developer ? 1 : 0) << "\r\n"
        << moreSettings;
    TfrmMain::Options o;
    o.dataFolder = dir_.path().toStdString() + "/";
    o.dialogs = &dialogs_;
    w_ = std::make_unique<TfrmMain>(o);
    form_ = std::make_unique<padlink::TMarqsForm>(loop_, fake_, *w_, w_->Shell(), &w_->siLangDispatcher1());
    link_ = std::make_unique<PadLinkAdapter>(*w_, *form_);
    w_->Shell().MillisecondsOfMinute = [this] { return static_cast<int>(loop_.nowMs() % 60000); };
    w_->show();
  }

  // A base station on COM 3 answering like the hardware.
  void Station(std::map<char, std::string> pads, std::string ident = "ER400TRS-02V2.02.10") {
    fake_->AddPort(kBasePort);
    ident_ = std::move(ident);
    pads_ = std::move(pads);
    seen_ = 0;
  }

  // Advances virtual time 1 ms at a time; the station answers each write.
  void Run(std::int64_t ms) {
    for (std::int64_t i = 0; i < ms; ++i) {
      loop_.advance(1);
      Answer();
    }
  }
  void Answer() {
    if (ident_.empty()) return;
    const auto writes = fake_->Writes(kBasePort);
    for (; seen_ < writes.size(); ++seen_) {
      const std::string& w = writes[seen_].bytes;
      std::string reply;
      if (w == "ER_CMD#T3") {
        identAsked_ = true;
      } else if (w == "ACK" && identAsked_) {
        identAsked_ = false;
        reply = "ER_CMD#T3" + ident_;
      } else if (w == "ER_CMD#C?") {
        reply = std::string("ER_CMD#C") + channel_;
      } else if (w == "ER_CMD#B?") {
        reply = std::string("ER_CMD#B") + bandwidth_;
      } else if (w.size() >= 5 && w[0] == '\x02' && w.back() == '\x04') {
        const char id = w[1];
        const bool poll = w.substr(w.size() - 4) == kEsc + "13" + kEot || w.substr(w.size() - 3) == kEsc + "3" + kEot;
        if (poll && pads_.count(id)) reply = kStx + id + kAck + pads_[id] + kEot;
      }
      if (!reply.empty()) fake_->Inject(kBasePort, reply);
    }
    loop_.runPending();
  }
  // Full Scan, then time until the scan has ended: Scans enabled again (a
  // base reply's Refresh also does that) and the pad polls all sent.
  void FullScan() {
    A("SpTBXItemFullScan")->trigger();
    ASSERT_TRUE(EndOfScan()) << "the scan did not end";
  }
  bool EndOfScan() {
    for (int i = 0; i < 200; ++i) {
      Run(50);
      if (A("SpTBXSubmenuItemScans")->isEnabled() && form_->TxQueueCount() == 0 && !form_->COMTimer().Enabled() &&
          !form_->BaseTimer().Enabled()) {
        Run(50);
        return true;
      }
    }
    return false;
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> out;
    for (const auto& w : fake_->Writes(kBasePort)) out.push_back(w.bytes);
    return out;
  }
  void ClearWrites() {
    fake_->ClearWritten(kBasePort);
    seen_ = 0;
  }

  template <class T = QWidget>
  T* C(const char* name) {
    auto* c = w_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  QAction* A(const char* name) { return C<QAction>(name); }
  // Runs the echo test started since echoSeen_; pad 0 echoes every request
  // with the text it was sent.
  void EchoUntilDone() {
    for (int i = 0; i < 40 && form_->EchoRunning(); ++i) {
      Run(50);
      const auto writes = Writes();
      for (; echoSeen_ < writes.size(); ++echoSeen_) {
        const std::string& w = writes[echoSeen_];
        if (w.size() > 5 &&
            w.substr(0, 2) ==
                "\x02"
                "0" &&
            w.substr(w.size() - 3) ==
                "\x1b"
                "4\x04")
          fake_->Inject(kBasePort,
                        "\x02"
                        "0\x06" +
                            w.substr(2, w.size() - 5) + "\x04");
      }
    }
  }
  bool Lit(int judge) { return C<TJudgeLamp>(("LED" + std::to_string(judge)).c_str())->On(); }

  QTemporaryDir dir_;
  VirtualLoop loop_;
  std::shared_ptr<serial::FakeSerialPlatform> fake_;
  RecordingDialogs dialogs_;
  std::unique_ptr<TfrmMain> w_;
  std::unique_ptr<padlink::TMarqsForm> form_;
  std::unique_ptr<PadLinkAdapter> link_;
  std::vector<std::string> errors_;
  std::string ident_;
  std::map<char, std::string> pads_;
  char channel_ = '7', bandwidth_ = '6';
  bool identAsked_ = false;
  std::size_t seen_ = 0;
  std::size_t echoSeen_ = 0;
};

TEST_F(RealLinkWindowTest, EnablingAfterAScanWithoutAnyStation) {
  Create();
  FullScan();
  EXPECT_EQ(form_->BasePort(), 0);
  EXPECT_FALSE(A("SpTBXItemActivePort")->isEnabled());
  EXPECT_FALSE(A("SpTBXItemSilent")->isEnabled());
  EXPECT_FALSE(C("gbStatus")->isEnabled());
  EXPECT_FALSE(A("SpTBXSubmenuItemCommand")->isEnabled());
  EXPECT_FALSE(A("SpTBXItemEcho")->isEnabled());
  EXPECT_FALSE(C("rgDCS")->isEnabled());
  EXPECT_TRUE(A("SpTBXItemNextDive")->isEnabled());
  EXPECT_EQ(C<QLabel>("lblPort")->text().toStdString(), form_->PortText());
  EXPECT_EQ(C<QLabel>("lblPort")->text(), "No ports found");
  EXPECT_TRUE(errors_.empty());

  // The pad link's texts follow the language chosen in the window.
  A("SpTBXLang2")->trigger();
  FullScan();
  EXPECT_EQ(C<QLabel>("lblPort")->text(), "Geen poorten gevonden");
}

TEST_F(RealLinkWindowTest, PortsThatExistButCannotBeOpenedAreLoggedAndShownInABox) {
  Create();
  fake_->SetOpenFailure(2, EACCES);
  fake_->AddPort(4);
  fake_->SetHeldByOther(4, true);
  FullScan();
  const QString why2 = QStringLiteral("COM2: permission denied");
  const QString why4 = QStringLiteral("COM4: in use by another program");
  auto* log = C<QListWidget>("lbxLog");
  QStringList lines;
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  EXPECT_EQ(lines, (QStringList{"Start Full Scan", why2, why4, "No available ports!"}));
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].objectName, "MessageBox");
  EXPECT_EQ(dialogs_.shown[0].text, "No serial port could be opened:\n" + why2 + "\n" + why4);
  EXPECT_EQ(C<QLabel>("lblPort")->text(), "No ports found");
  EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RealLinkWindowTest, EnablingAfterScansWithAStationWithoutAndWithPads) {
  Create();
  Station({});
  FullScan();
  EXPECT_EQ(form_->BasePort(), 3);
  EXPECT_EQ(C<QLabel>("lblPort")->text(), "3");
  EXPECT_EQ(C<QLabel>("lblFirmware")->text(), "ER400TRS-02V2.02.10");
  EXPECT_EQ(C<QLabel>("lblChannel")->text(), "7");
  EXPECT_TRUE(A("SpTBXItemActivePort")->isEnabled());
  EXPECT_TRUE(A("SpTBXItemSilent")->isEnabled());
  EXPECT_TRUE(C("gbStatus")->isEnabled());
  EXPECT_TRUE(C("edtCommand")->isEnabled());
  EXPECT_FALSE(A("SpTBXSubmenuItemCommand")->isEnabled());
  EXPECT_FALSE(A("SpTBXItemEcho")->isEnabled());
  EXPECT_FALSE(C("lblTime")->isVisible());
  EXPECT_TRUE(C("rgDCS")->isEnabled());  // the identification names a version "V"
  EXPECT_FALSE(w_->Shell().PadsFound);
  EXPECT_TRUE(w_->apdslcntrlr1().Monitoring());  // the port stays open for the pads

  // The pads come on the air; Active port finds them.
  pads_ = {{'0', "911"}, {'1', "910"}, {'a', ""}};
  A("SpTBXItemActivePort")->trigger();
  EXPECT_FALSE(A("SpTBXSubmenuItemScans")->isEnabled());
  ASSERT_TRUE(EndOfScan());
  EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
  EXPECT_TRUE(Lit(0) && Lit(1) && Lit(10));
  EXPECT_FALSE(Lit(2) || Lit(11));
  EXPECT_EQ(C("JLab10")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(C("JLab2")->cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(w_->Shell().PadsFound);  // the window's Refresh, read by the pad link
  EXPECT_EQ(w_->Shell().PadCount, 3);
  EXPECT_TRUE(A("SpTBXSubmenuItemCommand")->isEnabled());
  EXPECT_TRUE(A("SpTBXItemEcho")->isEnabled());
  EXPECT_FALSE(A("SpTBXCharTest")->isEnabled());  // not in developer mode
  EXPECT_FALSE(A("SpTBXCharTest")->isVisible());
  EXPECT_TRUE(C("lblTime")->isVisible());
  EXPECT_EQ(C<QLabel>("lblMQVer")->text(), "<pre 910>, 910, 911");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RealLinkWindowTest, DeveloperModeAfterAScanWithPads) {
  Create(true);
  Station({{'0', "912"}});
  FullScan();
  EXPECT_TRUE(Lit(0));
  EXPECT_TRUE(A("SpTBXCharTest")->isVisible());
  EXPECT_TRUE(A("SpTBXCharTest")->isEnabled());
  EXPECT_TRUE(C("btnCmd")->isVisible() && C("btnCmd")->isEnabled());
  EXPECT_TRUE(C("rgBandwidth")->isVisible());
  EXPECT_EQ(C<QLabel>("lblMQVer")->text(), "912");
}

TEST_F(RealLinkWindowTest, ClickingALightPollsItsPadOnTheNextTickAndALabelEchoesAtOnce) {
  Create();
  Station({{'a', "912"}, {'c', "912"}});
  FullScan();
  ASSERT_TRUE(Lit(10));
  ClearWrites();
  QTest::mouseClick(C("LED10"), Qt::LeftButton);
  EXPECT_FALSE(Lit(10));
  EXPECT_TRUE(Writes().empty());  // queued: it leaves with the 120 ms tick
  loop_.advance(119);
  EXPECT_TRUE(Writes().empty());
  loop_.advance(1);
  EXPECT_EQ(Writes(), std::vector<std::string>{"\x02"
                                               "a\x1b"
                                               "3\x04"});
  Answer();  // pad "a" answers the silent poll: its light comes on again
  Run(300);
  EXPECT_TRUE(Lit(10));

  ClearWrites();
  QTest::mouseClick(C("JLab11"), Qt::LeftButton);
  EXPECT_EQ(Writes(), std::vector<std::string>{"\x02"
                                               "c\x1b"
                                               "4\x04"});
}

TEST_F(RealLinkWindowTest, NextDiveSendsTheTenTestDivesInTurnAndShowsAwardsWithTheSeparator) {
  Create();
  Station({{'3', "905"}});  // older firmware: dives go to each pad
  FullScan();
  ClearWrites();
  for (int i = 0; i < 11; ++i) {
    A("SpTBXItemNextDive")->trigger();
    Run(150);
  }
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 11u);
  EXPECT_EQ(writes[0],
            "\x02"
            "3J3   103B 3m    First Diver\x1b"
            "0\x04");
  EXPECT_EQ(writes[9],
            "\x02"
            "3J3   5152D 3m   Diver Ten\x1b"
            "0\x04");
  EXPECT_EQ(writes[10], writes[0]);

  // An award keyed as 8.5 shows under judge 3 with the locale's separator.
  w_->Shell().DecimalSeparator = TfrmMain::DecimalSeparatorOf(QLocale(QLocale::German, QLocale::Germany));
  ASSERT_EQ(w_->Shell().DecimalSeparator, ',');
  ClearWrites();
  fake_->Inject(kBasePort,
                "\x02"
                "38.5\x04");
  Run(150);
  EXPECT_EQ(C<QLabel>("J3")->text(), "8,5");
  EXPECT_EQ(C<QLabel>("J2")->text(), "");
  // The acknowledgement repeats the entry as the pad sent it.
  EXPECT_EQ(Writes(), std::vector<std::string>{"\x02"
                                               "3\x06"
                                               "OK   8.5       MqTool\x1b"
                                               "1\x04"});
  A("SpTBXItemNextDive")->trigger();
  EXPECT_EQ(C<QLabel>("J3")->text(), "");
}

TEST_F(RealLinkWindowTest, TheSeparatorComesFromTheLocaleAsOneByte) {
  EXPECT_EQ(TfrmMain::DecimalSeparatorOf(QLocale(QLocale::English, QLocale::UnitedKingdom)), '.');
  EXPECT_EQ(TfrmMain::DecimalSeparatorOf(QLocale(QLocale::French, QLocale::France)), ',');
  // The Arabic decimal separator has no byte in the code page of the line.
  EXPECT_EQ(TfrmMain::DecimalSeparatorOf(QLocale(QLocale::Arabic, QLocale::Egypt)), '.');
  Create();
  EXPECT_EQ(w_->Shell().DecimalSeparator, TfrmMain::DecimalSeparatorOf(QLocale::system()));
  const int ms = w_->Shell().MillisecondsOfMinute();
  EXPECT_TRUE(ms >= 0 && ms < 60000);
}

TEST_F(RealLinkWindowTest, CharacterTestSendsTenCodesFromTheStartField) {
  Create(true);
  Station({{'0', "905"}});
  FullScan();
  auto* edt = C<QLineEdit>("edtCommand");
  ClearWrites();
  edt->setText("250");
  A("SpTBXCharTest")->trigger();
  Run(150);
  EXPECT_EQ(edt->text(), "256");
  edt->setText("abc");
  A("SpTBXCharTest")->trigger();
  Run(150);
  EXPECT_EQ(edt->text(), "170");
  std::string high, low;
  for (int c = 246; c <= 255; ++c) high.push_back(static_cast<char>(c));
  for (int c = 160; c <= 169; ++c) low.push_back(static_cast<char>(c));
  EXPECT_EQ(Writes(), (std::vector<std::string>{"\x02"
                                                "0J0   " +
                                                    high +
                                                    "\x1b"
                                                    "0\x04",
                                                "\x02"
                                                "0J0   " +
                                                    low +
                                                    "\x1b"
                                                    "0\x04"}));
}

TEST_F(RealLinkWindowTest, ResetSetsTheTargetChannelBackToSeven) {
  Create();
  Station({{'0', "912"}});
  FullScan();
  C<QSpinBox>("ChannelSpinEdit")->setValue(3);
  ClearWrites();
  C<QAbstractButton>("btnReset")->click();
  EXPECT_EQ(C<QSpinBox>("ChannelSpinEdit")->value(), 7);
  EXPECT_FALSE(Lit(0));
  Run(50);
  const auto writes = Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0], "ER_CMD#R1");
}

TEST_F(RealLinkWindowTest, ChoosingOffForChannelSeparationSendsTheCommandOnce) {
  Create();
  Station({{'0', "912"}});
  FullScan();
  ASSERT_TRUE(C("rgDCS")->isEnabled());
  ClearWrites();
  C<TRadioGroup>("rgDCS")->Button(1)->click();  // "OFF"
  EXPECT_FALSE(Lit(0));
  Run(3000);  // the command, its "ACK" and the rescan that follows
  const auto writes = Writes();
  EXPECT_EQ(std::count(writes.begin(), writes.end(), "ER_CMD#A00"), 1);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0], "ER_CMD#A00");
  EXPECT_EQ(writes[0].size(), 10u);
}

TEST_F(RealLinkWindowTest, ABandwidthFromTheStationIsShownWithoutSendingACommand) {
  Create(true);
  bandwidth_ = '2';
  Station({});
  FullScan();
  EXPECT_EQ(w_->Shell().BandwidthIndex, 2);  // written by the pad link into the window's state
  EXPECT_EQ(C<TRadioGroup>("rgBandwidth")->ItemIndex(), 2);
  const auto writes = Writes();
  for (const auto& w : writes) EXPECT_FALSE(w.rfind("ER_CMD#B", 0) == 0 && w != "ER_CMD#B?") << w;
  ClearWrites();
  w_->Shell().BandwidthIndex = 1;
  w_->Refresh();
  Run(500);
  EXPECT_EQ(C<TRadioGroup>("rgBandwidth")->ItemIndex(), 1);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(RealLinkWindowTest, TheEchoTestRunsAtTheDelayOfTheSpinEditAndFillsTheReport) {
  Create();
  Station({{'0', "912"}});
  FullScan();
  C<QSpinBox>("TestDelaySpinEdit")->setValue(250);
  EXPECT_EQ(w_->Shell().TestDelay, 250);
  C<QSpinBox>("TestSpinEdit")->setValue(2);
  echoSeen_ = Writes().size();
  A("SpTBXItemEcho")->trigger();
  EXPECT_EQ(form_->EchoTimer().Interval(), 250);
  EXPECT_TRUE(w_->ProgressBar()->isVisible());
  EchoUntilDone();
  EXPECT_FALSE(form_->EchoRunning());
  EXPECT_FALSE(w_->ProgressBar()->isVisible());
  EXPECT_EQ(C<QLabel>("Pad0")->text().left(2), "0 ");
  EXPECT_TRUE(C<QLabel>("Pad0")->text().contains("2"));
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(RealLinkWindowTest, ClosingTheWindowClosesThePortAndLightsFollowIt) {
  Create();
  Station({{'0', "912"}});
  FullScan();
  EXPECT_EQ(w_->apdslcntrlr1().ComPort(), &form_->ComPort());
  EXPECT_TRUE(fake_->IsOpen(kBasePort));
  // An award arrives just before the close: its acknowledgement is queued.
  fake_->Inject(kBasePort,
                "\x02"
                "07.5\x04");
  loop_.runPending();
  ASSERT_TRUE(form_->COMTimer().Enabled());
  ClearWrites();
  w_->close();
  EXPECT_FALSE(fake_->IsOpen(kBasePort));
  // The loop runs on until it ends: nothing more is sent, nothing fails.
  Run(1000);
  EXPECT_TRUE(Writes().empty());
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_FALSE(w_->RxLight()->Lit());
  EXPECT_FALSE(w_->TxLight()->Lit());
}

TEST_F(RealLinkWindowTest, AStationThatGoesAwayDuringTheEchoTestShowsTheLinkAsGone) {
  Create();
  Station({{'0', "912"}, {'3', "912"}});
  FullScan();
  ASSERT_TRUE(Lit(0));
  A("SpTBXItemEcho")->trigger();
  Run(500);
  ASSERT_TRUE(form_->EchoRunning());
  fake_->Vanish(kBasePort);  // the adapter is pulled out
  Run(10);
  EXPECT_EQ(errors_, (std::vector<std::string>{"COM3: No such device"}));
  EXPECT_FALSE(form_->EchoRunning());
  EXPECT_FALSE(w_->ProgressBar()->isVisible());
  EXPECT_FALSE(Lit(0));
  EXPECT_FALSE(Lit(3));
  EXPECT_FALSE(w_->RxLight()->Lit());
  EXPECT_FALSE(w_->TxLight()->Lit());
  EXPECT_EQ(C<QLabel>("lblFirmware")->text(), "No Base Station found");
  EXPECT_FALSE(A("SpTBXItemActivePort")->isEnabled());
  EXPECT_FALSE(C("gbStatus")->isEnabled());
  EXPECT_FALSE(A("SpTBXItemEcho")->isEnabled());
  EXPECT_TRUE(A("SpTBXSubmenuItemScans")->isEnabled());
  Run(3000);
  EXPECT_EQ(errors_.size(), 1u);
}

// The results measured before the station went away are the user's: the
// report rows stay and "Save report..." saves every loop that ran, with the
// station it ran against and why it ended early.
TEST_F(RealLinkWindowTest, AnEchoTestCutShortByALostLinkKeepsItsRowsAndSavesItsReport) {
  Create();
  Station({{'0', "912"}, {'3', "912"}});
  FullScan();
  C<QSpinBox>("TestSpinEdit")->setValue(200);
  echoSeen_ = Writes().size();
  A("SpTBXItemEcho")->trigger();
  // Both pads echo every request, until pad 0 has answered in loop 4.
  while (form_->EchoRunning() && !(form_->EchoLoop() == 4 && form_->EchoReplied())) {
    Run(10);
    const auto writes = Writes();
    for (; echoSeen_ < writes.size(); ++echoSeen_) {
      const std::string& w = writes[echoSeen_];
      if (w.size() > 5 && w[0] == '\x02' &&
          w.substr(w.size() - 3) ==
              "\x1b"
              "4\x04")
        fake_->Inject(kBasePort, "\x02" + w.substr(1, 1) + "\x06" + w.substr(2, w.size() - 5) + "\x04");
    }
  }
  ASSERT_EQ(form_->EchoLoop(), 4);
  const QString row3 = QStringLiteral("3       3       0       0       0");
  ASSERT_EQ(C<QLabel>("Pad3")->text(), row3);
  ASSERT_EQ(C<QLabel>("Pad0")->text(), QStringLiteral("0       3       0       0       0"));
  fake_->Vanish(kBasePort);
  Run(10);
  ASSERT_FALSE(form_->EchoRunning());
  // Pad 0's answer in loop 4 is on its row, as the end of its step would have put it.
  EXPECT_EQ(C<QLabel>("Pad0")->text(), QStringLiteral("0       4       0       0       0"));
  EXPECT_EQ(C<QLabel>("Pad3")->text(), row3);
  const QString why = QStringLiteral("ended early: the link to the base station was lost \u2014 COM3: No such device");
  auto* log = C<QListWidget>("lbxLog");
  EXPECT_EQ(log->item(log->count() - 1)->text(), QStringLiteral("Echo test 4/200 (") + why + ")");

  ASSERT_TRUE(A("mnuSaveReport")->isEnabled());
  dialogs_.Result = QDialog::Accepted;
  dialogs_.SaveAs = dir_.filePath("echo.html");
  A("mnuSaveReport")->trigger();
  std::ifstream in(dir_.filePath("echo.html").toStdString(), std::ios::binary);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(html.find("<tr id=\"row-J3\"><td>3</td><td>3</td><td class=\"n\">3</td>"), std::string::npos) << html;
  EXPECT_NE(html.find("<tr id=\"row-J0\">"), std::string::npos);
  EXPECT_NE(html.find("<th>Port</th><td>COM3</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Base station</th><td>ER400TRS-02V2.02.10</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Channel</th><td>7</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Loops</th><td>4 of 200 (" + why.toStdString() + ")</td>"), std::string::npos);
}

TEST_F(RealLinkWindowTest, AnErrorOfAPadLinkOperationGoesToTheLoopsErrorHandler) {
  Create();
  Station({{'0', "912"}});
  FullScan();
  fake_->Vanish(kBasePort);
  QTest::mouseClick(C("JLab0"), Qt::LeftButton);  // writes at once on a port that went away
  Run(10);
  EXPECT_FALSE(errors_.empty());
  A("SpTBXItemNextDive")->trigger();  // the window goes on
  EXPECT_TRUE(A("SpTBXItemNextDive")->isEnabled());
}

}  // namespace
}  // namespace mq

namespace mq {
namespace {

// ---- our texts in every language ---------------------------------------------

struct AddedEntry {
  const char* window;
  const char* name;
};
constexpr AddedEntry kAddedEntries[] = {
#include "i18n/catalogue/added_entries.inc"
};

// An entry's text in one language as its table holds it (empty: none).
std::string TableText(const i18n::TsiCustomLang& lang, std::string_view name, int language) {
  for (int section : {i18n::stCaptions, i18n::stStrings}) {
    for (const std::string& e : *lang.GetPropListByType(section))
      if (i18n::TLangEntry::Name(e, lang.LangDelimText()) == name)
        return std::string(i18n::TLangEntry::Field(e, lang.LangDelimText(), language));
  }
  ADD_FAILURE() << "no entry " << name << " in " << lang.WindowClassName();
  return {};
}

// Every text a dialog shows; the error report's Save button is pressed and
// its file dialog picks a file in a folder that does not exist.
class TextCollectingDialogs : public UiDialogs {
 public:
  QStringList texts;
  QString saveAs;
  int Exec(QDialog& dialog) override {
    texts << dialog.windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) texts << box->text();
    if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
      texts << files->nameFilters().join(QStringLiteral(";;"));
      files->selectFile(saveAs);
      return QDialog::Accepted;
    }
    for (auto* l : dialog.findChildren<QLabel*>()) texts << l->text();
    for (auto* b : dialog.findChildren<QAbstractButton*>()) texts << b->text();
    if (auto* save = dialog.findChild<QPushButton*>(QStringLiteral("btnSaveReport"))) save->click();
    return 0;
  }
};

// Walks every language and gathers what the window shows of our texts — the
// scan's account of ports it could not open (log and box), the context
// menus, the error-report window with its save dialog, the saved echo
// report (of a real test and of records that bring out every text), the
// settings box at close — and finds each entry of kAddedEntries there in
// the language's own words. A text that is not looked up in the table
// shows English and fails here.
TEST_F(RealLinkWindowTest, OurTextsShowInTheActiveLanguageInEveryLanguage) {
  for (int lang = 2; lang <= 10; ++lang) {
    SCOPED_TRACE("language " + std::to_string(lang));
    link_.reset();
    form_.reset();
    w_.reset();
    fake_ = std::make_shared<serial::FakeSerialPlatform>(loop_);
    ident_.clear();
    echoSeen_ = 0;
    dialogs_.shown.clear();
    Create(false, "Languages=1111111111\r\n");
    A(("SpTBXLang" + std::to_string(lang)).c_str())->trigger();
    ASSERT_EQ(w_->siLangDispatcher1().ActiveLanguage(), lang);
    QStringList shown;  // plain texts
    std::string html;   // reports

    // Ports refused for every reason the scan can give, and where the COM
    // numbers came from, as the machine may tell.
    using Advice = serial::TOpenAdvice;
    using Note = serial::TPortMapNote;
    for (unsigned n : {2u, 5u, 6u, 7u}) fake_->SetOpenFailure(n, EACCES);
    fake_->SetAdvice(2, {Advice::Kind::JoinGroup, "/dev/ttyUSB1", "dialout", "", "", "", 0});
    fake_->SetAdvice(5, {Advice::Kind::LogInAgain, "/dev/ttyUSB4", "dialout", "", "", "", 0});
    fake_->SetAdvice(6, {Advice::Kind::DeviceOwner, "/dev/ttyUSB5", "root", "root", "0600", "", 0});
    fake_->AddPort(4);
    fake_->SetHeldByOther(4, true);
    fake_->AddPort(8);
    fake_->SetHeldByOther(8, true);
    fake_->SetAdvice(8, {Advice::Kind::HeldBy, "/dev/ttyACM0", "", "", "", "ModemManager", 812});
    fake_->SetPortMapNotes({{Note::Kind::PortsFolderUsed, "/d/ports/", ""},
                            {Note::Kind::LinkForeign, "/d/ports/COM9", "bob"},
                            {Note::Kind::PortsFolderNotAFolder, "/e/ports/", ""},
                            {Note::Kind::PortsFolderNoDevice, "/f/ports/", ""}});
    FullScan();
    fake_->SetPortMapNotes({});
    for (unsigned n : {5u, 6u, 7u, 8u}) fake_->RemovePort(n);
    auto* log = C<QListWidget>("lbxLog");
    for (int i = 0; i < log->count(); ++i) shown << log->item(i)->text();
    for (const auto& d : dialogs_.shown) shown << d.title << d.text << d.labels << d.buttons;
    for (const char* menu : {"mnuLogCopy", "mnuLogSave", "mnuSaveReport"}) shown << A(menu)->text();

    Station({{'0', "912"}});
    FullScan();
    C<QSpinBox>("TestSpinEdit")->setValue(2);
    echoSeen_ = Writes().size();
    A("SpTBXItemEcho")->trigger();
    EchoUntilDone();
    html += w_->EchoReportHtml();
    // An echo test aborted, then one whose link is lost.
    echoSeen_ = Writes().size();
    A("SpTBXItemEcho")->trigger();
    C<QPushButton>("btnAbort")->click();
    EchoUntilDone();
    for (int i = 0; i < log->count(); ++i) shown << log->item(i)->text();  // a new test clears the log
    A("SpTBXItemEcho")->trigger();
    fake_->Vanish(kBasePort);
    loop_.runPending();
    for (int i = 0; i < log->count(); ++i) shown << log->item(i)->text();
    Station({{'0', "912"}});
    FullScan();
    // Junk entries on the channel fill the transmit queue.
    std::string junk;
    for (int i = 0; i < 300; ++i)
      junk +=
          "\x02"
          "c9.5\x04";
    fake_->Inject(kBasePort, junk);
    loop_.runPending();
    for (int i = 0; i < log->count(); ++i) shown << log->item(i)->text();
    // A log over its bound says how many lines went before.
    auto* bounded = qobject_cast<TLogListBox*>(log);
    ASSERT_NE(bounded, nullptr);
    bounded->SetMaxLines(5);
    for (int i = 0; i < 10; ++i) bounded->AddLine(QStringLiteral("line"));
    shown << log->item(0)->text();
    // Records that bring out the rest: single loops and runs of loops, every
    // outcome, a test ended early; and one of many loops a column.
    padlink::TEchoRecord few, many;
    few.Start(4, 180, {0, 3}, 0);
    for (int loop = 1; loop <= 3; ++loop) {
      few.StepStarted(loop, 0);
      if (loop == 2) few.Resent();
      if (loop != 3) few.Reply(0, loop == 2 ? 1 : loop);
      few.StepStarted(loop, 3);
      few.Reply(3, loop);
    }
    few.Ended(3000);
    many.Start(300, 180, {0}, 0);
    for (int loop = 1; loop <= 300; ++loop) {
      many.StepStarted(loop, 0);
      if (loop % 7 == 0) many.Resent();
      many.Reply(0, loop);
    }
    many.Ended(120000);
    const std::array<padlink::TEchoStat, 12> stats{};
    for (const padlink::TEchoRecord* r : {&few, &many})
      html += padlink::TEchoReport({}, *r, stats, w_->EchoReportTexts()).Html();

    TextCollectingDialogs errorDialogs;
    errorDialogs.saveAs = dir_.filePath(QStringLiteral("missing/report.txt"));
    {
      ErrorReporter reporter(errorDialogs);
      reporter.Report(std::make_exception_ptr(std::runtime_error("COM3: broken")), "test");
    }
    shown << errorDialogs.texts;

    // The settings box at close: a settings file that cannot be written.
    {
      QDir(dir_.path()).mkpath(QStringLiteral("blocked/MqTool.ini"));
      RecordingDialogs closing;
      TfrmMain::Options o;
      o.dataFolder = dir_.path().toStdString() + "/blocked/";
      o.dialogs = &closing;
      TfrmMain blocked(o);
      blocked.siLangDispatcher1().SetActiveLanguage(lang);
      testing::internal::CaptureStderr();
      blocked.close();
      testing::internal::GetCapturedStderr();
      for (const auto& d : closing.shown) shown << d.title << d.text;
    }
    w_->siLangDispatcher1().SetActiveLanguage(lang);  // the window lends its table to the error reporter again
    // The settings file's other causes, which need users, groups and
    // platforms that one run cannot have: the texts the window builds for them.
    for (const auto status : {FileReadStatus::Link, FileReadStatus::NotRegular, FileReadStatus::TooLarge}) {
      FileReadResult read;
      read.status = status;
      shown << w_->SettingsNotUsedText(read);
    }
    FileReadResult denied;
    denied.status = FileReadStatus::Failed;
    denied.systemError = 13;
    denied.owner = "bob";
    denied.mode = "0600";
    shown << w_->SettingsNotUsedText(denied);
    denied.owner.clear();
    denied.systemText = "Input/output error";
    shown << w_->SettingsNotUsedText(denied);
    for (const auto kind :
         {WriteProblem::Kind::FolderMissing, WriteProblem::Kind::JoinGroup, WriteProblem::Kind::LogInAgain,
          WriteProblem::Kind::FolderNotWritable, WriteProblem::Kind::AskForAccess})
      shown << w_->SettingsAdvice({kind, "dialout", "root", "0755"});
    shown << w_->Tr("IDS_62", {QStringLiteral("bob")}) << w_->Tr("IDS_64");

    const std::string plain = shown.join(QStringLiteral("\n")).toStdString();
    for (const AddedEntry& entry : kAddedEntries) {
      const i18n::TsiCustomLang& table = std::string_view(entry.window) == "TMarqsForm"
                                             ? static_cast<const i18n::TsiCustomLang&>(form_->siLang1())
                                             : w_->siLangRT1();
      const std::string text = TableText(table, entry.name, lang);
      EXPECT_FALSE(text.empty()) << entry.window << " " << entry.name << " has no text in language " << lang;
      // The text's pieces between the values put in ("%1"), each as shown.
      std::size_t from = 0;
      while (from < text.size()) {
        std::size_t to = text.find('%', from);
        while (to != std::string::npos && (to + 1 >= text.size() || text[to + 1] < '1' || text[to + 1] > '9'))
          to = text.find('%', to + 1);
        const std::string piece = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
        if (piece.size() > 1) {
          EXPECT_TRUE(plain.find(piece) != std::string::npos ||
                      html.find(padlink::TEchoReport::Escape(piece)) != std::string::npos)
              << entry.name << ": \"" << piece << "\" is not shown";
        }
        from = to == std::string::npos ? text.size() : to + 2;
      }
    }
    if (HasFailure()) break;  // one language's account is enough
  }
}

}  // namespace
}  // namespace mq
