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

class DataFolder {
 public:
  static std::string Locate();
  // The POSIX rule, with the root passed in (for tests): root must be an
  // existing folder, else the result is empty.
  static std::string FromRoot(const std::string& root);
  // What a user can do when the program may not write its files in folder
  // (shown with a failed settings write): on POSIX, join the group that
  // shares the folder; on Windows, get write access to it.
  static std::string WriteAccessHint(const std::string& folder);
};

}  // namespace mq
