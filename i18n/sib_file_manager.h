// TSIBFileManager: reader of the binary translation file (.sib). The file is
// held in memory; the constructor checks the header and reads the record
// directory, and ReadRecord parses one window's record (a component in the
// binary layout encoding) and takes the properties a translation component
// needs, reading past every other typed value.
// Every read is bounded by the buffer: a truncated or damaged file, an
// offset or length past the end, a list that never ends, an unknown type
// byte or nesting deeper than kMaxDepth ends in ESibFormatError.
// Layout: 42-byte header, u16 record count, u16 length + fixed languages,
// per record (u16 length + class name, i32 offset), records, trailer.
// Threading: immutable after construction; may be used from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TSIBFileManager {
 public:
  // "SIB file: TsiLang binary translation data" and its zero byte.
  static constexpr std::string_view kHeader{"SIB file: TsiLang binary translation data\0", 42};
  static constexpr int kMaxDepth = 32;
  static constexpr std::uintmax_t kMaxFileSize = 64u * 1024u * 1024u;
  // More language names than any table could use; keeps a hostile list
  // from costing memory out of proportion to the file.
  static constexpr std::size_t kMaxListItems = 1024;

  struct TDirEntry {
    std::string className;  // Windows-1252 decoded to UTF-8
    std::int32_t offset = 0;
  };

  struct TRecord {
    std::string windowClassName;
    std::string componentClassName;  // "TsiLangRT", "TsiLangLinked"
    std::string componentName;
    std::optional<std::vector<std::uint8_t>> translationData;
    std::optional<std::vector<std::string>> langNames;  // "LangNames.Strings"
    std::optional<std::int64_t> numOfLanguages;
    std::optional<std::int64_t> langDelim;
    std::optional<bool> storeAsUTF8;
  };

  // Throws ESibFormatError ("Unrecognized stream format!" for a wrong header).
  explicit TSIBFileManager(std::vector<std::uint8_t> bytes);
  static TSIBFileManager FromFile(const std::filesystem::path& fileName);

  const std::vector<TDirEntry>& Directory() const { return directory_; }
  const std::string& FixedLanguages() const { return fixedLanguages_; }

  // The record whose name equals `windowClassName` exactly (first of
  // duplicates); nullopt when the file has none. Throws on a damaged record.
  std::optional<TRecord> ReadRecord(std::string_view windowClassName) const;

 private:
  std::vector<std::uint8_t> bytes_;
  std::string fixedLanguages_;
  std::vector<TDirEntry> directory_;
};

}  // namespace mq::i18n
