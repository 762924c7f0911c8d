#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "util/user_account.h"

namespace mq {

std::string UserAccount::UserName(uid_t uid) {
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(uid);
}

std::string UserAccount::GroupName(gid_t gid) {
  group g{};
  group* found = nullptr;
  std::vector<char> buf(65536);
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found != nullptr) return found->gr_name;
  return std::to_string(gid);
}

bool UserAccount::ProcessInGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  return false;
}

bool UserAccount::AccountInGroup(gid_t gid) {
  passwd pw{};
  passwd* me = nullptr;
  std::vector<char> pwBuf(16384);
  if (getpwuid_r(geteuid(), &pw, pwBuf.data(), pwBuf.size(), &me) != 0 || me == nullptr) return false;
  if (pw.pw_gid == gid) return true;
  group g{};
  group* found = nullptr;
  std::vector<char> buf(65536);
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) != 0 || found == nullptr) return false;
  for (char** member = g.gr_mem; member != nullptr && *member != nullptr; ++member)
    if (std::string(*member) == pw.pw_name) return true;
  return false;
}

std::string UserAccount::ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace mq
