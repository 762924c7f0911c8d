// TApdDispatcherThread: one worker thread of a port's dispatcher (reader,
// writer, status watcher or dispatcher). It starts at construction and
// signals when its body runs; joining it from the loop thread serves the
// loop's hand-overs meanwhile, so a worker that waits for the loop thread
// (a packet event, a light notification) can still finish.
//
// Threading: construct, Join and destroy on the loop thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "loop/loop.h"

namespace mq::serial {

class TApdDispatcherThread {
 public:
  // Starts body on a new thread and waits up to 3000 ms for it to run.
  TApdDispatcherThread(std::string name, std::function<void()> body);
  ~TApdDispatcherThread();
  TApdDispatcherThread(const TApdDispatcherThread&) = delete;
  TApdDispatcherThread& operator=(const TApdDispatcherThread&) = delete;

  const std::string& Name() const { return name_; }
  bool Finished() const { return finished_.load(); }
  // Waits for the body to return while serving the loop's hand-overs.
  void Join(mq::Loop& loop);

 private:
  std::string name_;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace mq::serial
