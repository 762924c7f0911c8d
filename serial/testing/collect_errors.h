// CollectErrors: makes a loop's error handler keep the text of every
// exception the loop reports, so a test can check that none came, or which.
//
// Threading: the loop calls the handler on its own thread; read `errors`
// once the work that may fail is done (after a run-and-wait or a stop).
// `errors` must outlive the loop's use of the handler.
#pragma once

#include <string>
#include <vector>

#include "loop/loop.h"

namespace mq::serial {

void CollectErrors(Loop& loop, std::vector<std::string>& errors);

}  // namespace mq::serial
