#include <windows.h>
#include <aclapi.h>

#include <atomic>
#include <string>

#include "shell/atomic_file_writer.h"
#include "shell/wide_text_win32.h"

namespace mq {
namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, DWORD err) {
  throw FileWriteError("Cannot write \"" + path + "\" (" + what + "): " + WideText::SystemError(err));
}

// "<target>.tmp<pid>-<n>": same folder as the target, so the final move is a
// rename within one volume, and unique across processes and threads.
std::wstring TemporaryName(const std::wstring& target) {
  static std::atomic<unsigned> counter{0};
  return target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

// The rename brings in the temporary file's own security descriptor (the
// folder's inherited one) and plain attributes; the file it replaces may
// have had its own access list (for example write access for the users of
// a shared machine), which other users would lose. The replacement takes
// the old file's access list, with its inheritance setting, and its
// hidden/system/archive attributes. Where we may not read or set the list,
// the folder's inherited one applies.
void KeepPermissionsOf(const std::wstring& target, DWORD attributes, HANDLE replacement) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool isProtected = GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED);
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                               : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (dacl != nullptr) SetSecurityInfo(replacement, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
  }
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (kept != 0) {
    FILE_BASIC_INFO info{};  // times of 0: left as they are
    info.FileAttributes = kept;
    SetFileInformationByHandle(replacement, FileBasicInfo, &info, sizeof info);
  }
}

}  // namespace

void AtomicFileWriter::Write(const std::string& path, const std::string& content) {
  const std::wstring target = WideText::FromUtf8(path);
  if (target.empty()) Fail(path, "file name", ERROR_INVALID_NAME);

  // A read-only settings file stays as it is, as with the profile calls.
  // MoveFileExW refuses it too; this check also holds where the file system
  // layer lets a rename replace it (Wine, a network share).
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    Fail(path, "read-only file", ERROR_ACCESS_DENIED);
  // Every user may create files in the shared data folder: a link (reparse
  // point) or a folder in the file's place is theirs, not ours to replace,
  // and its target's access list must not be copied onto our file.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    throw FileWriteError(
        "Cannot write \"" + path +
        "\": " + ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "it is a symbolic link" : "it is not a regular file") +
        ", so it is left as it is");

  std::wstring tmp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = TemporaryName(target);
    file = CreateFileW(tmp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) Fail(path, "create temporary file", GetLastError());

  auto abandon = [&](const char* what, DWORD err) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(tmp.c_str());
    Fail(path, what, err);
  };

  if (attributes != INVALID_FILE_ATTRIBUTES) KeepPermissionsOf(target, attributes, file);

  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr)) abandon("write", GetLastError());
    if (written == 0) abandon("write", ERROR_WRITE_FAULT);
    p += written;
    left -= written;
  }
  if (!FlushFileBuffers(file)) abandon("flush", GetLastError());
  if (!CloseHandle(file)) {
    const DWORD err = GetLastError();
    file = INVALID_HANDLE_VALUE;
    abandon("close", err);
  }
  file = INVALID_HANDLE_VALUE;
  // WRITE_THROUGH: the call returns only after the rename is on disk.
  if (!MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    abandon("rename", GetLastError());
}

}  // namespace mq
