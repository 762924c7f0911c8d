#include "loop/deadline_waiter.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>

#if defined(__linux__)
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#endif

namespace mq {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("loop: ") + what + " failed (errno " + std::to_string(errno) + ")");
}

#if defined(__linux__)
// The steady clock counts CLOCK_MONOTONIC, so its time points are the
// timerfd's absolute deadlines as they are.
itimerspec AbsoluteAt(Loop::TimePoint t) {
  const std::int64_t us = t.time_since_epoch().count();
  itimerspec its{};
  its.it_value.tv_sec = static_cast<time_t>(us / 1'000'000);
  its.it_value.tv_nsec = static_cast<long>(us % 1'000'000) * 1000;
  // An all-zero value would disarm the timer instead of firing it.
  if (its.it_value.tv_sec == 0 && its.it_value.tv_nsec == 0) its.it_value.tv_nsec = 1;
  return its;
}
#endif

void Drain(int fd) {
  std::uint64_t sink[8];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
}

// poll that restarts after a signal; -1 waits without a limit.
void PollFds(pollfd* fds, nfds_t n, int timeoutMs) {
  while (::poll(fds, n, timeoutMs) < 0)
    if (errno != EINTR) Fail("poll");
}

}  // namespace

struct DeadlineWaiter::Handles {
  int wakeRead = -1, wakeWrite = -1;  // the same eventfd on Linux
  int timer = -1;                     // timerfd (Linux only)
};

DeadlineWaiter::DeadlineWaiter() : h_(std::make_unique<Handles>()) {
#if defined(__linux__)
  h_->wakeRead = h_->wakeWrite = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (h_->wakeRead < 0) Fail("eventfd");
  h_->timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (h_->timer < 0) {
    ::close(h_->wakeRead);
    Fail("timerfd_create");
  }
#else
  int fds[2];
  if (::pipe(fds) != 0) Fail("pipe");
  for (int fd : fds) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  h_->wakeRead = fds[0];
  h_->wakeWrite = fds[1];
  highResolution_ = false;  // poll's millisecond time-out
#endif
}

DeadlineWaiter::~DeadlineWaiter() {
  if (h_->timer >= 0) ::close(h_->timer);
  if (h_->wakeWrite != h_->wakeRead) ::close(h_->wakeWrite);
  ::close(h_->wakeRead);
}

void DeadlineWaiter::wake() {
#if defined(__linux__)
  const std::uint64_t one = 1;
  // EAGAIN: the counter is saturated, a wake-up is pending anyway.
  while (::write(h_->wakeWrite, &one, sizeof one) < 0 && errno == EINTR) {
  }
#else
  const char one = 1;
  while (::write(h_->wakeWrite, &one, 1) < 0 && errno == EINTR) {
  }
#endif
}

bool DeadlineWaiter::wait(std::optional<Loop::TimePoint> deadline) {
  pollfd fds[2] = {{h_->wakeRead, POLLIN, 0}, {h_->timer, POLLIN, 0}};
  if (deadline && *deadline <= Loop::Clock::now()) {
    PollFds(fds, 1, 0);  // past due: only take a pending wake-up
  } else if (!deadline) {
    PollFds(fds, 1, -1);
  } else {
#if defined(__linux__)
    const itimerspec at = AbsoluteAt(*deadline);
    if (::timerfd_settime(h_->timer, TFD_TIMER_ABSTIME, &at, nullptr) != 0) Fail("timerfd_settime");
    PollFds(fds, 2, -1);
    if (fds[1].revents != 0) Drain(h_->timer);
#else
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Loop::Clock::now());
    PollFds(fds, 1, static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(left.count(), 1 << 30))));
#endif
  }
  if (fds[0].revents == 0) return false;
  Drain(h_->wakeRead);
  return true;
}

void DeadlineWaiter::sleepUntil(Loop::TimePoint deadline) {
#if defined(__linux__)
  if (deadline <= Loop::Clock::now()) return;
  const itimerspec at = AbsoluteAt(deadline);
  if (::timerfd_settime(h_->timer, TFD_TIMER_ABSTIME, &at, nullptr) != 0) Fail("timerfd_settime");
  pollfd fd{h_->timer, POLLIN, 0};
  PollFds(&fd, 1, -1);
  Drain(h_->timer);
#else
  const std::int64_t us = deadline.time_since_epoch().count();
  timespec at{static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000) * 1000};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
#endif
}

}  // namespace mq
