#include "app/error_reporter.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QSysInfo>
#include <QVBoxLayout>
#include <cstdio>
#include <stdexcept>

#include "app/ui_dialogs.h"

namespace mq {
namespace {
ErrorReporter* g_instance = nullptr;
}

ErrorReporter::ErrorReporter(UiDialogs& dialogs) : dialogs_(dialogs), previous_(g_instance) { g_instance = this; }

ErrorReporter::~ErrorReporter() {
  if (g_instance == this) g_instance = previous_;
}

ErrorReporter* ErrorReporter::Instance() { return g_instance; }

void ErrorReporter::ReportAny(std::exception_ptr error, const QString& where) {
  if (g_instance != nullptr) {
    g_instance->Report(error, where);
    return;
  }
  std::fprintf(stderr, "%s %s (%s)\n", kHeadline, Message(error).toLocal8Bit().constData(),
               where.toLocal8Bit().constData());
}

QString ErrorReporter::Message(std::exception_ptr error) {
  if (!error) return QStringLiteral("Unknown error");
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

QString ErrorReporter::BuildReport(const QString& message, const QString& where) {
  QString r;
  r += QString::fromLatin1(kHeadline) + QStringLiteral("\n\n");
  r += QStringLiteral("Message: ") + message + QStringLiteral("\n");
  r += QStringLiteral("Raised in: ") + (where.isEmpty() ? QStringLiteral("(unknown)") : where) + QStringLiteral("\n");
  r += QStringLiteral("Program: ") + QCoreApplication::applicationName() + QStringLiteral(" ") +
       QCoreApplication::applicationVersion() + QStringLiteral("\n");
  r += QStringLiteral("File: ") + QCoreApplication::applicationFilePath() + QStringLiteral("\n");
  r += QStringLiteral("Time (UTC): ") + QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + QStringLiteral("\n");
  r += QStringLiteral("System: ") + QSysInfo::prettyProductName() + QStringLiteral(" (") +
       QSysInfo::currentCpuArchitecture() + QStringLiteral(")\n");
  r += QStringLiteral("Qt: ") + QString::fromLatin1(qVersion()) + QStringLiteral("\n");
  return r;
}

bool ErrorReporter::SaveReport(const QString& path, const QString& report, QString* error) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    if (error) *error = f.errorString();
    return false;
  }
  const QByteArray bytes = report.toUtf8();
  if (f.write(bytes) != bytes.size() || !f.flush()) {
    if (error) *error = f.errorString();
    return false;
  }
  f.close();
  return true;
}

void ErrorReporter::Report(std::exception_ptr error, const QString& where) {
  const QString message = Message(error);
  if (showing_) {
    std::fprintf(stderr, "%s %s (%s)\n", kHeadline, message.toLocal8Bit().constData(),
                 where.toLocal8Bit().constData());
    return;
  }
  ++reportCount_;
  const QString report = BuildReport(message, where);
  showing_ = true;
  Choice choice = Choice::Continue;
  try {
    choice = Presenter ? Presenter(message, report) : ShowDialog(message, report);
  } catch (...) {
    std::fprintf(stderr, "%s %s\n", kHeadline, message.toLocal8Bit().constData());
  }
  showing_ = false;
  if (choice == Choice::Restart) restartRequested_ = true;
  if (choice != Choice::Continue && CloseProgram) CloseProgram();
}

ErrorReporter::Choice ErrorReporter::ShowDialog(const QString& message, const QString& report) {
  QDialog dlg(QApplication::activeWindow());
  dlg.setObjectName(QStringLiteral("ErrorReportDialog"));
  dlg.setWindowTitle(QCoreApplication::applicationName().isEmpty() ? QStringLiteral("MqTool")
                                                                    : QCoreApplication::applicationName());
  auto* layout = new QVBoxLayout(&dlg);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(&dlg);
  icon->setPixmap(dlg.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  head->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  auto* headline = new QLabel(QString::fromLatin1(kHeadline), &dlg);
  QFont bold = headline->font();
  bold.setBold(true);
  headline->setFont(bold);
  texts->addWidget(headline);
  auto* msg = new QLabel(message, &dlg);
  msg->setTextFormat(Qt::PlainText);  // may carry station bytes and file contents: never markup
  msg->setWordWrap(true);
  msg->setTextInteractionFlags(Qt::TextSelectableByMouse);
  texts->addWidget(msg);
  head->addLayout(texts, 1);
  layout->addLayout(head);

  auto* details = new QPlainTextEdit(report, &dlg);
  details->setReadOnly(true);
  details->setVisible(false);
  details->setMinimumHeight(160);

  auto* row = new QHBoxLayout;
  auto* show = new QPushButton(QStringLiteral("Show report"), &dlg);
  show->setCheckable(true);
  auto* save = new QPushButton(QStringLiteral("Save report..."), &dlg);
  auto* cont = new QPushButton(QStringLiteral("Continue"), &dlg);
  auto* restart = new QPushButton(QStringLiteral("Restart"), &dlg);
  auto* close = new QPushButton(QStringLiteral("Close program"), &dlg);
  cont->setDefault(true);
  row->addWidget(show);
  row->addWidget(save);
  row->addStretch(1);
  row->addWidget(cont);
  row->addWidget(restart);
  row->addWidget(close);
  layout->addLayout(row);
  layout->addWidget(details, 1);

  QObject::connect(show, &QPushButton::toggled, &dlg, [details, &dlg](bool on) {
    details->setVisible(on);
    dlg.adjustSize();
  });
  QObject::connect(save, &QPushButton::clicked, &dlg, [&dlg, report] {
    const QString path = QFileDialog::getSaveFileName(&dlg, QStringLiteral("Save report"),
                                                      QStringLiteral("MqTool-error-report.txt"),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty()) return;
    QString why;
    if (!SaveReport(path, report, &why)) {
      QMessageBox box(QMessageBox::Warning, dlg.windowTitle(), QStringLiteral("The report could not be saved:\n") + why,
                      QMessageBox::Ok, &dlg);
      box.setTextFormat(Qt::PlainText);
      box.exec();
    }
  });
  QObject::connect(cont, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(0); });
  QObject::connect(restart, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(1); });
  QObject::connect(close, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(2); });

  switch (dialogs_.Exec(dlg)) {
    case 1:
      return Choice::Restart;
    case 2:
      return Choice::Close;
    default:
      return Choice::Continue;
  }
}

}  // namespace mq
