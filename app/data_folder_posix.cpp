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

std::string DataFolder::WriteAccessHint(const std::string& folder) {
  // The installed folder is owned by root, group dialout, mode 2775: those
  // who may open the serial ports share the settings.
  return "MqTool keeps its settings in " + folder +
         ", which the members of the group \"dialout\" may write. On Linux, ask an administrator to add you "
         "to that group (sudo adduser <your user name> dialout), then log out and back in.";
}

std::string DataFolder::Locate() {
  std::string dflt = MQ_DEFAULT_DATA_FOLDER;  // "<root>/Corvane/Ledgerkit/"
  const std::string suffix = "Corvane/Ledgerkit/";
  std::string root = dflt.substr(0, dflt.size() - suffix.size());
  return FromRoot(root);
}

}  // namespace mq
