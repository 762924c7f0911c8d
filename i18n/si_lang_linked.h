// TsiLangLinked: the pad-link form's translation component. It keeps no
// dialog captions and no locales; otherwise it behaves like TsiLangRT.
// ApplyPadLinkSettings() sets this program's values for siLang1.
// Threading: UI thread only.
#pragma once

#include "i18n/si_custom_lang.h"

namespace mq::i18n {

class TsiLangLinked : public TsiCustomLang {
 public:
  using TsiCustomLang::TsiCustomLang;

  std::vector<std::string>* GetPropListByType(int type) override;
  using TsiCustomLang::GetPropListByType;

  // Ten languages, English fallback, UTF-8 storage, delimiter 1; the serial
  // port and the form's caption are never translated.
  void ApplyPadLinkSettings();
};

}  // namespace mq::i18n
