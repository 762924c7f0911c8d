// mqtool: the Marq Utility window program.
#include "app/mq_application.h"
#include "app/program.h"

int main(int argc, char** argv) {
  // Qt reads its own options; the program itself reads none.
  mq::MqApplication app(argc, argv);
  return mq::Program::Run(app, {});
}
