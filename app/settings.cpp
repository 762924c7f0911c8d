#include "app/settings.h"

namespace mq {

Settings Settings::Load(const IniFile& file) {
  Settings s;
  s.Language = file.ReadInteger(kSection, "Language", 1);
  s.Languages = file.ReadString(kSection, "Languages", "1110100000");
  s.Developer = file.ReadBool(kSection, "Developer", false);
  return s;
}

void Settings::Save(IniFile& file) const {
  file.WriteInteger(kSection, "Language", Language);
  file.WriteString(kSection, "Languages", Languages);
  file.WriteBool(kSection, "Developer", Developer);
}

}  // namespace mq
