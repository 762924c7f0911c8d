#include "util/safe_file_reader.h"

namespace mq {

std::string FileReadResult::Reason() const {
  std::string owned;
  if (!owner.empty()) owned = " (owner " + owner + (mode.empty() ? std::string() : ", mode " + mode) + ")";
  switch (status) {
    case FileReadStatus::Read: return {};
    case FileReadStatus::Missing: return "it does not exist";
    case FileReadStatus::Link: return "it is a symbolic link" + owned;
    case FileReadStatus::NotRegular: return "it is not a regular file" + owned;
    case FileReadStatus::TooLarge: return "it is too large" + owned;
    case FileReadStatus::Failed: break;
  }
  return (systemText.empty() ? std::string("it cannot be read") : systemText) + owned;
}

}  // namespace mq
