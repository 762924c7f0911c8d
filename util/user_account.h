// UserAccount: who the running user is in the terms a message needs (POSIX):
// user and group names, whether the process or only the account belongs to
// a group, and permission bits as text. Files in the shared data folder and
// serial devices are judged by their owner and group, and the advice the
// program gives depends on the answers.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <sys/types.h>

#include <string>

namespace mq {

class UserAccount {
 public:
  // The name of user uid (its number when it has none).
  static std::string UserName(uid_t uid);
  // The name of group gid (its number when it has none).
  static std::string GroupName(gid_t gid);
  // Whether this process has gid among its groups.
  static bool ProcessInGroup(gid_t gid);
  // Whether the account belongs to gid (the group file or its primary
  // group), even where this process does not: someone added to a group
  // after logging in has it only after the next log-in.
  static bool AccountInGroup(gid_t gid);
  // Permission bits as four octal digits, "0664".
  static std::string ModeText(mode_t mode);
};

}  // namespace mq
