#include "serial/testing/collect_errors.h"

#include <exception>

namespace mq::serial {

void CollectErrors(Loop& loop, std::vector<std::string>& errors) {
  loop.setErrorHandler([&errors](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      errors.push_back(ex.what());
    }
  });
}

}  // namespace mq::serial
