// SafeFileReader: reads a whole file that another user may have placed or
// replaced (the shared data folder's settings and translation files) without
// following a link in the file's own place, without ever blocking on a FIFO
// or a device, and without reading more than a cap. Only a regular file is
// read; the type and size come from the opened descriptor (or handle), so a
// swap between a check and the open cannot slip anything else in.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace mq {

// What a read found. Missing: nothing of that name. Link: a symbolic link
// (POSIX) or reparse point (Windows) in the file's place. NotRegular: a
// folder, FIFO, device or socket. TooLarge: more than the cap. Failed: the
// system refused or broke off the read (systemError holds its number).
enum class FileReadStatus { Read, Missing, Link, NotRegular, TooLarge, Failed };

struct FileReadResult {
  FileReadStatus status = FileReadStatus::Failed;
  std::string bytes;       // the content when Read
  int systemError = 0;     // errno (POSIX) or GetLastError() (Windows) when Failed
  std::string systemText;  // the system's text for systemError
  // The file's owner and permission bits as "0644", where the system told
  // them (POSIX: from lstat, also when the open was refused); empty otherwise.
  std::string owner;
  std::string mode;

  bool Ok() const { return status == FileReadStatus::Read; }
  // A short English reason for logs and exceptions, e.g. "it is a symbolic
  // link", "Permission denied (owner bob, mode 0000)"; empty when Read.
  std::string Reason() const;
};

class SafeFileReader {
 public:
  static FileReadResult Read(const std::filesystem::path& file, std::uintmax_t maxBytes);
};

}  // namespace mq
