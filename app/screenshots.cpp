// mqtool_screenshots <folder>: saves the main window after a scan that found
// a base station and six pads, with awards and a few log lines, in English,
// Dutch, French and Spanish (a wide English one with the log, and two in
// developer mode), as PNG
// files; then the dialogs and the help window in English, and in French the
// box shown when the settings cannot be saved, the error-report window and
// the echo-test report the window saves (echo-report-french.html, which a
// headless browser renders where one is installed). Runs on the offscreen
// platform.
#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>

#include "app/main_window.h"
#include "app/mq_application.h"
#include "app/program.h"
#include "app/error_reporter.h"
#include "app/help_window.h"
#include "app/recording_pad_link.h"
#include "padlink/echo_record.h"
#include "padlink/pad_link.h"
#include "app/ui_dialogs.h"

namespace {

// Saves every dialog instead of running it.
class GrabbingDialogs : public mq::UiDialogs {
 public:
  QString folder;
  QString next;  // file name of the next dialog
  int saved = 0;
  int Exec(QDialog& dialog) override {
    dialog.show();
    QApplication::processEvents();
    if (!next.isEmpty() && dialog.grab().toImage().save(folder + QLatin1Char('/') + next)) {
      std::printf("%s/%s\n", folder.toLocal8Bit().constData(), next.toLocal8Bit().constData());
      ++saved;
    }
    dialog.hide();
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  mq::MqApplication app(argc, argv);
  mq::Program::InitApplication(app);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(out);
  QTemporaryDir data;
  if (!data.isValid()) return 2;

  struct Shot {
    const char* item;
    const char* file;
    int width;
    bool developer;
  };
  const Shot shots[] = {{"SpTBXLang1", "mqtool-english.png", 448, false},
                        {"SpTBXLang2", "mqtool-dutch.png", 448, false},
                        {"SpTBXLang3", "mqtool-french.png", 448, false},
                        {"SpTBXLang5", "mqtool-spanish.png", 448, false},
                        {"SpTBXLang1", "mqtool-english-log.png", 900, false},
                        {"SpTBXLang3", "mqtool-french-developer.png", 448, true},
                        {"SpTBXLang5", "mqtool-spanish-developer.png", 448, true}};
  int failures = 0;
  for (const Shot& shot : shots) {
    {
      QFile ini(data.path() + QStringLiteral("/MqTool.ini"));
      if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 2;
      ini.write(shot.developer ? "[General]\r\nDeveloper=1\r\n" : "[General]\r\nDeveloper=0\r\n");
    }
    mq::TfrmMain::Options o;
    o.dataFolder = data.path().toStdString() + "/";
    mq::TfrmMain w(o);
    mq::RecordingPadLink link;
    link.basePort = 3;
    link.padList = {"0", "1", "2", "3", "4", "5"};
    link.firmwareList = {"0", "910", "911"};
    link.baseIdent = "ER400TRS-02V2.01.8";
    link.portText = "3";
    link.channelText = "7";
    link.dcsAvailable = true;
    w.AttachPadLink(&link, &link);
    if (auto* a = w.findChild<QAction*>(QString::fromLatin1(shot.item))) a->trigger();
    w.Refresh();
    for (int j = 0; j < 6; ++j) {
      w.JudgeLightOn(j);
      w.JudgeLabelHandCursor(j);
    }
    const char* awards[] = {"8,5", "9,0", "8,5", "7,5", "9,5", "8,0"};
    for (int j = 0; j < 6; ++j) {
      link.curJudge = j;
      w.DoAward(awards[j]);
    }
    w.AddLogLine("3 --> ER_CMD#T3");
    w.AddLogLine("3 <-- ER400TRS-02V2.01.8");
    w.AddLogLine(
        "3 --> \x02"
        "0\x1b"
        "3\x04");
    w.AddLogLine(
        "3 <-- \x02"
        "0\x06"
        "911\x04");
    w.SetEchoText("Echo 5");
    w.show();
    w.SetOuterWidth(shot.width);
    QApplication::processEvents();
    const QString path = out + QLatin1Char('/') + QString::fromLatin1(shot.file);
    if (!w.grab().toImage().save(path)) {
      std::fprintf(stderr, "could not save %s\n", path.toLocal8Bit().constData());
      ++failures;
    } else {
      std::printf("%s\n", path.toLocal8Bit().constData());
    }
    if (shot.width > 448) {
      // The first log lines at four times their size, to judge the control boxes.
      QWidget* log = w.findChild<QWidget*>(QStringLiteral("lbxLog"));
      const QImage lines = log->grab(QRect(0, 0, 200, 64)).toImage();
      const QString zoom = out + QStringLiteral("/mqtool-log-zoom.png");
      if (lines.scaled(lines.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(zoom))
        std::printf("%s\n", zoom.toLocal8Bit().constData());
      else
        ++failures;
    }
    w.close();
  }
  GrabbingDialogs dialogs;
  dialogs.folder = out;
  // In French: the settings box at close (the data folder has gone, so the
  // settings cannot be written), the error report, and the echo report the
  // window saves.
  {
    mq::TfrmMain::Options o;
    o.dataFolder = data.path().toStdString() + "/gone/";
    o.dialogs = &dialogs;
    mq::TfrmMain w(o);
    if (auto* a = w.findChild<QAction*>(QStringLiteral("SpTBXLang3"))) a->trigger();
    w.show();

    // Twenty loops over six pads: pad 2 misses a few, pad 5 drops out for a
    // while, the rest answer at once.
    mq::padlink::TEchoRecord record;
    std::array<mq::padlink::TEchoStat, 12> stats{};
    const std::vector<int> judges = {0, 1, 2, 3, 4, 5};
    record.Start(20, 180, judges, 0);
    for (int loop = 1; loop <= 20; ++loop) {
      for (int j : judges) {
        record.StepStarted(loop, j);
        auto& st = stats[static_cast<std::size_t>(j)];
        if (j == 2 && loop % 6 == 0) {
          record.Resent();
          ++st.Resends;
          record.Reply(j, loop % 12 == 0 ? loop - 1 : loop);
          ++(loop % 12 == 0 ? st.MissedReads : st.MissedSends);
        } else if (j == 5 && loop >= 9 && loop <= 12) {
          record.Resent();
          ++st.Resends;
        } else {
          record.Reply(j, loop);
        }
        if (!(j == 5 && loop >= 9 && loop <= 12)) ++st.Replies;
      }
    }
    record.Ended(20LL * 6 * 188);
    mq::RecordingPadLink link;
    link.basePort = 3;
    link.baseIdent = "ER400TRS-02V2.01.8";
    link.channelText = "7";
    link.echoRecord = &record;
    link.echoStats = &stats;
    w.AttachPadLink(&link, &link);
    const QString report = out + QStringLiteral("/echo-report-french.html");
    QFile html(report);
    const std::string text = w.EchoReportHtml();
    if (!text.empty() && html.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        html.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size())) {
      std::printf("%s\n", report.toLocal8Bit().constData());
    } else {
      ++failures;
    }
    html.close();
    w.AttachPadLink(nullptr, nullptr);
    dialogs.next = QStringLiteral("settings-not-saved-french.png");
    // The close handler runs as at a user's close; the event goes to the
    // window itself, since a window system may hold back a close it did not
    // start (Wine's, here).
    QCloseEvent closing;
    QCoreApplication::sendEvent(&w, &closing);
    mq::ErrorReporter reporter(dialogs);
    dialogs.next = QStringLiteral("error-report-french.png");
    reporter.Report(std::make_exception_ptr(std::runtime_error("COM3: le port a disparu")), "SpTBXItemEchoClick");
  }
  // The dialogs and the help window, in English.
  QFile::remove(data.path() + QStringLiteral("/MqTool.ini"));  // English again
  {
    mq::TfrmMain::Options o;
    o.dataFolder = data.path().toStdString() + "/";
    o.dialogs = &dialogs;
    mq::TfrmMain w(o);
    w.show();
    dialogs.next = QStringLiteral("your-language.png");
    w.SpTBXLangXClick();
    mq::ErrorReporter reporter(dialogs);
    dialogs.next = QStringLiteral("error-report.png");
    reporter.Report(std::make_exception_ptr(std::runtime_error("Port COM3 could not be opened")),
                    "SpTBXItemFullScanClick");
    w.SpTBXItemHelpClick();
    QApplication::processEvents();
    const QString help = out + QStringLiteral("/help-window.png");
    if (w.HelpWindow() != nullptr && w.HelpWindow()->grab().toImage().save(help))
      std::printf("%s\n", help.toLocal8Bit().constData());
    else
      ++failures;
    w.close();
  }
  if (dialogs.saved != 4) ++failures;
  return failures == 0 ? 0 : 1;
}
