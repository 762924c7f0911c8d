#include "app/mq_application.h"

#include "app/error_reporter.h"

namespace mq {

MqApplication::MqApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool MqApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ErrorReporter::ReportAny(std::current_exception(), QStringLiteral("event dispatch"));
    return false;
  }
}

}  // namespace mq
