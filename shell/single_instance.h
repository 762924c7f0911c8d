// SingleInstance: the guard that keeps a second copy of the program, or of
// the sibling scoring program that drives the same hardware, from starting
// in the same log-on session. Both programs use the name "Splashledger".
//
// On Windows it is a named mutex in the session's namespace; on POSIX an
// exclusive lock on a lock file in the user's own runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/mqtool-<uid> made 0700 and checked), which
// no other user can hold or replace; the kernel releases it when the
// process ends, however it ends, so a crash never leaves a stale lock
// behind. Two users may both run the program; a serial port stays
// exclusive through the port's own lock.
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
  // lives (ignored on Windows); empty means DefaultLockFolder().
  explicit SingleInstance(const std::string& name = "Splashledger", const std::string& lockFolder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this object holds the guard; false when another copy holds it
  // or the guard could not be created (both mean: do not start).
  bool Acquired() const { return acquired_; }
  // Why the guard could not be created (the lock folder or file is unfit,
  // naming it); empty when it was acquired or another copy holds it.
  const std::string& Problem() const { return problem_; }

#ifndef _WIN32
  // The user's own lock folder, or empty with *problem saying why none fits.
  static std::string DefaultLockFolder(std::string* problem = nullptr);
#endif

 private:
  bool acquired_ = false;
  std::string problem_;
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace mq
