#include "app/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <memory>

#include "app/app_fonts.h"
#include "app/error_reporter.h"
#include "app/main_window.h"
#include "app/qt_loop.h"
#include "app/single_instance.h"
#include "app/ui_dialogs.h"

namespace mq {

void Program::InitApplication(QApplication& app) {
  QApplication::setApplicationName(QString::fromLatin1(kTitle));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kTitle));
  QApplication::setApplicationVersion(QStringLiteral("3.5.0.0"));
  QApplication::setDesktopFileName(QStringLiteral("mqtool"));
  AppFonts::EnsureTahoma();
  QApplication::setFont(AppFonts::Default());
  app.setWindowIcon(QIcon(QStringLiteral(":/images/mqtool.svg")));
}

int Program::Run(QApplication& app, const ProgramOptions& options) {
  QApplication::setQuitOnLastWindowClosed(true);
  UiDialogs& dialogs = options.dialogs ? *options.dialogs : UiDialogs::Default();
  auto guard = std::make_unique<SingleInstance>("Splashledger", options.lockFolder);
  if (!guard->Acquired()) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(SingleInstance::kAlreadyRunningCaption),
                    QString::fromLatin1(SingleInstance::kAlreadyRunningText), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("AlreadyRunning"));
    dialogs.Exec(box);
    return 1;
  }
  InitApplication(app);

  QtLoop loop;
  ErrorReporter reporter(dialogs);
  loop.setErrorHandler([](std::exception_ptr e) { ErrorReporter::ReportAny(e, QStringLiteral("timer or packet")); });

  bool restart = false;
  {
    TfrmMain::Options wo;
    wo.dataFolder = options.dataFolder;
    wo.dialogs = options.dialogs;
    TfrmMain frmMain(wo);
    reporter.CloseProgram = [&frmMain] { frmMain.close(); };
    // The pad-link form is created here, after the window, and attached
    // with frmMain.AttachPadLink(...).
    if (QScreen* screen = QApplication::primaryScreen()) {
      const QRect avail = screen->availableGeometry();
      frmMain.move(avail.center() - QPoint(frmMain.width() / 2, frmMain.height() / 2));
    }
    frmMain.show();
    if (options.onWindowCreated) options.onWindowCreated(frmMain);
    if (frmMain.isVisible()) QApplication::exec();  // ends when the last window has closed
    frmMain.close();  // runs FormClose once, whatever ended the loop
    restart = reporter.RestartRequested();
    reporter.CloseProgram = nullptr;
  }
  guard.reset();
  if (restart) QProcess::startDetached(QApplication::applicationFilePath(), {});
  return 0;
}

}  // namespace mq
