// Windows version-resource calls: thin forwarding to the system's own
// functions of the same names (version.dll and kernel32).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <vector>

#include "version/version_platform.h"

namespace mq {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class TWin32VersionPlatform final : public TVersionPlatform {
 public:
  std::filesystem::path ModuleFileName() override {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      const DWORD got = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (got == 0) return {};
      if (got < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), got));
      if (buffer.size() >= 32768) return std::filesystem::path(std::wstring(buffer.data(), got));
      buffer.resize(buffer.size() * 2);
    }
  }

  std::uint32_t GetFileVersionInfoSizeW(const std::filesystem::path& fileName) override {
    DWORD handle = 0;
    return ::GetFileVersionInfoSizeW(fileName.c_str(), &handle);
  }

  bool GetFileVersionInfoW(const std::filesystem::path& fileName, std::span<std::byte> buffer) override {
    return ::GetFileVersionInfoW(fileName.c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data()) != FALSE;
  }

  bool VerQueryValueW(std::span<const std::byte> block, std::u16string_view subBlock, const void*& value,
                      std::uint32_t& length) override {
    const std::u16string path(subBlock);
    void* found = nullptr;
    UINT foundLength = 0;
    if (!::VerQueryValueW(block.data(), Wide(path), &found, &foundLength)) return false;
    value = found;
    length = foundLength;
    return true;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

  std::u16string FormatMessageW(std::uint32_t code) override {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string result;
    if (length != 0 && text != nullptr) {
      result.assign(reinterpret_cast<const char16_t*>(text), length);
    }
    if (text != nullptr) ::LocalFree(text);
    return result;
  }

  bool VerLanguageNameW(std::uint16_t langId, std::u16string& name) override {
    wchar_t buffer[256] = {};
    const DWORD length = ::VerLanguageNameW(langId, buffer, 256);
    if (length == 0) return false;
    // Some implementations count the terminator; the name ends at the first one.
    std::size_t units = 0;
    while (units < std::min<DWORD>(length, 255) && buffer[units] != 0) ++units;
    name.assign(reinterpret_cast<const char16_t*>(buffer), units);
    return true;
  }
};

}  // namespace

TVersionPlatform& TVersionPlatform::System() {
  static TWin32VersionPlatform platform;
  return platform;
}

}  // namespace mq
