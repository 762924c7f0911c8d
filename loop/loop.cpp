#include "loop/loop.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace mq {

Loop::~Loop() = default;

std::int64_t Loop::nowMs() const {
  return std::chrono::floor<std::chrono::milliseconds>(now()).time_since_epoch().count();
}

void Loop::setErrorHandler(ErrorHandler handler) { errorHandler_ = std::move(handler); }

void Loop::reportError(std::exception_ptr error) {
  if (!error) return;
  if (errorHandler_) {
    try {
      errorHandler_(error);
      return;
    } catch (...) {
      // A failing error handler must not take the loop down; fall through.
    }
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "An error occurred in the application.\n%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "An error occurred in the application.\n(unknown error)\n");
  }
}

}  // namespace mq
