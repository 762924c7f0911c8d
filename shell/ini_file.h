// IniFile: a settings file that behaves like a Windows profile file.
//
// Section and key names are matched without regard to ASCII case; values
// are trimmed of surrounding blanks and of one pair of enclosing quotes.
// Only the first section of a name is used. Lines end at CR LF, LF or a
// lone CR; a leading UTF-8 byte order mark is skipped (and kept on writes).
// Writing one key rewrites only that key's line (or appends the key to its
// section, or the section to the file) and keeps every other section, key,
// comment and blank line as it was, with the file's own line endings.
//
// The file may be another user's (the data folder is shared): it is read
// without following a link and without blocking, only when it is a regular
// file of at most kMaxFileSize bytes.
//
// Every write replaces the file atomically: the new content goes to a
// temporary file in the same folder, is flushed to disk and then renamed
// over the old file, so a crash or a full disk never leaves a truncated
// settings file behind. A failed write throws FileWriteError and leaves the
// old file untouched. Only a missing file is written as new: one that exists
// but cannot be read (no permission, an I/O error, a folder in its place)
// is never replaced, since its other sections and comments would be lost,
// nor is a link, FIFO, device or oversized file in its place.
//
// Threading: not thread-safe; the shell uses it on the loop thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/atomic_file_writer.h"
#include "util/safe_file_reader.h"

namespace mq {

class IniFile {
 public:
  // A settings file is a few hundred bytes; a larger one is not ours.
  static constexpr std::uintmax_t kMaxFileSize = 1024 * 1024;

  explicit IniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // Reads the file once and answers the reads from that content until the
  // next write (a file that could not be read then counts as empty).
  // Returns what the read found: Read, Missing, or why it was refused.
  FileReadResult Load();

  // The value of key in section, or nothing when the file, the section or
  // the key is missing or the file cannot be read.
  std::optional<std::string> ReadValue(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // Decimal, or hexadecimal with a "0x"/"0X" prefix (optionally signed);
  // anything else yields def.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // Read as an integer; true when it is not 0.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Sets every key of section in one replacement of the file: either all of
  // them are written or, when the write fails, the file is unchanged.
  void WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& keyValues);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  // Written as "1" or "0".
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Parses an integer the way ReadInteger does.
  static std::optional<int> ParseInteger(const std::string& text);

  struct Document;  // the parsed file

 private:
  std::string path_;
  std::shared_ptr<const Document> loaded_;
};

}  // namespace mq
