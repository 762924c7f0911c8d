#include "i18n/si_lang_linked.h"

namespace mq::i18n {

std::vector<std::string>* TsiLangLinked::GetPropListByType(int type) {
  if (type == stDlgsCaptions || type == stLocales) return nullptr;
  return TsiCustomLang::GetPropListByType(type);
}

void TsiLangLinked::ApplyPadLinkSettings() {
  ApplyProgramSettings();
  NeedAllDlgs = false;
  DoNotTranslate = {"ComPort"};
  SmartExcludeProps = {"TMarqsForm.Caption"};
}

}  // namespace mq::i18n
