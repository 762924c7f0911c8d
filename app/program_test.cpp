// Program start: the single-instance guard and the top-level error handling.
#include "app/program.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/error_reporter.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "app/mq_application.h"
#include "app/qt_loop.h"
#include "app/recording_dialogs.h"
#include "app/recording_pad_link.h"
#include "shell/single_instance.h"
#include "app/ui_dialogs.h"
#include "loop/timer.h"

namespace mq {
namespace {

TEST(Program, ASecondStartShowsTheMessageAndLeavesTheFirstUntouched) {
  QTemporaryDir lock, data;
  ASSERT_TRUE(lock.isValid() && data.isValid());
  ProgramOptions first;
  first.lockFolder = lock.path().toStdString();
  first.dataFolder = data.path().toStdString() + "/";
  RecordingDialogs firstDialogs, secondDialogs;
  first.dialogs = &firstDialogs;
  int secondResult = -1;
  int windowsDuringSecond = 0;
  bool firstStillShown = false;
  first.onWindowCreated = [&](TfrmMain& w) {
    ProgramOptions second = first;
    second.dialogs = &secondDialogs;
    second.onWindowCreated = [&](TfrmMain&) { ADD_FAILURE() << "the second copy created a window"; };
    secondResult = Program::Run(*qApp, second);
    for (QWidget* top : QApplication::topLevelWidgets())
      if (qobject_cast<TfrmMain*>(top) != nullptr) ++windowsDuringSecond;
    firstStillShown = w.isVisible();
    QTimer::singleShot(0, &w, [&w] { w.close(); });
  };
  EXPECT_EQ(Program::Run(*qApp, first), 0);
  EXPECT_EQ(secondResult, 1);
  ASSERT_EQ(secondDialogs.shown.size(), 1u);
  EXPECT_EQ(secondDialogs.shown[0].text, "Not allowed!  Splashledger or MqTool already running.");
  EXPECT_EQ(secondDialogs.shown[0].title, "Already running");
  EXPECT_EQ(secondDialogs.shown[0].icon, static_cast<int>(QMessageBox::Critical));
  EXPECT_EQ(windowsDuringSecond, 1);
  EXPECT_TRUE(firstStillShown);
  EXPECT_TRUE(firstDialogs.shown.empty());
  EXPECT_EQ(QApplication::applicationName(), "MqTool");
  // The first copy wrote its settings once, at its close; the guard is free again.
  EXPECT_TRUE(QFile::exists(data.path() + "/MqTool.ini"));
  SingleInstance again("Splashledger", lock.path().toStdString());
  EXPECT_TRUE(again.Acquired());
}

TEST(Program, ThePadLinksErrorsReachTheErrorReportWhoseCloseEndsTheRun) {
  QTemporaryDir lock, data;
  ASSERT_TRUE(lock.isValid() && data.isValid());
  RecordingDialogs dialogs;
  dialogs.Result = 2;  // "Close program"
  ProgramOptions o;
  o.lockFolder = lock.path().toStdString();
  o.dataFolder = data.path().toStdString() + "/";
  o.dialogs = &dialogs;
  bool openAfterReport = false;
  o.onWindowCreated = [&](TfrmMain& w) {
    // The pad link is attached: a judge label's echo goes to a port that is
    // not open, and the pad link's error reaches the program's reporter.
    QTimer::singleShot(0, &w, [&] {
      w.JLabClick(w.findChild<QLabel*>("JLab0"));
      openAfterReport = w.isVisible();  // the close waits for the handler to end
    });
    QTimer::singleShot(30'000, &w, [&w] { w.close(); });  // a limit, never reached when it works
  };
  EXPECT_EQ(Program::Run(*qApp, o), 0);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_TRUE(dialogs.shown[0].labels.contains("An error occurred in the application."));
  EXPECT_TRUE(openAfterReport);
  EXPECT_TRUE(QFile::exists(data.path() + "/MqTool.ini"));  // closed the ordinary way
}

TEST(Program, ADamagedTranslationFileIsReportedOnceNamingTheFile) {
  const std::string header("SIB file: TsiLang binary translation data\0", 42);
  // A directory with one "TMarqsForm" record that lies outside the file:
  // the main window has no record, the pad-link form's is damaged.
  std::string padRecordOutside = header + std::string("\x01\x00\x00\x00\x0a\x00", 6) + "TMarqsForm" +
                                 std::string("\xa0\x86\x01\x00\x00\x00", 6);
  struct Case {
    std::string bytes, message;
  };
  for (const Case& c : {Case{"Not a translation file, but text typed by someone.", "Unrecognized stream format!"},
                        Case{padRecordOutside, "record \"TMarqsForm\" lies outside the file"}}) {
    QTemporaryDir lock, data;
    ASSERT_TRUE(lock.isValid() && data.isValid());
    const QString sib = data.path() + "/MqTool.sib";
    std::ofstream(sib.toStdString(), std::ios::binary) << c.bytes;
    RecordingDialogs dialogs;
    ProgramOptions o;
    o.lockFolder = lock.path().toStdString();
    o.dataFolder = data.path().toStdString() + "/";
    o.dialogs = &dialogs;
    o.onWindowCreated = [](TfrmMain& w) { QTimer::singleShot(0, &w, [&w] { w.close(); }); };
    EXPECT_EQ(Program::Run(*qApp, o), 0);
    ASSERT_EQ(dialogs.shown.size(), 1u) << c.message;
    EXPECT_EQ(dialogs.shown[0].objectName, "ErrorReportDialog");
    const QStringList labels = dialogs.shown[0].labels;
    const auto named = [&](const QString& l) { return l.startsWith(sib + ": ") && l.contains(c.message.c_str()); };
    EXPECT_EQ(std::count_if(labels.begin(), labels.end(), named), 1) << labels.join(" | ").toStdString();
  }
}

// The title the window system shows, read back from the X server: Qt's xcb
// platform hands it the window's title with whatever Qt appends to it.
std::string WindowSystemTitle(const QWidget& w) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(w.winId()), QStringLiteral("_NET_WM_NAME")});
  if (!xprop.waitForFinished(60'000)) return "(xprop did not finish)";
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();  // _NET_WM_NAME(UTF8_STRING) = "..."
  const qsizetype eq = out.indexOf(QStringLiteral(" = \""));
  if (eq < 0 || !out.endsWith(QLatin1Char('"')))
    return (out + QString::fromUtf8(xprop.readAllStandardError())).toStdString();
  return out.mid(eq + 4, out.size() - eq - 5).toStdString();
}

// Shows each dialog on screen, reads its title there, and closes it.
class OnScreenDialogs : public UiDialogs {
 public:
  std::vector<std::string> titles;
  int Exec(QDialog& dialog) override {
    dialog.show();
    if (QTest::qWaitForWindowExposed(&dialog, 30'000)) titles.push_back(WindowSystemTitle(dialog));
    dialog.hide();
    return 0;
  }
};

// Runs under Xvfb on the xcb platform (CTest case main_window_title_x11).
TEST(WindowSystemTitle, TheMainWindowADialogAndTheHelpShowTheirOwnCaptionsOnly) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  Program::InitApplication(*qApp);
  QTemporaryDir data;
  OnScreenDialogs dialogs;
  TfrmMain::Options o;
  o.dataFolder = data.path().toStdString() + "/";
  o.dialogs = &dialogs;
  TfrmMain w(o);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 30'000));
  EXPECT_EQ(WindowSystemTitle(w), "Marq Utility");
  w.findChild<QAction*>("SpTBXLangX")->trigger();
  EXPECT_EQ(dialogs.titles, std::vector<std::string>{"Marq Utility Translation"});
  w.findChild<QAction*>("SpTBXItemHelp")->trigger();
  ASSERT_NE(w.HelpWindow(), nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.HelpWindow(), 30'000));
  EXPECT_EQ(WindowSystemTitle(*w.HelpWindow()), "MqTool Help");
  w.close();
}

TEST(ErrorReporting, AnErrorInAHandlerIsReportedAndTheWindowGoesOn) {
  QTemporaryDir data;
  RecordingDialogs dialogs;
  ErrorReporter reporter(dialogs);
  QString seenMessage, seenReport;
  reporter.Presenter = [&](const QString& m, const QString& r) {
    seenMessage = m;
    seenReport = r;
    return ErrorReporter::Choice::Continue;
  };
  struct Failing : RecordingPadLink {
    void FullScan() override { throw std::runtime_error("Port COM3 could not be opened"); }
  } link;
  TfrmMain::Options o;
  o.dataFolder = data.path().toStdString() + "/";
  o.dialogs = &dialogs;
  TfrmMain w(o);
  w.AttachPadLink(&link, &link);
  w.findChild<QAction*>("SpTBXItemFullScan")->trigger();
  EXPECT_EQ(reporter.ReportCount(), 1);
  EXPECT_EQ(seenMessage, "Port COM3 could not be opened");
  EXPECT_TRUE(seenReport.startsWith("An error occurred in the application."));
  EXPECT_TRUE(seenReport.contains("SpTBXItemFullScanClick"));
  // The handler ended where it failed; everything else works on.
  EXPECT_FALSE(w.findChild<QAction*>("SpTBXSubmenuItemScans")->isEnabled());
  w.findChild<QAction*>("SpTBXItemNextDive")->trigger();
  EXPECT_EQ(link.sentDives.size(), 1u);
  EXPECT_FALSE(reporter.RestartRequested());

  // Close and restart close the window (its settings are written).
  reporter.Presenter = [](const QString&, const QString&) { return ErrorReporter::Choice::Restart; };
  reporter.CloseProgram = [&w] { w.close(); };
  w.show();
  w.findChild<QAction*>("SpTBXItemFullScan")->trigger();
  EXPECT_TRUE(reporter.RestartRequested());
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(QFile::exists(data.path() + "/MqTool.ini"));
}

TEST(ErrorReporting, AnErrorThatEscapesAnEventHandlerReachesTheReporter) {
  ASSERT_NE(dynamic_cast<MqApplication*>(qApp), nullptr);
  RecordingDialogs dialogs;
  ErrorReporter reporter(dialogs);
  QString seen;
  reporter.Presenter = [&](const QString& m, const QString& r) {
    seen = m;
    EXPECT_TRUE(r.contains("event dispatch"));
    return ErrorReporter::Choice::Continue;
  };
  struct Throwing : QObject {
    int handled = 0;
    bool event(QEvent* e) override {
      if (e->type() != QEvent::User) return QObject::event(e);
      if (++handled == 1) throw std::runtime_error("handler failed");
      return true;
    }
  } target;
  QEvent ev(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&target, &ev));
  EXPECT_EQ(seen, "handler failed");
  EXPECT_TRUE(QCoreApplication::sendEvent(&target, &ev));  // the next event is handled as usual
  EXPECT_EQ(reporter.ReportCount(), 1);
}

TEST(ErrorReporting, TimerErrorsAreReportedAndTheTimerKeepsRunning) {
  QtLoop loop;
  RecordingDialogs dialogs;
  ErrorReporter reporter(dialogs);
  int reports = 0;
  reporter.Presenter = [&](const QString& m, const QString&) {
    EXPECT_EQ(m, "tick failed");
    ++reports;
    return ErrorReporter::Choice::Continue;
  };
  loop.setErrorHandler([](std::exception_ptr e) { ErrorReporter::ReportAny(e, "timer"); });
  Timer t(loop, 1);
  int ticks = 0;
  t.OnTimer = [&] {
    if (++ticks == 1) throw std::runtime_error("tick failed");
    if (ticks == 3) QCoreApplication::quit();
  };
  t.SetEnabled(true);
  QTimer::singleShot(10'000, qApp, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  t.SetEnabled(false);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(ticks, 3);
}

TEST(ErrorReporting, TheReportDialogOffersContinueRestartCloseAndSaving) {
  RecordingDialogs dialogs;
  ErrorReporter reporter(dialogs);
  dialogs.Result = 2;  // "Close program"
  bool closed = false;
  reporter.CloseProgram = [&] { closed = true; };
  reporter.Report(std::make_exception_ptr(std::logic_error("bad state")), "test");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_TRUE(dialogs.shown[0].labels.contains("An error occurred in the application."));
  EXPECT_TRUE(dialogs.shown[0].labels.contains("bad state"));
  EXPECT_EQ(dialogs.shown[0].title, QString::fromUtf8("MqTool \u2013 Error report"));  // no window: English
  for (const char* b : {"Show report", "Save report\u2026", "Continue", "Restart", "Close program"})
    EXPECT_TRUE(dialogs.shown[0].buttons.contains(QString::fromUtf8(b))) << b;
  EXPECT_TRUE(closed);
  EXPECT_FALSE(reporter.RestartRequested());
  EXPECT_EQ(ErrorReporter::Message(std::make_exception_ptr(42)), "Unknown error");

  QTemporaryDir dir;
  QString why;
  const QString path = dir.path() + "/report.txt";
  ASSERT_TRUE(ErrorReporter::SaveReport(path, ErrorReporter::BuildReport("m\u00E9", "here"), &why))
      << why.toStdString();
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString saved = QString::fromUtf8(f.readAll());
  EXPECT_TRUE(saved.contains("Message: m\u00E9"));
  EXPECT_TRUE(saved.contains(QStringLiteral("Qt: Qt ") + QString::fromLatin1(qVersion()) + QStringLiteral(" (")))
      << saved.toStdString();
  EXPECT_FALSE(ErrorReporter::SaveReport(dir.path() + "/no/such/folder/r.txt", "x", &why));
  EXPECT_FALSE(why.isEmpty());
}

}  // namespace
}  // namespace mq
