// POSIX version-resource calls: the version block is found inside the file
// itself (TVersionBlockScanner) and queried with TVersionBlock. Failures are
// reported with Windows error numbers and messages so that the program's
// error texts read the same on every platform.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "util/utf16_convert.h"
#include "version/version_block.h"
#include "version/version_block_scanner.h"
#include "version/version_platform.h"

namespace mq {
namespace {

// Windows error numbers used here.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorReadFault = 30;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorOpenFailed = 110;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;
constexpr std::uint32_t kErrorFileTooLarge = 223;
constexpr std::uint32_t kErrorIoDevice = 1117;
constexpr std::uint32_t kErrorResourceTypeNotFound = 1813;
constexpr std::uint32_t kErrorResourceLangNotFound = 1815;
constexpr std::uint32_t kErrorCantResolveFilename = 1921;

struct TMessage {
  std::uint32_t Code;
  const char* Text;
};

// The Windows system messages (English, neutral language) for the codes this
// platform layer reports.
constexpr std::array kMessages{
    TMessage{0, "The operation completed successfully."},
    TMessage{1, "Incorrect function."},
    TMessage{kErrorFileNotFound, "The system cannot find the file specified."},
    TMessage{kErrorPathNotFound, "The system cannot find the path specified."},
    TMessage{kErrorTooManyOpenFiles, "The system cannot open the file."},
    TMessage{kErrorAccessDenied, "Access is denied."},
    TMessage{kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
    TMessage{kErrorReadFault, "The system cannot read from the specified device."},
    TMessage{kErrorSharingViolation, "The process cannot access the file because it is being used by another process."},
    TMessage{kErrorInvalidParameter, "The parameter is incorrect."},
    TMessage{kErrorOpenFailed, "The system cannot open the device or file specified."},
    TMessage{kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    TMessage{kErrorFilenameExcedRange, "The filename or extension is too long."},
    TMessage{kErrorFileTooLarge, "The file size exceeds the limit allowed and cannot be saved."},
    TMessage{kErrorIoDevice, "The request could not be performed because of an I/O device error."},
    TMessage{kErrorResourceTypeNotFound, "The specified resource type cannot be found in the image file."},
    TMessage{1814, "The specified resource name cannot be found in the image file."},
    TMessage{kErrorResourceLangNotFound, "The specified resource language ID cannot be found in the image file."},
    TMessage{kErrorCantResolveFilename, "The name of the file cannot be resolved by the system."},
};

struct TLanguage {
  std::uint16_t Id;
  const char* Name;
};

// Display names of language ids, as Windows gives them. Ids whose sublanguage
// is not listed fall back to the name of their primary language.
constexpr std::array kLanguages{
    TLanguage{0x0000, "Language Neutral"},
    TLanguage{0x0007, "German"},
    TLanguage{0x0009, "English"},
    TLanguage{0x000A, "Spanish"},
    TLanguage{0x000C, "French"},
    TLanguage{0x0010, "Italian"},
    TLanguage{0x0013, "Dutch"},
    TLanguage{0x001A, "Croatian"},
    TLanguage{0x001D, "Swedish"},
    TLanguage{0x001F, "Turkish"},
    TLanguage{0x0006, "Danish"},
    TLanguage{0x0014, "Norwegian"},
    TLanguage{0x000B, "Finnish"},
    TLanguage{0x0015, "Polish"},
    TLanguage{0x0016, "Portuguese"},
    TLanguage{0x0019, "Russian"},
    TLanguage{0x0005, "Czech"},
    TLanguage{0x000E, "Hungarian"},
    TLanguage{0x0008, "Greek"},
    TLanguage{0x0011, "Japanese"},
    TLanguage{0x0012, "Korean"},
    TLanguage{0x0004, "Chinese"},
    TLanguage{0x0024, "Slovenian"},
    TLanguage{0x0406, "Danish (Denmark)"},
    TLanguage{0x0407, "German (Germany)"},
    TLanguage{0x0409, "English (United States)"},
    TLanguage{0x040A, "Spanish (Spain, Traditional Sort)"},
    TLanguage{0x040B, "Finnish (Finland)"},
    TLanguage{0x040C, "French (France)"},
    TLanguage{0x0410, "Italian (Italy)"},
    TLanguage{0x0413, "Dutch (Netherlands)"},
    TLanguage{0x0414, "Norwegian, Bokm\xC3\xA5l (Norway)"},
    TLanguage{0x0415, "Polish (Poland)"},
    TLanguage{0x0416, "Portuguese (Brazil)"},
    TLanguage{0x0419, "Russian (Russia)"},
    TLanguage{0x041A, "Croatian (Croatia)"},
    TLanguage{0x041D, "Swedish (Sweden)"},
    TLanguage{0x041F, "Turkish (Turkey)"},
    TLanguage{0x0807, "German (Switzerland)"},
    TLanguage{0x0809, "English (United Kingdom)"},
    TLanguage{0x080C, "French (Belgium)"},
    TLanguage{0x0813, "Dutch (Belgium)"},
    TLanguage{0x0816, "Portuguese (Portugal)"},
    TLanguage{0x0C07, "German (Austria)"},
    TLanguage{0x0C09, "English (Australia)"},
    TLanguage{0x0C0A, "Spanish (Spain, International Sort)"},
    TLanguage{0x0C0C, "French (Canada)"},
    TLanguage{0x1009, "English (Canada)"},
};

thread_local std::uint32_t tLastError = 0;

std::uint32_t FromOpenErrno(int error) {
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ELOOP: return kErrorCantResolveFilename;
    case EFBIG:
    case EOVERFLOW: return kErrorFileTooLarge;
    case EIO: return kErrorIoDevice;
    case EINVAL: return kErrorInvalidParameter;
    default: return kErrorOpenFailed;
  }
}

std::uint32_t FromReadErrno(int error) {
  switch (error) {
    case EIO: return kErrorIoDevice;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EISDIR: return kErrorAccessDenied;
    default: return kErrorReadFault;
  }
}

class TFile {
 public:
  explicit TFile(int fd) : FFd(fd) {}
  ~TFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd;
};

// Finds the version block of a file. Sets the last error and returns false
// when the file cannot be read or holds no version block.
bool FindBlock(const std::filesystem::path& fileName, std::vector<std::byte>& block) {
  const std::string& name = fileName.native();
  if (name.find('\0') != std::string::npos) {
    tLastError = kErrorInvalidName;
    return false;
  }
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  TFile file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.Fd() < 0) {
    const int error = errno;
    tLastError = FromOpenErrno(error);
    // As on Windows: a missing folder on the way is "path not found" (3),
    // only a missing last component is "file not found" (2).
    struct stat parent {};
    if (error == ENOENT && fileName.has_parent_path() && ::stat(fileName.parent_path().c_str(), &parent) != 0) {
      tLastError = kErrorPathNotFound;
    }
    return false;
  }
  struct stat info {};
  if (::fstat(file.Fd(), &info) != 0) {
    tLastError = FromReadErrno(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    tLastError = kErrorAccessDenied;  // as when Windows opens a folder as a file
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    // Devices and pipes carry no version data and may never end.
    tLastError = kErrorResourceTypeNotFound;
    return false;
  }
  int readErrno = 0;
  const auto readAt = [&](std::uint64_t offset, std::span<std::byte> buffer) -> std::ptrdiff_t {
    for (;;) {
      const ssize_t got = ::pread(file.Fd(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      readErrno = errno;
      return -1;
    }
  };
  auto result = TVersionBlockScanner::Find(readAt);
  switch (result.Status) {
    case TVersionBlockScanner::TStatus::Found: block = std::move(result.Block); return true;
    case TVersionBlockScanner::TStatus::ReadError: tLastError = FromReadErrno(readErrno); return false;
    case TVersionBlockScanner::TStatus::NotFound: break;
  }
  tLastError = kErrorResourceTypeNotFound;
  return false;
}

class TPosixVersionPlatform final : public TVersionPlatform {
 public:
  std::filesystem::path ModuleFileName() override {
    std::string target(256, '\0');
    for (;;) {
      const ssize_t got = ::readlink("/proc/self/exe", target.data(), target.size());
      if (got < 0) return "/proc/self/exe";
      if (static_cast<std::size_t>(got) < target.size()) {
        target.resize(static_cast<std::size_t>(got));
        break;
      }
      target.resize(target.size() * 2);
    }
    // A program file replaced while running (an upgrade) is still readable
    // through the link itself, and only there.
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() >= kDeleted.size() &&
        target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
      return "/proc/self/exe";
    }
    return target;
  }

  std::uint32_t GetFileVersionInfoSizeW(const std::filesystem::path& fileName) override {
    std::vector<std::byte> block;
    if (!FindBlock(fileName, block)) return 0;
    return static_cast<std::uint32_t>(block.size());
  }

  bool GetFileVersionInfoW(const std::filesystem::path& fileName, std::span<std::byte> buffer) override {
    if (buffer.empty()) {
      tLastError = kErrorInvalidParameter;
      return false;
    }
    std::vector<std::byte> block;
    if (!FindBlock(fileName, block)) return false;
    std::memcpy(buffer.data(), block.data(), std::min(buffer.size(), block.size()));
    return true;
  }

  bool VerQueryValueW(std::span<const std::byte> block, std::u16string_view subBlock, const void*& value,
                      std::uint32_t& length) override {
    const auto found = TVersionBlock(block).Query(subBlock);
    if (!found) {
      tLastError = kErrorResourceTypeNotFound;
      return false;
    }
    value = found->Bytes.data();
    length = found->Length;
    return true;
  }

  std::uint32_t GetLastError() override { return tLastError; }
  void SetLastError(std::uint32_t code) override { tLastError = code; }

  std::u16string FormatMessageW(std::uint32_t code) override {
    for (const auto& message : kMessages) {
      if (message.Code == code) return Utf16Convert::Utf8ToUtf16(message.Text) + u"\r\n";
    }
    return {};
  }

  bool VerLanguageNameW(std::uint16_t langId, std::u16string& name) override {
    const auto lookUp = [](std::uint16_t id) -> const char* {
      for (const auto& language : kLanguages) {
        if (language.Id == id) return language.Name;
      }
      return nullptr;
    };
    const char* text = lookUp(langId);
    if (text == nullptr) text = lookUp(static_cast<std::uint16_t>(langId & 0x3FF));
    if (text == nullptr) {
      tLastError = kErrorResourceLangNotFound;
      return false;
    }
    name = Utf16Convert::Utf8ToUtf16(text);
    return true;
  }
};

}  // namespace

TVersionPlatform& TVersionPlatform::System() {
  static TPosixVersionPlatform platform;
  return platform;
}

}  // namespace mq
