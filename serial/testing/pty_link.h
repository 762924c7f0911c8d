// PtyLink: a pseudo-terminal bound to a COM number through the ports/ folder
// of a fresh temporary data folder, for tests and benchmarks that drive a
// real port without touching the machine's serial devices. The far side
// (the master) is what the test reads and writes; PosixSerialPlatform on
// DataFolder() opens the near side as COM<n>.
//
// Threading: Write/Read may be called from any one thread at a time each.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mq::serial {

class PtyLink {
 public:
  // Creates the data folder and binds COM<n> for each number to its own pty.
  explicit PtyLink(std::vector<unsigned> comNumbers = {1});
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  const std::string& DataFolder() const { return folder_; }
  // The far side of COM n (-1 once closed).
  int Master(unsigned comNumber) const;
  // The near side's device path (/dev/pts/N).
  std::string SlavePath(unsigned comNumber) const;
  // Writes all bytes on the far side (blocking).
  void Write(unsigned comNumber, std::string_view bytes);
  // Writes what fits within timeoutMs; returns the number of bytes written.
  std::size_t WriteSome(unsigned comNumber, std::string_view bytes, int timeoutMs);
  // Reads what the far side receives until `count` bytes or timeoutMs.
  std::string Read(unsigned comNumber, std::size_t count, int timeoutMs);
  // Closes the far side (the line hangs up for the port).
  void CloseMaster(unsigned comNumber);
  // Binds COM n to an arbitrary path (for error tests).
  void BindPath(unsigned comNumber, const std::string& target);

 private:
  struct Pty {
    unsigned com;
    int master;
    std::string slave;
  };
  const Pty& Find(unsigned comNumber) const;

  std::string folder_;
  std::vector<Pty> ptys_;
  std::vector<std::string> links_;
};

}  // namespace mq::serial
