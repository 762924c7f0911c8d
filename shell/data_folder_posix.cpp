#include <sys/stat.h>

#include <unistd.h>

#include "shell/data_folder.h"
#include "util/user_account.h"

namespace mq {

std::string DataFolder::FromRoot(const std::string& root) {
  struct stat st {};
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  std::string folder = root;
  if (folder.back() != '/') folder += '/';
  return folder + "Corvane/Ledgerkit/";
}

WriteProblem DataFolder::DiagnoseWrite(const std::string& folder) {
  WriteProblem p;
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    // The folder itself may be a link to a folder (a set-up of one's own).
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      p.kind = WriteProblem::Kind::FolderMissing;
      return p;
    }
  }
  if (access(folder.c_str(), W_OK | X_OK) == 0) return p;
  // The installed folder is owned by root, group dialout, mode 2775: those
  // who may open the serial ports share the settings. Joining the group is
  // the advice only where the group may write the folder.
  if ((st.st_mode & 030) == 030 && st.st_gid != 0 && !UserAccount::ProcessInGroup(st.st_gid)) {
    p.kind = UserAccount::AccountInGroup(st.st_gid) ? WriteProblem::Kind::LogInAgain : WriteProblem::Kind::JoinGroup;
    p.group = UserAccount::GroupName(st.st_gid);
    return p;
  }
  p.kind = WriteProblem::Kind::FolderNotWritable;
  p.owner = UserAccount::UserName(st.st_uid);
  p.group = UserAccount::GroupName(st.st_gid);
  p.mode = UserAccount::ModeText(st.st_mode);
  return p;
}

std::string DataFolder::Locate() {
  std::string dflt = MQ_DEFAULT_DATA_FOLDER;  // "<root>/Corvane/Ledgerkit/"
  const std::string suffix = "Corvane/Ledgerkit/";
  std::string root = dflt.substr(0, dflt.size() - suffix.size());
  return FromRoot(root);
}

}  // namespace mq
