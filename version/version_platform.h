// TVersionPlatform: the operating system's version-resource calls, as one
// small interface so that TFileVersionInfo runs unchanged on every platform
// and tests can stand in for the system.
//
// Windows (version_platform_win32.cpp) forwards to the real calls of the same
// names. POSIX (version_platform_posix.cpp) finds the version block inside
// the named file itself and answers with Windows error numbers where the
// failure is the Windows one (2 file not found, 3 path not found, 5 access
// denied, 1813 no version data / no such value); its messages are the
// Windows message texts, each ending with "\r\n" as the Windows message
// table gives them, so a program shows the same text on every platform.
//
// Threading: the last error is kept per thread, as on Windows; the calls may
// run on any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace mq {

class TVersionPlatform {
 public:
  virtual ~TVersionPlatform() = default;

  // Full path of the running program's file (GetModuleFileNameW).
  virtual std::filesystem::path ModuleFileName() = 0;

  // Size in bytes of the version data of `fileName`; 0 when the file has none
  // or cannot be read, with the last error set.
  virtual std::uint32_t GetFileVersionInfoSizeW(const std::filesystem::path& fileName) = 0;

  // Copies the version data of `fileName` into `buffer` (at most its size);
  // false on failure, with the last error set.
  virtual bool GetFileVersionInfoW(const std::filesystem::path& fileName, std::span<std::byte> buffer) = 0;

  // Looks up a value path in version data read by GetFileVersionInfoW. On
  // success `value` points into `block` and `length` is its length (UTF-16
  // units for text values, bytes for binary ones).
  virtual bool VerQueryValueW(std::span<const std::byte> block, std::u16string_view subBlock, const void*& value,
                              std::uint32_t& length) = 0;

  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;

  // The message text of an error code in the neutral language with the
  // default sublanguage; empty when the platform has none.
  virtual std::u16string FormatMessageW(std::uint32_t code) = 0;

  // Display name of a language id; false (last error set) when unknown.
  virtual bool VerLanguageNameW(std::uint16_t langId, std::u16string& name) = 0;

  // The platform of the running program.
  static TVersionPlatform& System();
};

}  // namespace mq
