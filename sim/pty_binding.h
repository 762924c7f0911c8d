// PtyBinding: marq-sim's pseudo-terminal and its COM binding. It opens a pty,
// keeps one raw 19200 8N1 slave descriptor open for the pty's whole life (so
// the utility may open and close the port as often as it likes without the
// master ever seeing a hang-up), and links <DataFolder>/ports/COM<N> to the
// slave. An exclusive lock on ports/.COM<N>.lock, held while marq-sim runs,
// is what makes a link "live": pts numbers are reused, so a link whose lock
// nobody holds is stale and is replaced. release() undoes everything and
// removes ports/ when a marq-sim created it and nothing else is left in it;
// links and lock files left by a marq-sim that was killed are swept away.
//
// ports/ is shared by every member of the data folder's group, so every
// entry in it is another user's input: the binding works relative to a
// descriptor of ports/ opened without following links, never follows a link
// there, never blocks on an open, and writes or changes the mode only of
// files it has just created itself. Anything unexpected is left alone and
// reported (bind's error, or takeNotes()).
// Used from the main thread only; release() is also safe after a signal has
// ended the main loop.
#pragma once

#include <string>
#include <vector>

namespace mqsim {

class PtyBinding {
 public:
  PtyBinding() = default;
  ~PtyBinding();
  PtyBinding(const PtyBinding&) = delete;
  PtyBinding& operator=(const PtyBinding&) = delete;

  // False with a message for the user when the binding is impossible.
  bool bind(const std::string& dataFolder, int com, std::string& error);
  void release();

  // Things found in ports/ and left alone since the last call, one
  // message each, for standard error.
  std::vector<std::string> takeNotes();

  int masterFd() const { return master_; }
  // Readable when another process has closed the slave; call onSlaveClosed.
  int watchFd() const { return watch_; }
  void onSlaveClosed();
  const std::string& slavePath() const { return slavePath_; }
  const std::string& linkPath() const { return linkPath_; }

 private:
  bool openPortsDir(std::string& error);
  bool createPortsDir(std::string& error);
  bool lockNumber(std::string& error);
  bool checkExistingLink(std::string& error);
  bool openPty(std::string& error);
  bool makeLink(std::string& error);
  void sweepStale();
  void removePortsDirIfOnlyMarker();
  void note(const std::string& name, const std::string& text);

  std::string portsDir_;  // for messages; all access goes through dirFd_
  std::string comName_;   // "COM<N>"
  std::string linkName_;  // "COM<N>" in ports/
  std::string lockName_;  // ".COM<N>.lock" in ports/
  std::string linkPath_;
  std::string slavePath_;
  int dataFd_ = -1;  // the data folder
  int dirFd_ = -1;   // ports/
  int lockFd_ = -1;
  int master_ = -1;
  int slave_ = -1;
  int watch_ = -1;
  bool linked_ = false;
  std::vector<std::string> notes_;
  std::vector<std::string> noted_;  // entries already reported once
};

}  // namespace mqsim
