#include <windows.h>
#include <shlobj.h>

#include "shell/data_folder.h"
#include "shell/wide_text_win32.h"

namespace mq {
namespace {

std::string WithSubFolder(std::string root) {
  if (root.back() != '\\' && root.back() != '/') root += '\\';
  return root + "Corvane\\Ledgerkit\\";
}

}  // namespace

std::string DataFolder::FromRoot(const std::string& root) {
  if (root.empty()) return {};
  const DWORD attributes = GetFileAttributesW(WideText::FromUtf8(root).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return WithSubFolder(root);
}

WriteProblem DataFolder::DiagnoseWrite(const std::string& folder) {
  // Windows says no more than "access denied": the general advice applies.
  WriteProblem p;
  p.kind = WriteProblem::Kind::AskForAccess;
  const DWORD attributes = GetFileAttributesW(WideText::FromUtf8(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    p.kind = WriteProblem::Kind::FolderMissing;
  return p;
}

std::string DataFolder::Locate() {
  // The common (all-users) application-data folder, never created here.
  wchar_t buffer[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_COMMON_APPDATA, FALSE)) return {};
  const std::string root = WideText::ToUtf8(buffer);
  if (root.empty()) return {};
  return WithSubFolder(root);
}

}  // namespace mq
