// mqtool_e2e <marq-sim> <screenshot folder>: the whole program end to end.
// Starts marq-sim on COM 3 with six pads and automatic awards in a fresh
// data folder, runs the program (Program::Run, the same start as mqtool,
// with that data folder and its own single-instance lock) on the machine's
// serial ports, and drives the window as a user would: Scans / Full Scan,
// wait until the lights of judges 0 to 5 are on and Active port is enabled,
// Next Dive, wait until the six judges' awards are shown, then save the
// window in English, Dutch, French and Spanish as e2e-<language>.png.
// Waits are in real time with generous limits; exit code 0 when every step
// was reached, 1 otherwise (the reason on standard error).
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/judge_lamp.h"
#include "app/main_window.h"
#include "app/mq_application.h"
#include "app/program.h"
#include "app/ui_dialogs.h"

namespace {

// No dialog may appear in this run; one that does is logged and counted.
class FailingDialogs : public mq::UiDialogs {
 public:
  int shown = 0;
  int Exec(QDialog& dialog) override {
    ++shown;
    QString text;
    for (QLabel* l : dialog.findChildren<QLabel*>()) text += l->text() + QLatin1Char(' ');
    std::fprintf(stderr, "e2e: unexpected dialog \"%s\": %s\n", dialog.windowTitle().toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return 0;
  }
};

// Polls a condition every 100 ms until it holds or the limit has passed.
class Step : public QObject {
 public:
  void WaitFor(const char* what, std::function<bool()> done, int limitMs, std::function<void()> then) {
    auto* timer = new QTimer(this);
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, this, [=, this] {
      if (done()) {
        timer->deleteLater();
        std::fprintf(stderr, "e2e: %s after %d ms\n", what, *waited);
        then();
        return;
      }
      *waited += 100;
      if (*waited > limitMs) {
        timer->deleteLater();
        std::fprintf(stderr, "e2e: gave up waiting: %s\n", what);
        failed = true;
        if (onFail) onFail();
      }
    });
    timer->start(100);
  }
  bool failed = false;
  std::function<void()> onFail;
};

}  // namespace

int main(int argc, char** argv) {
  mq::MqApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: mqtool_e2e <marq-sim> <screenshot folder>\n");
    return 2;
  }
  const QString sim = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);
  QTemporaryDir data, lock;
  if (!data.isValid() || !lock.isValid()) return 2;

  QProcess marqSim;
  marqSim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  marqSim.start(sim, {QStringLiteral("--data-folder"), data.path(), QStringLiteral("--com"), QStringLiteral("3"),
                      QStringLiteral("--pads"), QStringLiteral("0,1,2,3,4,5"), QStringLiteral("--awards"),
                      QStringLiteral("auto"), QStringLiteral("--seed"), QStringLiteral("7")});
  if (!marqSim.waitForStarted(10'000)) {
    std::fprintf(stderr, "e2e: marq-sim did not start: %s\n", marqSim.errorString().toLocal8Bit().constData());
    return 1;
  }
  QByteArray simOut;
  QElapsedTimer started;
  started.start();
  while (!simOut.contains("COM3 ->") && marqSim.state() == QProcess::Running && started.elapsed() < 20'000) {
    marqSim.waitForReadyRead(200);
    simOut += marqSim.readAllStandardOutput();
  }
  if (!simOut.contains("COM3 ->")) {
    std::fprintf(stderr, "e2e: marq-sim did not bind COM3 (%s)\n", simOut.constData());
    marqSim.kill();
    marqSim.waitForFinished();
    return 1;
  }
  std::fprintf(stderr, "e2e: %s", simOut.constData());

  FailingDialogs dialogs;
  Step step;
  int saved = 0;
  mq::ProgramOptions options;
  options.lockFolder = lock.path().toStdString();
  options.dataFolder = data.path().toStdString() + "/";
  options.dialogs = &dialogs;
  options.onWindowCreated = [&](mq::TfrmMain& w) {
    step.onFail = [&w] { w.close(); };
    auto action = [&w](const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); };
    auto lit = [&w] {
      for (int j = 0; j < 6; ++j) {
        auto* lamp = w.findChild<mq::TJudgeLamp*>(QStringLiteral("LED%1").arg(j));
        if (lamp == nullptr || !lamp->On()) return false;
      }
      return true;
    };
    auto awards = [&w] {
      for (int j = 0; j < 6; ++j) {
        auto* field = w.findChild<QLabel*>(QStringLiteral("J%1").arg(j));
        if (field == nullptr || field->text().isEmpty()) return false;
      }
      return true;
    };
    auto shoot = [&w, &out, &saved, action] {
      const struct {
        const char* item;
        const char* file;
      } shots[] = {{"SpTBXLang1", "e2e-english.png"},
                   {"SpTBXLang2", "e2e-dutch.png"},
                   {"SpTBXLang3", "e2e-french.png"},
                   {"SpTBXLang5", "e2e-spanish.png"}};
      for (const auto& shot : shots) {
        action(shot.item)->trigger();
        QApplication::processEvents();
        const QString path = out + QLatin1Char('/') + QString::fromLatin1(shot.file);
        if (w.grab().toImage().save(path)) {
          std::printf("%s\n", path.toLocal8Bit().constData());
          ++saved;
        }
      }
      action("SpTBXLang1")->trigger();
      w.close();
    };
    QTimer::singleShot(200, &w, [&, action, lit, awards, shoot] {
      action("SpTBXItemFullScan")->trigger();
      step.WaitFor(
          "the lights of judges 0 to 5 are on",
          [action, lit] {
            return lit() && action("SpTBXItemActivePort")->isEnabled() && action("SpTBXSubmenuItemScans")->isEnabled();
          },
          60'000,
          [&, action, awards, shoot] {
            action("SpTBXItemNextDive")->trigger();
            step.WaitFor("the awards of judges 0 to 5 are shown", awards, 60'000, shoot);
          });
    });
  };
  const int rc = mq::Program::Run(app, options);

  marqSim.terminate();
  if (!marqSim.waitForFinished(10'000)) {
    marqSim.kill();
    marqSim.waitForFinished();
  }
  if (rc != 0 || step.failed || dialogs.shown != 0 || saved != 4) {
    std::fprintf(stderr, "e2e: failed (program %d, dialogs %d, screenshots %d)\n", rc, dialogs.shown, saved);
    return 1;
  }
  return 0;
}
