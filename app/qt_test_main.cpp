// Test entry for the window tests: one QApplication for all cases.
#include <gtest/gtest.h>

#include "app/mq_application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test listing at build time runs without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  mq::MqApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
