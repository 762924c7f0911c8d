#include "loop/virtual_loop.h"

#include <algorithm>
#include <chrono>

namespace mq {

VirtualLoop::VirtualLoop(std::int64_t startMs) : now_(startMs) {}

void VirtualLoop::drain() {
  // Posted tasks may post more; keep going until the queues are empty.
  for (int rounds = 0; rounds < 1'000'000; ++rounds) {
    bool any = serveHandovers();
    any = runPosted() || any;
    if (!any) return;
  }
}

void VirtualLoop::runPending() {
  drain();
  while (runOneDueTimer(now_.load())) drain();
}

void VirtualLoop::advanceTo(std::int64_t t) {
  drain();
  for (;;) {
    auto due = nextTimerDue();
    if (!due || *due > t) break;
    if (*due > now_.load()) now_ = *due;
    runOneDueTimer(now_.load());
    drain();
  }
  if (t > now_.load()) now_ = t;
  drain();
}

void VirtualLoop::advance(std::int64_t ms) { advanceTo(now_.load() + ms); }

bool VirtualLoop::advanceUntil(const std::function<bool()>& done, std::int64_t maxMs) {
  const std::int64_t limit = now_.load() + maxMs;
  runPending();
  while (!done()) {
    auto due = nextTimerDue();
    if (!due || *due > limit) {
      advanceTo(limit);
      return done();
    }
    advanceTo(std::max(*due, now_.load()));
  }
  return true;
}

void VirtualLoop::pause(int ms) {
  if (ms > 0) now_ += ms;
}

bool VirtualLoop::serveUntil(const std::function<bool()>& done, int timeoutMs) {
  // Only other (real) threads can make done() true here; wait for them in
  // real time while serving their hand-overs. The virtual clock stays put.
  return serveHandoversUntil(done, timeoutMs);
}

}  // namespace mq
