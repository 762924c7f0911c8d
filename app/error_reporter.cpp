#include "app/error_reporter.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
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
const void* g_textOwner = nullptr;
std::function<std::string(const char*)> g_textSource;
}  // namespace

void ErrorReporter::SetTextSource(const void* owner, std::function<std::string(const char* entry)> source) {
  g_textOwner = owner;
  g_textSource = std::move(source);
}

void ErrorReporter::ClearTextSource(const void* owner) {
  if (g_textOwner != owner) return;
  g_textOwner = nullptr;
  g_textSource = nullptr;
}

QString ErrorReporter::Text(const char* entry, const char* english) {
  if (g_textSource) {
    const std::string text = g_textSource(entry);
    if (!text.empty()) return QString::fromStdString(text);
  }
  return QString::fromUtf8(english);
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
  // The Qt the program runs with, as that Qt describes its own build (the
  // Windows release names the same version in its third-party notice).
  r += QStringLiteral("Qt: ") + QString::fromLatin1(QLibraryInfo::build()) + QStringLiteral("\n");
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
    std::fprintf(stderr, "%s %s (%s)\n", kHeadline, message.toLocal8Bit().constData(), where.toLocal8Bit().constData());
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
  dlg.setWindowTitle(Text("IDS_200", "MqTool \u2013 Error report"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(&dlg);
  icon->setPixmap(dlg.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  head->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  auto* headline = new QLabel(Text("IDS_201", kHeadline), &dlg);
  headline->setObjectName(QStringLiteral("lblHeadline"));
  QFont bold = headline->font();
  bold.setBold(true);
  headline->setFont(bold);
  texts->addWidget(headline);
  auto* msg = new QLabel(message, &dlg);
  msg->setObjectName(QStringLiteral("lblMessage"));
  msg->setTextFormat(Qt::PlainText);  // may carry station bytes and file contents: never markup
  msg->setWordWrap(true);
  msg->setTextInteractionFlags(Qt::TextSelectableByMouse);
  texts->addWidget(msg);
  head->addLayout(texts, 1);
  layout->addLayout(head);

  auto* details = new QPlainTextEdit(report, &dlg);
  details->setObjectName(QStringLiteral("edtReport"));
  details->setReadOnly(true);
  details->setVisible(false);
  details->setMinimumHeight(160);

  auto* row = new QHBoxLayout;
  auto button = [&dlg](const char* name, const QString& text) {
    auto* b = new QPushButton(text, &dlg);
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  auto* show = button("btnShowReport", Text("IDS_202", "Show report"));
  show->setCheckable(true);
  const QString saveText = Text("IDS_203", "Save report\u2026");
  auto* save = button("btnSaveReport", saveText);
  auto* cont = button("btnContinue", Text("IDS_204", "Continue"));
  auto* restart = button("btnRestart", Text("IDS_205", "Restart"));
  auto* close = button("btnCloseProgram", Text("IDS_206", "Close program"));
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
  QObject::connect(save, &QPushButton::clicked, &dlg, [this, &dlg, report, saveText] {
    QString title = saveText;
    title.remove(QChar(0x2026));
    QFileDialog files(&dlg, title.trimmed(), QStringLiteral("MqTool-error-report.txt"),
                      Text("IDS_207", "Text files (*.txt);;All files (*)"));
    files.setObjectName(QStringLiteral("dlgSaveErrorReport"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setFileMode(QFileDialog::AnyFile);
    if (dialogs_.Exec(files) != QDialog::Accepted || files.selectedFiles().isEmpty()) return;
    const QString path = files.selectedFiles().front();
    QString why;
    if (SaveReport(path, report, &why)) return;
    QMessageBox box(
        QMessageBox::Warning, dlg.windowTitle(),
        Text("IDS_208", "The report could not be saved:") + QStringLiteral("\n") + path + QStringLiteral(": ") + why,
        QMessageBox::Ok, &dlg);
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("MessageBox"));
    dialogs_.Exec(box);
  });
  QObject::connect(cont, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(0); });
  QObject::connect(restart, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(1); });
  QObject::connect(close, &QPushButton::clicked, &dlg, [&dlg] { dlg.done(2); });

  switch (dialogs_.Exec(dlg)) {
    case 1: return Choice::Restart;
    case 2: return Choice::Close;
    default: return Choice::Continue;
  }
}

}  // namespace mq
