#include "version/file_version_info.h"

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>
#include <vector>

#include "util/utf16_convert.h"
#include "version/file_version_info_error.h"

namespace mq {
namespace {

constexpr std::array<std::u16string_view, TFileVersionInfo::kKeyCount> kKeys{
    u"Comments",        u"CompanyName",      u"FileDescription", u"FileVersion",    u"InternalName", u"LegalCopyright",
    u"LegalTrademarks", u"OriginalFilename", u"ProductName",     u"ProductVersion", u"PrivateBuild", u"SpecialBuild"};

struct TCodePage {
  std::uint16_t Id;
  const char* Name;
};

constexpr std::array kCodePages{
    TCodePage{0, "7-bit ASCII"},
    TCodePage{932, "ANSI/OEM - Japanese Shift-JIS"},
    TCodePage{936, "ANSI/OEM - Simplified Chinese GBK"},
    TCodePage{949, "ANSI/OEM - Korean"},
    TCodePage{950, "ANSI/OEM - Traditional Chinese Big5"},
    TCodePage{1200, "Unicode"},
    TCodePage{1250, "ANSI - Central European"},
    TCodePage{1251, "ANSI - Cyrillic"},
    TCodePage{1252, "ANSI - Latin I"},
    TCodePage{1253, "ANSI - Greek"},
    TCodePage{1254, "ANSI - Turkish"},
    TCodePage{1255, "ANSI - Hebrew"},
    TCodePage{1256, "ANSI - Arabic"},
    TCodePage{1257, "ANSI - Baltic"},
    TCodePage{1258, "ANSI/OEM - Viet Nam"},
    TCodePage{65001, "UTF-8"},
};

void AppendHex4(std::u16string& out, std::uint16_t value) {
  constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xF]);
}

std::u16string Decimal(std::int64_t value) { return Utf16Convert::Utf8ToUtf16(std::to_string(value)); }

std::uint16_t ReadWord(const void* at, std::size_t index) {
  const auto* bytes = static_cast<const unsigned char*>(at) + 2 * index;
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// Bytes of `data` from `at` to its end; 0 when `at` lies outside it.
std::size_t BytesAfter(std::span<const std::byte> data, const void* at) {
  const auto where = reinterpret_cast<std::uintptr_t>(at);
  const auto begin = reinterpret_cast<std::uintptr_t>(data.data());
  if (where < begin || where > begin + data.size()) return 0;
  return begin + data.size() - where;
}

// The text of a string value: up to its terminator, and never beyond the
// length given.
std::u16string TextOf(const void* value, std::size_t length) {
  std::u16string text;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t c = ReadWord(value, i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

}  // namespace

TFileVersionInfo::TFileVersionInfo(TVersionPlatform& platform) : FPlatform(platform) {}

std::filesystem::path TFileVersionInfo::VerFileName() const {
  return FVerFileName.empty() ? FPlatform.ModuleFileName() : FVerFileName;
}

void TFileVersionInfo::SetVerFileName(std::filesystem::path name) { FVerFileName = std::move(name); }

std::u16string_view TFileVersionInfo::KeyName(int index) {
  if (index < 0 || index >= kKeyCount) throw std::out_of_range("version string index out of range");
  return kKeys[static_cast<std::size_t>(index)];
}

std::u16string TFileVersionInfo::LastErrorText() {
  const std::uint32_t code = FPlatform.GetLastError();
  if (code == 0) return {};
  // %d of the code: Windows codes above 0x7FFFFFFF show as negative numbers.
  return u"Error #" + Decimal(static_cast<std::int32_t>(code)) + u" - " + FPlatform.FormatMessageW(code);
}

std::u16string TFileVersionInfo::ReadVersionString(int index) {
  const std::u16string_view key = KeyName(index);
  FVerFileLangID = 0;
  FVerFileCPID = 0;
  // A code left over from an unrelated earlier call must not be reported as
  // the reason for a failure below.
  FPlatform.SetLastError(0);

  const std::filesystem::path fileName = VerFileName();
  const std::uint32_t size = FPlatform.GetFileVersionInfoSizeW(fileName);
  if (size == 0) return LastErrorText();

  std::vector<std::byte> data(size);  // zero-filled
  if (!FPlatform.GetFileVersionInfoW(fileName, data)) return LastErrorText();

  const void* translation = nullptr;
  std::uint32_t translationLength = 0;
  if (!FPlatform.VerQueryValueW(data, u"\\VarFileInfo\\Translation", translation, translationLength) ||
      translation == nullptr || translationLength < 4) {
    // A table too short to hold one pair names no string table either; it is
    // refused like a missing one rather than read beyond its end.
    std::u16string text = LastErrorText();
    if (text.empty()) text = u"The version data of the file has no translation table.";
    throw EFileVersionInfo(text);
  }
  if (BytesAfter(data, translation) < 4) {
    throw EFileVersionInfo(u"The translation table lies outside the version data of the file.");
  }
  FVerFileLangID = ReadWord(translation, 0);
  FVerFileCPID = ReadWord(translation, 1);

  std::u16string path = u"\\StringFileInfo\\";
  AppendHex4(path, FVerFileLangID);
  AppendHex4(path, FVerFileCPID);
  path += u"\\";
  path += key;

  const void* value = nullptr;
  std::uint32_t length = 0;
  if (FPlatform.VerQueryValueW(data, path, value, length) && value != nullptr) {
    // Never beyond the buffer, whatever length the platform reported.
    return TextOf(value, std::min<std::size_t>(length, BytesAfter(data, value) / 2));
  }
  return LastErrorText();
}

std::u16string TFileVersionInfo::StrVerFileLang() {
  std::u16string name;
  FPlatform.SetLastError(0);
  if (FPlatform.VerLanguageNameW(FVerFileLangID, name)) return name;
  return LastErrorText();
}

std::u16string TFileVersionInfo::StrVerFileCP() const {
  std::u16string text = Decimal(FVerFileCPID);
  for (const auto& page : kCodePages) {
    if (page.Id == FVerFileCPID) return text + u" (" + Utf16Convert::Utf8ToUtf16(page.Name) + u")";
  }
  return text;
}

}  // namespace mq
