#include <sys/stat.h>

#include "app/data_folder.h"

namespace mq {

std::string DataFolder::FromRoot(const std::string& root) {
  struct stat st {};
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  std::string folder = root;
  if (folder.back() != '/') folder += '/';
  return folder + "Corvane/Ledgerkit/";
}

std::string DataFolder::Locate() {
  std::string dflt = MQ_DEFAULT_DATA_FOLDER;  // "<root>/Corvane/Ledgerkit/"
  const std::string suffix = "Corvane/Ledgerkit/";
  std::string root = dflt.substr(0, dflt.size() - suffix.size());
  return FromRoot(root);
}

}  // namespace mq
