#include "loop/virtual_loop.h"

#include <algorithm>
#include <chrono>

namespace mq {

VirtualLoop::VirtualLoop(std::int64_t startMs) : now_(startMs * 1000) {}

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
  while (runOneDueTimer(now())) drain();
}

void VirtualLoop::advanceTo(TimePoint t) {
  drain();
  for (;;) {
    auto due = nextTimerDue();
    if (!due || *due > t) break;
    if (*due > now()) setNow(*due);
    runOneDueTimer(now());
    drain();
  }
  if (t > now()) setNow(t);
  drain();
}

void VirtualLoop::advanceTo(std::int64_t tMs) { advanceTo(AtMs(tMs)); }

void VirtualLoop::advance(std::chrono::microseconds d) { advanceTo(now() + d); }

void VirtualLoop::advance(std::int64_t ms) { advance(std::chrono::milliseconds(ms)); }

bool VirtualLoop::advanceUntil(const std::function<bool()>& done, std::int64_t maxMs) {
  const TimePoint limit = now() + std::chrono::milliseconds(maxMs);
  runPending();
  while (!done()) {
    auto due = nextTimerDue();
    if (!due || *due > limit) {
      advanceTo(limit);
      return done();
    }
    advanceTo(std::max(*due, now()));
  }
  return true;
}

void VirtualLoop::pause(int ms) {
  if (ms > 0) now_ += std::int64_t{ms} * 1000;
}

bool VirtualLoop::serveUntil(const std::function<bool()>& done, int timeoutMs) {
  // Only other (real) threads can make done() true here; wait for them in
  // real time while serving their hand-overs. The virtual clock stays put.
  return serveHandoversUntil(done, timeoutMs);
}

}  // namespace mq
