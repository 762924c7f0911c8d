// AtomicFileWriter: replaces a file's whole content so that readers and a
// crash at any moment see either the old or the new content, never a mix
// or a truncated file. The content is written to a temporary file in the
// target's folder, flushed to disk, and renamed over the target.
// A replaced file keeps its permissions: on POSIX its read and write bits
// (never set-ID, sticky or execute bits) and, where the writer may set it,
// its group; on Windows its access list and its hidden, system and archive
// attributes. A new POSIX file is created 0664, so that the group sharing
// the data folder can write it too. Only a regular file is replaced: a
// link (or Windows reparse point), folder, FIFO or device in the target's
// place is refused and left as it is.
//
// Threading: stateless; safe from any thread for different files.
#pragma once

#include <stdexcept>
#include <string>

namespace mq {

// A write that failed; the message names the file and the system's reason.
class FileWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AtomicFileWriter {
 public:
  // Throws FileWriteError; the target is then unchanged and no temporary
  // file is left behind.
  static void Write(const std::string& path, const std::string& content);
};

}  // namespace mq
