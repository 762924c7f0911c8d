// TApdDispatcherThread: one worker thread of a port's dispatcher (reader,
// writer, status watcher or dispatcher). It starts at construction and
// signals when its body runs; joining it from the loop thread serves the
// loop's hand-overs meanwhile, so a worker that waits for the loop thread
// (a packet event, a light notification) can still finish.
//
// The thread wakes a loop thread that joins it as it ends, so a close does
// not wait for the join's next look.
//
// A join may be bounded. A thread that has not ended by then can be let go
// (Detach): it runs on by itself and releases what it was given to keep
// alive once its body has returned, so it never touches freed state.
//
// Threading: construct, Join, Detach and destroy on the loop thread; the
// keep-alive of a detached thread is released on that thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "loop/loop.h"
#include "util/annotated_mutex.h"
#include "util/thread_annotations.h"

namespace mq::serial {

class TApdDispatcherThread {
 public:
  // Starts body on a new thread; with waitRunning, waits up to 3000 ms for
  // it to run.
  TApdDispatcherThread(std::string name, std::function<void()> body, bool waitRunning = true);
  ~TApdDispatcherThread();
  TApdDispatcherThread(const TApdDispatcherThread&) = delete;
  TApdDispatcherThread& operator=(const TApdDispatcherThread&) = delete;

  const std::string& Name() const { return name_; }
  bool Finished() const { return shared_->finished.load(); }
  // Waits up to timeoutMs for the body to run; true when it does. Threads
  // started together and then waited for start in the time of one start:
  // on a busy machine a new thread may wait milliseconds for a processor.
  bool WaitRunning(int timeoutMs = 3000);
  // Waits for the body to return while serving the loop's hand-overs.
  void Join(mq::Loop& loop);
  // The same, for at most timeoutMs; true when the thread has ended (and is
  // joined).
  bool Join(mq::Loop& loop, int timeoutMs);
  // Lets a thread that has not ended run on; keepAlive is released on that
  // thread right after its body has returned.
  void Detach(std::shared_ptr<void> keepAlive);

 private:
  struct Shared {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    mq::AnnotatedMutex mu;
    std::condition_variable startedCv;
    std::shared_ptr<void> keepAlive MQ_GUARDED_BY(mu);
    mq::Loop* joiner MQ_GUARDED_BY(mu) = nullptr;  // a loop thread in Join, woken at the end
  };

  bool JoinServing(mq::Loop& loop, int timeoutMs);

  std::string name_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace mq::serial
