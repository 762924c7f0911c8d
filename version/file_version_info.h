// TFileVersionInfo: reads the strings of a file's version data (by default
// the running program's own file) the way a Windows version resource is read:
// the string table addressed by the first (language, code page) pair of the
// translation table, one named string per read.
//
// Every read repeats the whole sequence (size, data, translation, string);
// nothing is cached, so a read always reflects the file as it is now. A file
// that cannot be read or has no version data, and a string that is missing,
// give the last-error text "Error #<code> - <message>" instead of the value;
// only version data without a translation table raises (EFileVersionInfo).
//
// Threading: use one instance from one thread (the user-interface thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "version/version_platform.h"

namespace mq {

class TFileVersionInfo {
 public:
  static constexpr int kKeyCount = 12;

  // Nothing is read until a property is asked for.
  explicit TFileVersionInfo(TVersionPlatform& platform = TVersionPlatform::System());

  // The file whose version data is read: the name set, or the running
  // program's full path when none is set.
  std::filesystem::path VerFileName() const;
  void SetVerFileName(std::filesystem::path name);

  // The string with key index 0..11 (see KeyName); throws std::out_of_range
  // for any other index. Throws EFileVersionInfo when the version data has
  // no translation table.
  std::u16string ReadVersionString(int index);

  // The string-table key of an index 0..11 ("Comments" ... "SpecialBuild").
  static std::u16string_view KeyName(int index);

  std::u16string StrVerFileComments() { return ReadVersionString(0); }
  std::u16string StrVerFileCompanyName() { return ReadVersionString(1); }
  std::u16string StrVerFileDescription() { return ReadVersionString(2); }
  std::u16string StrVerFileVersion() { return ReadVersionString(3); }
  std::u16string StrVerFileInternalName() { return ReadVersionString(4); }
  std::u16string StrVerFileCopyright() { return ReadVersionString(5); }
  std::u16string StrVerFileTrademarks() { return ReadVersionString(6); }
  std::u16string StrVerFileOriginalFilename() { return ReadVersionString(7); }
  std::u16string StrVerFileProductName() { return ReadVersionString(8); }
  std::u16string StrVerFileProductVersion() { return ReadVersionString(9); }
  std::u16string StrVerFilePrivateBuild() { return ReadVersionString(10); }
  std::u16string StrVerFileSpecialBuild() { return ReadVersionString(11); }

  // The pair found by the last read; 0 while no read has found one.
  std::uint16_t VerFileLangID() const { return FVerFileLangID; }
  std::uint16_t VerFileCPID() const { return FVerFileCPID; }

  // Display name of VerFileLangID, or the last-error text when the platform
  // has none. Reads nothing from the file.
  std::u16string StrVerFileLang();
  // A name for the code page VerFileCPID, e.g. "1252 (ANSI - Latin I)".
  std::u16string StrVerFileCP() const;

  // "Error #<code> - <message>" for the platform's last error; empty when
  // the last error is 0.
  std::u16string LastErrorText();

 private:
  TVersionPlatform& FPlatform;
  std::filesystem::path FVerFileName;
  std::uint16_t FVerFileLangID = 0;
  std::uint16_t FVerFileCPID = 0;
};

}  // namespace mq
