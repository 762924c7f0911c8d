// DataFolder: where the program keeps its machine-wide files ("MqTool.ini",
// "MqTool.sib", and on POSIX the "ports/" links).
//
// Windows: the common application-data folder + "\Corvane\Ledgerkit\".
// POSIX: the build's data root (default /var/lib) + "/Corvane/Ledgerkit/".
// The result always ends with a path separator. It is empty when the
// application-data root itself cannot be found, which the program treats as
// a critical error. The program never creates these folders.
//
// Threading: stateless.
#pragma once

#include <string>

namespace mq {

struct WriteProblem {
  enum class Kind {
    Unknown,            // the folder is writable, or the system does not say
    FolderMissing,      // the folder does not exist (the program never makes it)
    JoinGroup,          // members of `group` may write it; the user is not one
    LogInAgain,         // the account joined `group` after this log-in
    FolderNotWritable,  // `owner`:`group` with `mode`; no group would help
    AskForAccess,       // Windows: no more is known than that access is denied
  };
  Kind kind = Kind::Unknown;
  std::string group;
  std::string owner;
  std::string mode;
};

class DataFolder {
 public:
  static std::string Locate();
  // The POSIX rule, with the root passed in (for tests): root must be an
  // existing folder, else the result is empty.
  static std::string FromRoot(const std::string& root);
  // Why the program may not write its files in folder, as far as the
  // system tells (shown with a failed settings write), so that the advice
  // fits the cause: the folder is missing; the user is not (or not yet in
  // this session) in the group that may write it; or whose folder it is.
  static WriteProblem DiagnoseWrite(const std::string& folder);
};

}  // namespace mq
