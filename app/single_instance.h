// SingleInstance: the machine-wide guard that keeps a second copy of the
// program, or of the sibling scoring program that drives the same hardware,
// from starting. Both programs use the name "Splashledger".
//
// On Windows it is a named mutex; on POSIX an exclusive lock on a lock file
// that the kernel releases when the process ends, however it ends, so a
// crash never leaves a stale lock behind.
//
// Threading: create and destroy on one thread; no other use.
#pragma once

#include <memory>
#include <string>

namespace mq {

class SingleInstance {
 public:
  // The message and caption shown when another copy holds the guard.
  static constexpr const char* kAlreadyRunningText = "Not allowed!  Splashledger or MqTool already running.";
  static constexpr const char* kAlreadyRunningCaption = "Already running";

  // Takes the guard called name. lockFolder is where the POSIX lock file
  // lives (ignored on Windows); empty means the system's default.
  explicit SingleInstance(const std::string& name = "Splashledger", const std::string& lockFolder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this object holds the guard; false when another copy holds it
  // or the guard could not be created (both mean: do not start).
  bool Acquired() const { return acquired_; }

 private:
  bool acquired_ = false;
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace mq
