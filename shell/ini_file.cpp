#include "shell/ini_file.h"

#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "shell/atomic_file_writer.h"
#include "util/ascii_text.h"
#include "util/safe_file_reader.h"

namespace mq {

// A file we create gets the platform's own line ending (Notepad before
// Windows 10 1809 shows a file of bare LFs as one line); an existing file
// keeps its own.
#ifdef _WIN32
constexpr const char* kNewFileEol = "\r\n";
#else
constexpr const char* kNewFileEol = "\n";
#endif

struct IniFile::Document {
  struct Line {
    std::string text;  // without its line ending
  };
  std::vector<Line> lines;
  std::string eol = kNewFileEol;
  bool endsWithEol = true;
  std::string bom;  // a UTF-8 byte order mark the file starts with, kept on writes
};

namespace {

std::string Trim(const std::string& s) {
  const char* ws = " \t";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

using Document = IniFile::Document;
using Line = Document::Line;

// What reading the whole file found. Only a file that does not exist is
// an empty document; anything else that stops the read (no permission, an
// I/O error, a folder, link, FIFO or device in the file's place, a file over
// the size cap) is Unreadable, with the reason, so that a write never
// replaces a file it could not read.
enum class ReadOutcome { Read, Missing, Unreadable };

// The path is UTF-8; a plain char path would be taken in the 8-bit code
// page on Windows and miss a file the writer created.
std::filesystem::path PathOf(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

ReadOutcome ParseDocument(std::string data, Document& doc) {
  // Notepad's "UTF-8" adds a byte order mark; without skipping it the first
  // section would go unseen and a write would add a second one.
  if (data.starts_with("\xEF\xBB\xBF")) {
    doc.bom = data.substr(0, 3);
    data.erase(0, 3);
  }
  if (data.find("\r\n") != std::string::npos)
    doc.eol = "\r\n";
  else if (data.find('\n') != std::string::npos)
    doc.eol = "\n";
  else if (data.find('\r') != std::string::npos)
    doc.eol = "\r";
  // A line ends at CR LF, LF or a lone CR, as in the profile calls.
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t end = data.find_first_of("\r\n", pos);
    doc.lines.push_back({data.substr(pos, end == std::string::npos ? std::string::npos : end - pos)});
    if (end == std::string::npos) {
      doc.endsWithEol = false;
      break;
    }
    pos = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return ReadOutcome::Read;
}

ReadOutcome ReadDocument(const std::string& path, Document& doc, FileReadResult* result = nullptr) {
  FileReadResult r = SafeFileReader::Read(PathOf(path), IniFile::kMaxFileSize);
  const FileReadStatus status = r.status;
  std::string bytes = std::move(r.bytes);
  if (result != nullptr) *result = std::move(r);
  if (status == FileReadStatus::Missing) return ReadOutcome::Missing;
  if (status != FileReadStatus::Read) return ReadOutcome::Unreadable;
  return ParseDocument(std::move(bytes), doc);
}

// "[name]" with optional blanks; returns the name or nothing.
std::optional<std::string> SectionName(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// "key=value": the key, or nothing for comments and other lines.
std::optional<std::string> KeyName(const std::string& line) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return Trim(t.substr(0, eq));
}

std::string ValueOf(const std::string& line) {
  const auto eq = line.find('=');
  std::string v = Trim(line.substr(eq + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

// Sets key in the first section of that name: rewrites the key's line, or
// adds it after the section's last key, or adds the section at the end.
void SetKey(Document& doc, const std::string& section, const std::string& key, const std::string& value) {
  const std::string newLine = key + "=" + value;
  std::optional<std::size_t> sectionLine, lastInSection, keyLine;
  bool inSection = false;
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const std::string& text = doc.lines[i].text;
    if (auto s = SectionName(text)) {
      inSection = !sectionLine && AsciiText::EqualNoCase(*s, section);
      if (inSection) {
        sectionLine = i;
        lastInSection = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (auto k = KeyName(text)) {
      lastInSection = i;
      if (AsciiText::EqualNoCase(*k, key) && !keyLine) keyLine = i;
    }
  }
  if (keyLine) {
    doc.lines[*keyLine].text = newLine;
  } else if (lastInSection) {
    doc.lines.insert(doc.lines.begin() + static_cast<long>(*lastInSection) + 1, Line{newLine});
  } else {
    doc.lines.push_back({"[" + section + "]"});
    doc.lines.push_back({newLine});
    doc.endsWithEol = true;
  }
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

FileReadResult IniFile::Load() {
  auto doc = std::make_shared<Document>();
  FileReadResult result;
  const ReadOutcome outcome = ReadDocument(path_, *doc, &result);
  // A file that could not be read counts as empty until the next write:
  // its settings are not used this time, whatever happens to it meanwhile.
  if (outcome == ReadOutcome::Unreadable) doc = std::make_shared<Document>();
  loaded_ = std::move(doc);
  result.bytes.clear();
  return result;
}

std::optional<std::string> IniFile::ReadValue(const std::string& section, const std::string& key) const {
  std::shared_ptr<const Document> doc = loaded_;
  if (!doc) {
    auto fresh = std::make_shared<Document>();
    if (ReadDocument(path_, *fresh) != ReadOutcome::Read) return std::nullopt;
    doc = std::move(fresh);
  }
  // Only the first section of that name counts, for reads as for writes
  // (as the profile calls do): a pasted duplicate further down is ignored.
  bool inSection = false, seen = false;
  for (const Line& l : doc->lines) {
    if (auto s = SectionName(l.text)) {
      if (seen) return std::nullopt;
      inSection = seen = AsciiText::EqualNoCase(*s, section);
      continue;
    }
    if (!inSection) continue;
    if (auto k = KeyName(l.text); k && AsciiText::EqualNoCase(*k, key)) return ValueOf(l.text);
  }
  return std::nullopt;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  auto v = ReadValue(section, key);
  return v ? *v : def;
}

std::optional<int> IniFile::ParseInteger(const std::string& text) {
  std::string t = text;
  if (t.empty()) return std::nullopt;
  bool negative = false;
  std::size_t i = 0;
  if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    i = 1;
  }
  int base = 10;
  if (t.size() > i + 1 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return std::nullopt;
  long long value = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * base + d;
    // Hexadecimal may use the full 32 bits (0xFFFFFFFF is -1).
    const long long limit = base == 16 ? 0xFFFFFFFFLL : static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    if (value > limit) return std::nullopt;
  }
  if (base == 16 && !negative) return static_cast<int>(static_cast<unsigned int>(value));
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(value);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  auto v = ReadValue(section, key);
  if (!v) return def;
  auto n = ParseInteger(*v);
  return n ? *n : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  WriteStrings(section, {{key, value}});
}

void IniFile::WriteStrings(const std::string& section,
                           const std::vector<std::pair<std::string, std::string>>& keyValues) {
  Document doc;
  FileReadResult read;
  // A missing file starts empty; one that exists but cannot be read is
  // left alone: writing would replace the user's other sections and
  // comments with our keys (and a link or a FIFO in its place is another
  // user's, never ours to replace).
  if (ReadDocument(path_, doc, &read) == ReadOutcome::Unreadable)
    throw FileWriteError("Cannot write \"" + path_ +
                         "\" (the existing file cannot be read, so it is left as it is): " + read.Reason());
  for (const auto& [key, value] : keyValues) SetKey(doc, section, key, value);

  std::string out = doc.bom;
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    out += doc.lines[i].text;
    if (i + 1 < doc.lines.size() || doc.endsWithEol) out += doc.eol;
  }
  AtomicFileWriter::Write(path_, out);
  loaded_.reset();
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace mq
