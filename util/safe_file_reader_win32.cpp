#include <windows.h>

#include <string>

#include "util/safe_file_reader.h"

namespace mq {
namespace {

std::string SystemText(DWORD err) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : L"error " + std::to_wstring(err);
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) wide.pop_back();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr, nullptr);
  return out;
}

FileReadResult Failed(DWORD err) {
  FileReadResult r;
  r.status = FileReadStatus::Failed;
  r.systemError = static_cast<int>(err);
  r.systemText = SystemText(err);
  return r;
}

FileReadResult WithStatus(FileReadStatus status) {
  FileReadResult r;
  r.status = status;
  return r;
}

}  // namespace

FileReadResult SafeFileReader::Read(const std::filesystem::path& file, std::uintmax_t maxBytes) {
  // The attributes first, for a clear answer about a folder (which
  // CreateFileW would only refuse as "access denied").
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return WithStatus(FileReadStatus::Missing);
    return Failed(err);
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WithStatus(FileReadStatus::Link);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return WithStatus(FileReadStatus::NotRegular);
  // FILE_FLAG_OPEN_REPARSE_POINT: a link put in place after the check is
  // opened as itself, and refused below, rather than followed.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return WithStatus(FileReadStatus::Missing);
    return Failed(err);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    return Failed(err);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    CloseHandle(h);
    return WithStatus(FileReadStatus::Link);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return WithStatus(FileReadStatus::NotRegular);
  }
  const std::uintmax_t size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > maxBytes) {
    CloseHandle(h);
    return WithStatus(FileReadStatus::TooLarge);
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(size));
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
      const DWORD err = GetLastError();
      CloseHandle(h);
      return Failed(err);
    }
    if (got == 0) break;
    if (data.size() + got > maxBytes) {
      CloseHandle(h);
      return WithStatus(FileReadStatus::TooLarge);
    }
    data.append(chunk, got);
  }
  CloseHandle(h);
  FileReadResult r = WithStatus(FileReadStatus::Read);
  r.bytes = std::move(data);
  return r;
}

}  // namespace mq
