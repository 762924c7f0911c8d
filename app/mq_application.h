// MqApplication: the program's QApplication. Its notify() is the last net
// for errors that escape an event handler: they go to the ErrorReporter and
// the event loop carries on.
//
// Threading: GUI thread only.
#pragma once

#include <QApplication>

namespace mq {

class MqApplication : public QApplication {
  Q_OBJECT
 public:
  MqApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace mq
