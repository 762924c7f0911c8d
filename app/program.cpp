#include "app/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "app/app_fonts.h"
#include "app/error_reporter.h"
#include "app/main_window.h"
#include "app/pad_link_adapter.h"
#include "app/qt_loop.h"
#include "shell/single_instance.h"
#include "app/ui_dialogs.h"
#include "padlink/pad_link.h"
#include "i18n/sib_format_error.h"

#include "serial/serial_platform.h"

namespace mq {

void Program::InitApplication(QApplication& app) {
  // The application title is the name only. A display name would be
  // appended by the window system to every window's title ("Marq Utility —
  // MqTool", "MqTool Help — MqTool"), where each window shows its own caption.
  QApplication::setApplicationName(QString::fromLatin1(kTitle));
  QApplication::setApplicationVersion(QStringLiteral("3.5.0.0"));
  QApplication::setDesktopFileName(QStringLiteral("mqtool"));
  AppFonts::EnsureTahoma();
  QApplication::setFont(AppFonts::Default());
  app.setWindowIcon(QIcon(QStringLiteral(":/images/mqtool" MQ_IMAGE_SUFFIX)));
}

int Program::Run(QApplication& app, const ProgramOptions& options) {
  QApplication::setQuitOnLastWindowClosed(true);
  UiDialogs& dialogs = options.dialogs ? *options.dialogs : UiDialogs::Default();
  auto guard = std::make_unique<SingleInstance>("Splashledger", options.lockFolder);
  if (!guard->Acquired()) {
    // Another copy holds the guard: the fixed message both programs show.
    // A guard that could not be set up at all (POSIX: the user's lock
    // folder is unfit) says which folder and why instead; no language has
    // been read yet, so both are in English.
    const bool held = guard->Problem().empty();
    QMessageBox box(QMessageBox::Critical,
                    held ? QString::fromLatin1(SingleInstance::kAlreadyRunningCaption) : QString::fromLatin1(kTitle),
                    held ? QString::fromLatin1(SingleInstance::kAlreadyRunningText)
                         : QStringLiteral("MqTool cannot start: ") + QString::fromStdString(guard->Problem()),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QString::fromLatin1(held ? "AlreadyRunning" : "CannotStart"));
    dialogs.Exec(box);
    return 1;
  }
  InitApplication(app);

  QtLoop loop;
  ErrorReporter reporter(dialogs);
  // Only the translation file raises ESibFormatError (the pad-link form
  // reads its record from it when it links): that report names the file.
  TfrmMain* window = nullptr;
  loop.setErrorHandler([&window](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const i18n::ESibFormatError&) {
      if (window != nullptr) {
        window->ReportTranslationFileError(e);
        return;
      }
    } catch (...) {
    }
    ErrorReporter::ReportAny(e, QStringLiteral("timer or packet"));
  });

  bool restart = false;
  {
    TfrmMain::Options wo;
    wo.dataFolder = options.dataFolder;
    wo.dialogs = options.dialogs;
    TfrmMain frmMain(wo);
    window = &frmMain;
    // The pad-link form after the window: it writes into frmMain, shares its
    // shell state and links to its language dispatcher; the adapter attaches
    // it to the window and binds the RX/TX lights to its port. Destroyed in
    // reverse order: adapter, MarqsForm, frmMain.
    padlink::TMarqsForm MarqsForm(loop, serial::MakeMachineSerialPlatform(frmMain.DataFolderPath()), frmMain,
                                  frmMain.Shell(), &frmMain.siLangDispatcher1());
    PadLinkAdapter link(frmMain, MarqsForm);
    // Closing closes the port; an error can be reported from inside a packet
    // event while the port's dispatcher waits for it, so the close runs once
    // that handler has returned.
    reporter.CloseProgram = [&frmMain] { QTimer::singleShot(0, &frmMain, [&frmMain] { frmMain.close(); }); };
    if (QScreen* screen = QApplication::primaryScreen()) {
      const QRect avail = screen->availableGeometry();
      frmMain.move(avail.center() - QPoint(frmMain.width() / 2, frmMain.height() / 2));
    }
    frmMain.show();
    if (options.onWindowCreated) options.onWindowCreated(frmMain);
    if (frmMain.isVisible()) QApplication::exec();  // ends when the last window has closed
    frmMain.close();                                // runs FormClose once, whatever ended the loop
    restart = reporter.RestartRequested();
    reporter.CloseProgram = nullptr;
    window = nullptr;
  }
  guard.reset();
  if (restart) QProcess::startDetached(QApplication::applicationFilePath(), {});
  return 0;
}

}  // namespace mq
