#include "shell/settings.h"

namespace mq {

Settings Settings::Load(IniFile& file, FileReadResult* outcome) {
  FileReadResult read = file.Load();
  Settings s;
  s.Language = file.ReadInteger(kSection, "Language", 1);
  s.Languages = file.ReadString(kSection, "Languages", "1110100000");
  s.Developer = file.ReadBool(kSection, "Developer", false);
  if (outcome != nullptr) *outcome = std::move(read);
  return s;
}

void Settings::Save(IniFile& file) const {
  file.WriteStrings(
      kSection,
      {{"Language", std::to_string(Language)}, {"Languages", Languages}, {"Developer", Developer ? "1" : "0"}});
}

}  // namespace mq
